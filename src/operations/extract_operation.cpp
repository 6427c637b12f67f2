#include "operations/extract_operation.h"

#include "operations/operation_host.h"
#include "support/error_cause.h"
#include "support/ui_thread.h"

#include <cerrno>

QString ExtractionFailureCause(const ImagingError &error)
{
    // The staged entries are moved into place only when none clashes with
    // what the destination holds: a folder where a file is, or the reverse.
    if (error.kind == ImagingError::Kind::Other) {
        if (error.systemError == EISDIR)
            return QStringLiteral("目标文件夹中已有同名的文件夹，不能用文件替换它");
        if (error.systemError == EEXIST)
            return QStringLiteral("目标文件夹中已有同名的文件，不能用文件夹替换它");
    }
    return errorCause(error);
}

ExtractOperation::ExtractOperation(uint32_t imageIndex, QStringList paths, QString destination)
    : LongOperation(kApplyLikeProfile)
    , m_index(imageIndex)
    , m_paths(std::move(paths))
    , m_destination(std::move(destination))
{}

ExtractOperation::ExtractOperation(uint32_t imageIndex, QStringList paths, QString destination,
                                   std::function<void(bool extracted)> extracted)
    : LongOperation(kQuickProfile)
    , m_index(imageIndex)
    , m_paths(std::move(paths))
    , m_destination(std::move(destination))
    , m_extracted(std::move(extracted))
{}

ExtractOperation::~ExtractOperation()
{
    m_image.close();
    tell(false);  // a run that ended before extracting
}

void ExtractOperation::tell(bool extracted)
{
    if (!m_extracted)
        return;
    const auto extractedHook = std::move(m_extracted);
    m_extracted = nullptr;
    uiThread::run([&] { extractedHook(extracted); });
}

void ExtractOperation::beforeRegistering(OperationContext &ctx)
{
    OperationHost &host = ctx.host();
    const ArchiveState state = uiThread::call(ArchiveState(), [&host] { return host.OpenArchiveState(); });
    ImagingLibrary &lib = imaging();
    // A failed load takes the path of a failed extraction.
    m_image.reset(lib, state.wim ? lib.WIMLoadImage(state.wim, m_index) : nullptr);
    if (!m_image)
        m_loadError = state.wim ? lib.LastError() : ImagingError{ImagingError::Kind::NotFound, 0, {}};
}

void ExtractOperation::registrationFailed(OperationContext &ctx)
{
    m_image.close();
    tell(false);
    ctx.failure(QStringLiteral("回掉出错！"), QString(), QString());
}

bool ExtractOperation::work(OperationContext &ctx)
{
    ImagingLibrary &lib = imaging();
    ImagingError error = m_loadError;
    const bool extracted = m_image && lib.WIMExtractImagePaths(m_image.get(), m_paths, m_destination);
    if (m_image && !extracted)
        error = lib.LastError();
    m_image.close();
    if (!extracted) {
        ctx.host().EndBusy();
        ctx.failure(QStringLiteral("无法提取文件到目标路径"), QStringLiteral("错误提示"),
                    ExtractionFailureCause(error));
    }
    tell(extracted);
    return true;
}
