#include "operations/archive_file_operation.h"

#include "imaging/imaging_library.h"
#include "support/error_cause.h"

namespace {

constexpr LongOperation::Profile kArchiveFileProfile{
    .busyBeforeRegistering = true,
    .clearsLog = true,
    .pausesBeforeEnd = false,
    .showsLog = true,
    .unregisterFailure = LongOperation::UnregisterFailure::Reported,
};

}  // namespace

ArchiveFileOperation::ArchiveFileOperation(HWIM wim) : LongOperation(kArchiveFileProfile), m_wim(wim) {}

void ArchiveFileOperation::registrationFailed(OperationContext &ctx)
{
    ctx.failure(QStringLiteral("无法注册回掉！"), QStringLiteral("错误提示"), QString());
}

bool ArchiveFileOperation::readAttributes(OperationContext &ctx, WIM_INFO *info) const
{
    *info = WIM_INFO{};
    if (imaging().WIMGetAttributes(m_wim, info, sizeof *info))
        return true;
    reportFailure(ctx, QStringLiteral("无法正常获取文件信息！"));
    return false;
}

void ArchiveFileOperation::reportFailure(OperationContext &ctx, const QString &text)
{
    ctx.failure(text, QStringLiteral("错误提示"), imaging().LastError());
}
