#include "memory_imaging.h"

#include <QXmlStreamWriter>

namespace {
// Why the calling thread's last call failed without a planned failure.
thread_local ImagingError t_refused;

template <typename T>
T refuse(const char *call, T result, ImagingError::Kind kind = ImagingError::Kind::Other)
{
    const QString why = kind == ImagingError::Kind::Unsupported
                            ? QStringLiteral("%1: not modelled by the in-memory library")
                            : QStringLiteral("%1: refused by the in-memory library");
    t_refused = {kind, 0, why.arg(QLatin1String(call))};
    return result;
}
}  // namespace

MemoryImaging::Handle *MemoryImaging::find(HWIM handle)
{
    std::lock_guard lock(m_mutex);
    auto *h = reinterpret_cast<Handle *>(handle);
    return m_live.count(h) ? h : nullptr;
}

HWIM MemoryImaging::handOut(const QString &path, uint32_t image)
{
    std::lock_guard lock(m_mutex);
    m_all.push_back(std::make_unique<Handle>(Handle{path, image}));
    m_live.insert(m_all.back().get());
    return reinterpret_cast<HWIM>(m_all.back().get());
}

void MemoryImaging::note(const QString &call)
{
    std::lock_guard lock(m_mutex);
    calls << call;
}

bool MemoryImaging::planned(Call call)
{
    t_refused = {};
    return shouldFail(call);
}

bool MemoryImaging::unmodelled(Call call)
{
    if (planned(call))
        return false;
    return unmodelled(callName(call));
}

bool MemoryImaging::unmodelled(const char *call)
{
    return refuse(call, false, ImagingError::Kind::Unsupported);
}

HWIM MemoryImaging::open(const QString &path)
{
    if (!archives.contains(path))
        archives.insert(path, Archive{});
    return handOut(path, 0);
}

HWIM MemoryImaging::fakeHandle()
{
    static char token;
    return reinterpret_cast<HWIM>(&token);
}

int MemoryImaging::openHandles() const
{
    std::lock_guard lock(m_mutex);
    return int(m_live.size());
}

int MemoryImaging::badCloses() const
{
    std::lock_guard lock(m_mutex);
    return m_badCloses;
}

HWIM MemoryImaging::WIMCreateFile(const QString &path, uint32_t desiredAccess, uint32_t creationDisposition,
                                  uint32_t flagsAndAttributes, uint32_t compressionType, uint32_t *creationResult)
{
    note(QStringLiteral("WIMCreateFile %1 0x%2 %3 0x%4 %5")
             .arg(path)
             .arg(desiredAccess, 0, 16)
             .arg(creationDisposition)
             .arg(flagsAndAttributes, 0, 16)
             .arg(compressionType));
    if (planned(Call::CreateFile))
        return nullptr;
    if (refusedAccess.contains(desiredAccess))
        return refuse<HWIM>("WIMCreateFile", nullptr);
    if (creationDisposition == WIM_CREATE_ALWAYS) {
        Archive created;
        created.compression = compressionType;
        archives.insert(path, created);
    } else if (!archives.contains(path)) {
        return refuse<HWIM>("WIMCreateFile", nullptr);
    }
    if (creationResult)
        *creationResult = creationDisposition == WIM_CREATE_ALWAYS ? WIM_CREATED_NEW : WIM_OPENED_EXISTING;
    return handOut(path, 0);
}

bool MemoryImaging::WIMCloseHandle(HWIM handle)
{
    const bool failing = planned(Call::CloseHandle);
    Handle *h = find(handle);
    if (!h) {
        std::lock_guard lock(m_mutex);
        ++m_badCloses;
        calls << QStringLiteral("WIMCloseHandle <bad>");
        return refuse("WIMCloseHandle", false);
    }
    std::lock_guard lock(m_mutex);
    calls << (h->image ? QStringLiteral("WIMCloseHandle image %1").arg(h->image)
                       : QStringLiteral("WIMCloseHandle archive"));
    // A failed close still releases the handle, as the decorator's does.
    m_live.erase(h);
    if (failing)
        return false;
    ++closed;
    return true;
}

bool MemoryImaging::WIMSetTemporaryPath(HWIM wim, const QString &path)
{
    note(QStringLiteral("WIMSetTemporaryPath ") + path);
    if (planned(Call::SetTemporaryPath))
        return false;
    return find(wim) || refuse("WIMSetTemporaryPath", false);
}

bool MemoryImaging::WIMGetAttributes(HWIM wim, WIM_INFO *info, uint32_t cbInfo)
{
    note(QStringLiteral("WIMGetAttributes %1").arg(cbInfo));
    if (planned(Call::GetAttributes))
        return false;
    const Handle *h = find(wim);
    if (!h || cbInfo < sizeof(WIM_INFO))
        return refuse("WIMGetAttributes", false);
    const Archive &archive = archives[h->path];
    info->ImageCount = uint32_t(archive.xml.size());
    info->CompressionType = archive.compression;
    info->BootIndex = archive.bootIndex;
    return true;
}

HWIM MemoryImaging::WIMLoadImage(HWIM wim, uint32_t index)
{
    note(QStringLiteral("WIMLoadImage %1").arg(index));
    if (planned(Call::LoadImage))
        return nullptr;
    const Handle *h = find(wim);
    if (!h || index == 0 || index > uint32_t(archives[h->path].xml.size()))
        return refuse<HWIM>("WIMLoadImage", nullptr);
    return handOut(h->path, index);
}

bool MemoryImaging::WIMGetImageInformation(HWIM image, QString *xml, uint32_t *byteCount)
{
    const Handle *h = find(image);
    note(QStringLiteral("WIMGetImageInformation %1").arg(h ? h->image : 0));
    if (planned(Call::GetImageInformation))
        return false;
    if (!h || !h->image)
        return refuse("WIMGetImageInformation", false);
    *xml = archives[h->path].xml.at(h->image - 1);
    if (byteCount)
        *byteCount = uint32_t(xml->size() * 2);
    return true;
}

bool MemoryImaging::WIMSetImageInformation(HWIM, const QString &, uint32_t)
{
    return unmodelled(Call::SetImageInformation);
}

HWIM MemoryImaging::WIMCaptureImage(HWIM, const QString &, uint32_t)
{
    unmodelled(Call::CaptureImage);
    return nullptr;
}

bool MemoryImaging::WIMApplyImage(HWIM, const QString &, uint32_t)
{
    return unmodelled(Call::ApplyImage);
}

bool MemoryImaging::WIMExportImage(HWIM, HWIM, uint32_t)
{
    return unmodelled(Call::ExportImage);
}

bool MemoryImaging::WIMDeleteImage(HWIM, uint32_t)
{
    return unmodelled(Call::DeleteImage);
}

bool MemoryImaging::WIMSetBootImage(HWIM, uint32_t)
{
    return unmodelled(Call::SetBootImage);
}

uint32_t MemoryImaging::WIMRegisterMessageCallback(HWIM, WIMMessageCallback, void *)
{
    if (planned(Call::RegisterMessageCallback))
        return INVALID_CALLBACK_VALUE;
    ++registered;
    return 0;
}

bool MemoryImaging::WIMUnregisterMessageCallback(HWIM, WIMMessageCallback)
{
    if (planned(Call::UnregisterMessageCallback))
        return false;
    ++unregistered;
    return true;
}

QString MemoryImaging::LastErrorText() const
{
    return injected().isEmpty() ? t_refused.text : injected();
}

ImagingError MemoryImaging::LastError() const
{
    return injected().isEmpty() ? t_refused : injectedError();
}

bool MemoryImaging::WIMRefreshFile(HWIM wim, bool *changed)
{
    if (planned(Call::RefreshFile))
        return false;
    if (!find(wim))
        return refuse("WIMRefreshFile", false);
    if (changed)
        *changed = false;
    return true;
}

bool MemoryImaging::WIMListImageFolder(HWIM, const QString &, WimDirEntry *, QList<WimDirEntry> *)
{
    return unmodelled("WIMListImageFolder");
}

bool MemoryImaging::WIMVisitImageTree(HWIM, const QString &, const WimDirVisitor &)
{
    return unmodelled("WIMVisitImageTree");
}

bool MemoryImaging::WIMExtractImagePaths(HWIM, const QStringList &, const QString &)
{
    return unmodelled("WIMExtractImagePaths");
}

bool MemoryImaging::WIMSplitFile(HWIM, const QString &, uint64_t, uint32_t)
{
    return unmodelled(Call::SplitFile);
}

bool MemoryImaging::WIMSplitOversizedFiles(HWIM, uint64_t, QList<ImagingOversizedFile> *)
{
    return unmodelled(Call::SplitOversizedFiles);
}

bool MemoryImaging::WIMVerifyFile(HWIM, ImagingVerifyResult *)
{
    return unmodelled(Call::VerifyFile);
}

bool MemoryImaging::WIMOptimizeFile(HWIM)
{
    return unmodelled(Call::OptimizeFile);
}

HWIM MemoryImaging::WIMCaptureImageWithInformation(HWIM, const QString &, uint32_t, const QString &, uint32_t)
{
    unmodelled(Call::CaptureImage);
    return nullptr;
}

bool MemoryImaging::WIMUpdateImage(HWIM, const QList<ImagingUpdate> &)
{
    return unmodelled(Call::UpdateImage);
}

bool MemoryImaging::WIMMountImage(HWIM, const QString &, uint32_t, const QString &)
{
    return unmodelled("WIMMountImage");
}

bool MemoryImaging::WIMUnmountImage(const QString &, uint32_t)
{
    return unmodelled("WIMUnmountImage");
}

QString MemoryImaging::imageXml(uint32_t index, const QString &name, const QString &displayName, quint64 totalBytes)
{
    QString out;
    QXmlStreamWriter writer(&out);
    writer.writeStartElement(QStringLiteral("IMAGE"));
    writer.writeAttribute(QStringLiteral("INDEX"), QString::number(index));
    writer.writeTextElement(QStringLiteral("TOTALBYTES"), QString::number(totalBytes));
    writer.writeTextElement(QStringLiteral("HARDLINKBYTES"), QStringLiteral("0"));
    if (!name.isNull())
        writer.writeTextElement(QStringLiteral("NAME"), name);
    if (!displayName.isNull())
        writer.writeTextElement(QStringLiteral("DISPLAYNAME"), displayName);
    writer.writeEndElement();
    return QString(QChar(0xFEFF)) + out;
}
