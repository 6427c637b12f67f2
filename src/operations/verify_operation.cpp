#include "operations/verify_operation.h"

#include "operations/operation_host.h"
#include "support/ui_thread.h"

QStringList VerifyReportLines(const ImagingVerifyResult &result)
{
    QStringList lines;
    for (const ImagingDamagedFile &file : result.damaged) {
        lines << (file.path.isEmpty() ? QStringLiteral("损坏: 映像 %1 的目录结构").arg(file.image)
                                      : QStringLiteral("损坏: 映像 %1 %2").arg(file.image).arg(file.path));
    }
    for (const QString &other : result.otherDamage)
        lines << QStringLiteral("问题: ") + other;
    return lines;
}

QString VerifyVerdict(const ImagingVerifyResult &result)
{
    if (result.whole)
        return QStringLiteral("校验通过，映像文件完好无损。");
    if (!result.damaged.isEmpty()) {
        return QStringLiteral("映像文件已损坏：%1 个文件的数据有误，详见随后的输出信息。").arg(result.damaged.size());
    }
    return QStringLiteral("映像文件已损坏，详见随后的输出信息。");
}

VerifyOperation::VerifyOperation(HWIM wim) : ArchiveFileOperation(wim) {}

bool VerifyOperation::work(OperationContext &ctx)
{
    m_checked = imaging().WIMVerifyFile(m_wim, &m_result);
    if (!m_checked) {
        reportFailure(ctx, QStringLiteral("无法校验映像文件！"));
        return true;
    }
    const QStringList lines = VerifyReportLines(m_result);
    OperationHost &host = ctx.host();
    uiThread::run([&host, &lines] {
        for (const QString &line : lines)
            host.AppendLogText(line);
    });
    return true;
}

void VerifyOperation::finishing(OperationContext &ctx)
{
    if (m_checked)
        ctx.message(VerifyVerdict(m_result), m_result.whole ? QStringLiteral("温馨提示") : QStringLiteral("警告"));
}
