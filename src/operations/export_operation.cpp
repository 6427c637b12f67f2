#include "operations/export_operation.h"

#include "imaging/imaging_library.h"
#include "operations/operation_host.h"
#include "operations/operations_log.h"
#include "support/failure_report.h"
#include "support/ui_thread.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// What the library reports during an export is shown at its end, and nothing
// left over from an earlier operation.
constexpr LongOperation::Profile kExportProfile{
    .busyBeforeRegistering = true,
    .clearsLog = true,
    .pausesBeforeEnd = false,
    .showsLog = true,
    .unregisterFailure = LongOperation::UnregisterFailure::Ignored,
};

// True when both paths name one existing file, through links too.
bool sameFile(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QString ca = QFileInfo(a).canonicalFilePath();
    if (!ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath())
        return true;
    struct stat sa;
    struct stat sb;
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0
           && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

ExportTarget ExportTargetFor(const QString &destination, qint16 sourceCompression)
{
    if (destination.endsWith(QLatin1String(".esd"), Qt::CaseInsensitive))
        return {WIM_FLAG_SOLID, WIM_COMPRESS_LZMS};
    switch (sourceCompression) {
    case WIM_COMPRESS_NONE:
    case WIM_COMPRESS_XPRESS:
    case WIM_COMPRESS_LZX: return {0, uint32_t(sourceCompression)};
    default: return {0, WIM_COMPRESS_LZX};
    }
}

bool OpenExportHandles(OperationHost &host, ExportHandles *handles)
{
    QObject *owner = host.PromptOwner();
    FileChooser chooser;
    // A new destination takes its form from the type chosen here.
    chooser.filter = QStringLiteral("Wim镜像(*.wim)|*.wim|ESD镜像(*.esd)|*.esd||");
    chooser.defaultExtension = QStringLiteral("wim");
    chooser.initialName = QStringLiteral("Wim镜像");
    chooser.overwritePrompt = false;  // an existing archive receives the image
    const QString destination = uiThread::saveFile(owner, chooser);
    if (destination.isEmpty())
        return false;

    const ArchiveState state = host.OpenArchiveState();
    // A second handle on the open archive would write the file behind the
    // first one's back, and the open handle's next change could drop the image.
    if (state.wim && sameFile(destination, state.filePath)) {
        uiThread::messageBox(owner, QStringLiteral("不能导出到当前打开的文件！"), QStringLiteral("错误提示"));
        return false;
    }

    ImagingLibrary &lib = imaging();
    WimHandle image(lib, lib.WIMLoadImage(state.wim, uint32_t(state.selectedRow + 1)));
    if (!image) {
        reportFailure(lcOperations, owner, QStringLiteral("当前文件无法加载！"), QStringLiteral("错误提示"),
                      lib.LastError());
        return false;
    }
    uint32_t creationResult = 0;
    const ExportTarget form = ExportTargetFor(destination, state.compression);
    WimHandle target(lib, lib.WIMCreateFile(destination, WIM_GENERIC_READ_WRITE, WIM_OPEN_ALWAYS, form.flags,
                                            form.compression, &creationResult));
    if (!target) {
        const ImagingError why = lib.LastError();
        image.close();
        reportFailure(lcOperations, owner, QStringLiteral("目标文件无法打开！"), QStringLiteral("错误提示"), why);
        return false;
    }
    if (!lib.WIMSetTemporaryPath(target.get(), state.workDir)) {
        const ImagingError why = lib.LastError();
        image.close();
        target.close();
        reportFailure(lcOperations, owner, QStringLiteral("无法设置临时目录！"), QStringLiteral("错误提示"), why);
        return false;
    }
    handles->destination = target.release();
    handles->image = image.release();
    return true;
}

ExportOperation::ExportOperation(const ExportHandles &handles)
    : LongOperation(kExportProfile), m_image(imaging(), handles.image), m_destination(imaging(), handles.destination)
{}

void ExportOperation::closeHandles()
{
    m_image.close();
    m_destination.close();
}

void ExportOperation::registrationFailed(OperationContext &ctx)
{
    ctx.failure(QStringLiteral("无法注册回掉！"), QStringLiteral("错误提示"), imaging().LastError());
    closeHandles();
}

bool ExportOperation::work(OperationContext &ctx)
{
    if (!imaging().WIMExportImage(m_image.get(), m_destination.get(), WIM_EXPORT_ALLOW_DUPLICATES))
        ctx.failure(QStringLiteral("文件导出失败！"), QStringLiteral("错误提示"), imaging().LastError());
    closeHandles();
    return true;
}
