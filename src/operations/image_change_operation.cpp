#include "operations/image_change_operation.h"

#include "archive/image_path.h"
#include "operations/operation_host.h"
#include "support/ui_thread.h"

#include <QTemporaryDir>

ImageChangeOperation::ImageChangeOperation(uint32_t imageIndex, ImageChange change,
                                           std::function<void(const ImagingError &)> finished)
    : LongOperation(change.kind == ImageChange::Kind::Add ? kApplyLikeProfile : kQuickProfile)
    , m_index(imageIndex)
    , m_change(std::move(change))
    , m_finished(std::move(finished))
{}

ImageChangeOperation::~ImageChangeOperation()
{
    m_image.close();
}

QString ImageChangeOperation::FailureText(ImageChange::Kind kind)
{
    switch (kind) {
    case ImageChange::Kind::Add: return QStringLiteral("无法添加文件到映像中！");
    case ImageChange::Kind::Delete: return QStringLiteral("无法删除映像中的文件！");
    case ImageChange::Kind::Rename: return QStringLiteral("无法重命名映像中的文件！");
    case ImageChange::Kind::NewFolder: return QStringLiteral("无法在映像中新建文件夹！");
    }
    return {};
}

bool ImageChangeOperation::prepare(OperationContext &ctx)
{
    OperationHost &host = ctx.host();
    const ArchiveState state = uiThread::call(ArchiveState(), [&host] { return host.OpenArchiveState(); });
    ImagingLibrary &lib = imaging();
    // An image handle of its own: the browse dialog's lists on other threads.
    m_image.reset(lib, state.wim ? lib.WIMLoadImage(state.wim, m_index) : nullptr);
    if (!m_image) {
        ctx.failure(FailureText(m_change.kind), QStringLiteral("错误提示"),
                    state.wim ? lib.LastError() : ImagingError{ImagingError::Kind::NotFound, 0, {}});
        return false;
    }
    switch (m_change.kind) {
    case ImageChange::Kind::Add: {
        QList<WimDirEntry> existing;
        if (!lib.WIMListImageFolder(m_image.get(), m_change.folder, nullptr, &existing)) {
            ctx.failure(FailureText(m_change.kind), QStringLiteral("错误提示"), lib.LastError());
            return false;
        }
        m_updates = AddUpdates(m_change.paths, m_change.folder, existing, [&](const WimDirEntry &taken) {
            const QString text =
                QStringLiteral("映像的 %1 中已有名为“%2”的%3。\n要替换它吗？选择“否”将跳过这一项。")
                    .arg(m_change.folder, taken.name,
                         taken.type == WimDirEntry::Type::Folder ? QStringLiteral("文件夹") : QStringLiteral("文件"));
            return ctx.message(text, QStringLiteral("确认替换"), MB_YESNO | MB_ICONQUESTION) == IDYES;
        });
        // Everything skipped: nothing to write.
        return !m_updates.isEmpty();
    }
    case ImageChange::Kind::Delete:
        for (const QString &path : m_change.paths)
            m_updates.append({ImagingUpdate::Kind::Delete, {}, path, {}});
        return true;
    case ImageChange::Kind::Rename: {
        const QString path = m_change.paths.value(0);
        m_updates.append({ImagingUpdate::Kind::Rename, {}, path, JoinImagePath(ParentImagePath(path), m_change.name)});
        return true;
    }
    case ImageChange::Kind::NewFolder:
        // A folder's add makes the folder `path` with what the source holds: nothing.
        m_emptyFolder = std::make_unique<QTemporaryDir>(state.workDir + QStringLiteral("/.pellwick-folder-XXXXXX"));
        if (!m_emptyFolder->isValid()) {
            ctx.failure(FailureText(m_change.kind), QStringLiteral("错误提示"), m_emptyFolder->errorString());
            return false;
        }
        m_updates.append(
            {ImagingUpdate::Kind::Add, m_emptyFolder->path(), JoinImagePath(m_change.folder, m_change.name), {}});
        return true;
    }
    return false;
}

void ImageChangeOperation::registrationFailed(OperationContext &ctx)
{
    m_image.close();
    ctx.failure(QStringLiteral("回掉出错！"), QString(), QString());
}

bool ImageChangeOperation::work(OperationContext &ctx)
{
    ImagingLibrary &lib = imaging();
    const bool changed = lib.WIMUpdateImage(m_image.get(), m_updates);
    const ImagingError error = changed ? ImagingError{} : lib.LastError();
    m_image.close();
    m_emptyFolder.reset();
    if (!changed) {
        ctx.host().EndBusy();
        ctx.failure(FailureText(m_change.kind), QStringLiteral("错误提示"), error);
    }
    if (m_finished)
        uiThread::run([this, &error] { m_finished(error); });
    return changed || m_change.kind == ImageChange::Kind::Add;
}
