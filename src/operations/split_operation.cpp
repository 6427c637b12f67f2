#include "operations/split_operation.h"

#include "imaging/imaging_library.h"
#include "operations/operation_host.h"
#include "support/ui_thread.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

bool ParsePartSizeMb(const QString &text, uint64_t *megabytes)
{
    static const QRegularExpression form(QStringLiteral("^\\s*([0-9]{1,10})\\s*(?:[mM][bB]?)?\\s*$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    const uint64_t value = match.captured(1).toULongLong();
    if (value < 1 || value > kMaxPartSizeMb)
        return false;
    *megabytes = value;
    return true;
}

QString SplitRefusal(const WIM_INFO &info)
{
    if (info.TotalParts > 1)
        return QStringLiteral("当前文件已经是分卷映像，不能再拆分！");
    // Solid resources cannot be cut between parts.
    if (info.CompressionType == WIM_COMPRESS_LZMS)
        return QStringLiteral("ESD（LZMS 压缩）映像文件不能拆分，请先将映像导出为 WIM 文件，再拆分导出的文件！");
    return {};
}

QString SplitOversizedQuestion(const QList<ImagingOversizedFile> &files, uint64_t partBytes)
{
    const auto megabytes = [](uint64_t bytes) {
        return QString::number(double(bytes) / (1024 * 1024), 'f', 1) + QStringLiteral(" MB");
    };
    constexpr qsizetype kListed = 10;
    QString text = QStringLiteral("一个文件的数据不会被拆到两个分卷中，以下文件的数据大于所设的分卷大小（%1 MB），"
                                  "存放它们的分卷将超过该大小：\n")
                       .arg(partBytes / (1024 * 1024));
    for (qsizetype i = 0; i < files.size() && i < kListed; ++i) {
        const ImagingOversizedFile &file = files[i];
        text += file.path.isEmpty()
                    ? QStringLiteral("第 %1 个分卷：映像的目录信息（%2）\n").arg(file.part).arg(megabytes(file.bytes))
                    : QStringLiteral("第 %1 个分卷：映像 %2 中的 %3（%4）\n")
                          .arg(file.part)
                          .arg(file.image)
                          .arg(file.path, megabytes(file.bytes));
    }
    if (files.size() > kListed)
        text += QStringLiteral("……另有 %1 个文件\n").arg(files.size() - kListed);
    if (partBytes == kDefaultPartSizeMb * 1024 * 1024)
        text += QStringLiteral("默认的分卷大小是为 FAT32 格式的 U 盘设的：超过 4096 MB 的分卷无法存放在 FAT32 上。\n");
    return text + QStringLiteral("是否仍要继续拆分？");
}

SplitOperation::SplitOperation(HWIM wim, const QString &archivePath)
    : ArchiveFileOperation(wim), m_archivePath(archivePath)
{}

bool SplitOperation::prepare(OperationContext &ctx)
{
    WIM_INFO info;
    if (!readAttributes(ctx, &info))
        return false;
    if (const QString refusal = SplitRefusal(info); !refusal.isEmpty()) {
        ctx.message(refusal, QStringLiteral("错误提示"));
        return false;
    }
    const QFileInfo archive(m_archivePath);
    FileChooser chooser;
    chooser.filter = QStringLiteral("分卷映像(*.swm)|*.swm||");
    chooser.defaultExtension = QStringLiteral("swm");
    // Beside the archive, under its name: install.wim gives install.swm.
    chooser.initialName = archive.dir().filePath(archive.completeBaseName());
    chooser.overwritePrompt = true;
    m_firstPart = uiThread::saveFile(ctx.host().PromptOwner(), chooser);
    return !m_firstPart.isEmpty() && askPartSize(ctx) && confirmOversized(ctx);
}

bool SplitOperation::askPartSize(OperationContext &ctx)
{
    QString text = QString::number(kDefaultPartSizeMb);
    for (;;) {
        if (ctx.aborted()
            || !uiThread::inputText(ctx.host().PromptOwner(), QStringLiteral("拆分映像文件"),
                                    QStringLiteral("每个分卷的最大大小（MB）：\n"
                                                   "（FAT32 格式的 U 盘上，单个文件不能超过 4096 MB）"),
                                    &text))
            return false;
        uint64_t megabytes = 0;
        if (ParsePartSizeMb(text, &megabytes)) {
            m_partBytes = megabytes * 1024 * 1024;
            return true;
        }
        ctx.message(QStringLiteral("分卷大小无效，请输入 1 到 %1 之间的整数（单位 MB）！").arg(kMaxPartSizeMb),
                    QStringLiteral("错误提示"));
    }
}

bool SplitOperation::confirmOversized(OperationContext &ctx)
{
    QList<ImagingOversizedFile> files;
    // When this cannot be told, the split itself says what is wrong.
    if (!imaging().WIMSplitOversizedFiles(m_wim, m_partBytes, &files) || files.isEmpty())
        return true;
    return ctx.message(SplitOversizedQuestion(files, m_partBytes), QStringLiteral("温馨提示"),
                       MB_OKCANCEL | MB_ICONQUESTION)
           == IDOK;
}

bool SplitOperation::work(OperationContext &ctx)
{
    if (!imaging().WIMSplitFile(m_wim, m_firstPart, m_partBytes, 0))
        reportFailure(ctx, QStringLiteral("映像文件拆分失败！"));
    return true;
}
