#include "memory_imaging.h"

#include <QXmlStreamWriter>

MemoryImaging::Handle *MemoryImaging::find(HWIM handle)
{
    auto *h = reinterpret_cast<Handle *>(handle);
    return m_live.count(h) ? h : nullptr;
}

HWIM MemoryImaging::WIMCreateFile(const QString &path, uint32_t desiredAccess, uint32_t creationDisposition,
                                  uint32_t flagsAndAttributes, uint32_t compressionType, uint32_t *creationResult)
{
    calls << QStringLiteral("WIMCreateFile %1 0x%2 %3 0x%4 %5")
                 .arg(path)
                 .arg(desiredAccess, 0, 16)
                 .arg(creationDisposition)
                 .arg(flagsAndAttributes, 0, 16)
                 .arg(compressionType);
    if (refusedAccess.contains(desiredAccess))
        return nullptr;
    if (creationDisposition == WIM_CREATE_ALWAYS) {
        if (failCreate)
            return nullptr;
        Archive created;
        created.compression = compressionType;
        archives.insert(path, created);
    } else if (!archives.contains(path)) {
        return nullptr;
    }
    if (creationResult)
        *creationResult = creationDisposition == WIM_CREATE_ALWAYS ? WIM_CREATED_NEW : WIM_OPENED_EXISTING;
    m_all.push_back(std::make_unique<Handle>(Handle{path, 0}));
    m_live.insert(m_all.back().get());
    return reinterpret_cast<HWIM>(m_all.back().get());
}

bool MemoryImaging::WIMCloseHandle(HWIM handle)
{
    Handle *h = find(handle);
    if (!h) {
        ++m_badCloses;
        calls << QStringLiteral("WIMCloseHandle <bad>");
        return false;
    }
    calls << (h->image ? QStringLiteral("WIMCloseHandle image %1").arg(h->image)
                       : QStringLiteral("WIMCloseHandle archive"));
    m_live.erase(h);
    return true;
}

bool MemoryImaging::WIMSetTemporaryPath(HWIM wim, const QString &path)
{
    calls << QStringLiteral("WIMSetTemporaryPath ") + path;
    return find(wim) && !failTemporaryPath;
}

bool MemoryImaging::WIMGetAttributes(HWIM wim, WIM_INFO *info, uint32_t cbInfo)
{
    calls << QStringLiteral("WIMGetAttributes %1").arg(cbInfo);
    const Handle *h = find(wim);
    if (!h || cbInfo < sizeof(WIM_INFO))
        return false;
    const Archive &archive = archives[h->path];
    info->ImageCount = uint32_t(archive.xml.size());
    info->CompressionType = archive.compression;
    info->BootIndex = archive.bootIndex;
    return true;
}

HWIM MemoryImaging::WIMLoadImage(HWIM wim, uint32_t index)
{
    calls << QStringLiteral("WIMLoadImage %1").arg(index);
    const Handle *h = find(wim);
    if (!h || index == 0 || index > uint32_t(archives[h->path].xml.size()))
        return nullptr;
    m_all.push_back(std::make_unique<Handle>(Handle{h->path, index}));
    m_live.insert(m_all.back().get());
    return reinterpret_cast<HWIM>(m_all.back().get());
}

bool MemoryImaging::WIMGetImageInformation(HWIM image, QString *xml, uint32_t *byteCount)
{
    const Handle *h = find(image);
    calls << QStringLiteral("WIMGetImageInformation %1").arg(h ? h->image : 0);
    if (!h || !h->image)
        return false;
    *xml = archives[h->path].xml.at(h->image - 1);
    if (byteCount)
        *byteCount = uint32_t(xml->size() * 2);
    return true;
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
