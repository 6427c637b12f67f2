#include "operations/optimize_operation.h"

#include "imaging/imaging_library.h"
#include "operations/operation_host.h"
#include "support/ui_thread.h"

QString OptimizeRefusal(const WIM_INFO &info, qint16 access)
{
    if (info.TotalParts > 1)
        return QStringLiteral("分卷映像文件不能优化！");
    if (access != 2)
        return QStringLiteral("当前文件只能读取，不能优化！");
    return {};
}

OptimizeOperation::OptimizeOperation(HWIM wim, qint16 access) : ArchiveFileOperation(wim), m_access(access) {}

bool OptimizeOperation::prepare(OperationContext &ctx)
{
    WIM_INFO info;
    if (!readAttributes(ctx, &info))
        return false;
    const QString refusal = OptimizeRefusal(info, m_access);
    if (refusal.isEmpty())
        return true;
    ctx.message(refusal, QStringLiteral("错误提示"));
    return false;
}

bool OptimizeOperation::work(OperationContext &ctx)
{
    if (!imaging().WIMOptimizeFile(m_wim)) {
        reportFailure(ctx, QStringLiteral("映像文件优化失败，原文件保持不变！"));
        return true;
    }
    OperationHost &host = ctx.host();
    uiThread::run([&host] { host.LoadImageList(); });
    return true;
}
