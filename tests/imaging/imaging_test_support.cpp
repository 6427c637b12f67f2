#include "imaging_test_support.h"

#include "imaging/wimlib_xml.h"
#include "test_archives.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace imagingtest {

namespace {
bool put(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
}  // namespace

bool makeSampleTree(const QString &root)
{
    bool ok = QDir().mkpath(root + QStringLiteral("/empty folder"));
    ok &= put(root + QStringLiteral("/readme.txt"), "plain text\n");
    ok &= put(root + QStringLiteral("/empty.bin"), QByteArray());
    ok &= put(root + QStringLiteral("/a/b/c/deep.dat"), noise(70000, 1));
    ok &= put(root + QStringLiteral("/a/b/empty inside"), QByteArray());
    ok &= put(root + QStringLiteral("/中文目录/文件名.txt"), QStringLiteral("中文内容").toUtf8());
    ok &= put(root + QStringLiteral("/Ünïcødé ñame €.txt"), "unicode\n");
    ok &= put(root + QStringLiteral("/emoji 😀.txt"), "outside the BMP\n");
    ok &= ::link(QFile::encodeName(root + QStringLiteral("/readme.txt")).constData(),
                 QFile::encodeName(root + QStringLiteral("/a/readme hard link.txt")).constData())
          == 0;
    ok &= QFile::link(QStringLiteral("../readme.txt"), root + QStringLiteral("/a/readme symlink"));
    return ok;
}

bool makeDataTree(const QString &root, int files, int size)
{
    bool ok = true;
    for (int i = 0; i < files; ++i)
        ok &= put(QStringLiteral("%1/d%2/f%3.bin").arg(root).arg(i % 4).arg(i), noise(size / files, quint32(100 + i)));
    return ok;
}

bool renameInArchive(const QString &wim, const QMap<QString, QString> &names)
{
    QFile f(wim);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = f.readAll();
    // A resource header: 7 bytes of stored size, 1 of flags, offset, original size.
    const auto header = [&bytes](qsizetype at, quint64 *size, quint8 *flags, quint64 *offset) {
        *size = qFromLittleEndian<quint64>(bytes.constData() + at) & 0x00FFFFFFFFFFFFFFull;
        *flags = quint8(bytes[at + 7]);
        *offset = qFromLittleEndian<quint64>(bytes.constData() + at + 8);
    };
    quint64 tableSize, tableOffset, size, offset;
    quint8 flags;
    header(48, &tableSize, &flags, &tableOffset);  // the blob table's header
    int renamed = 0;
    for (quint64 entry = tableOffset; entry + 50 <= tableOffset + tableSize; entry += 50) {
        header(qsizetype(entry), &size, &flags, &offset);
        if (!(flags & 0x02))  // metadata
            continue;
        QByteArray metadata = bytes.mid(qsizetype(offset), qsizetype(size));
        for (auto it = names.cbegin(); it != names.cend(); ++it) {
            const QByteArray from(reinterpret_cast<const char *>(it.key().utf16()), it.key().size() * 2);
            const QByteArray to(reinterpret_cast<const char *>(it.value().utf16()), it.value().size() * 2);
            if (from.size() != to.size() || metadata.count(from) != 1)
                continue;
            metadata.replace(from, to);
            ++renamed;
        }
        bytes.replace(qsizetype(offset), metadata.size(), metadata);
        bytes.replace(qsizetype(entry) + 30, 20, QCryptographicHash::hash(metadata, QCryptographicHash::Sha1));
    }
    return renamed == names.size() && f.seek(0) && f.write(bytes) == bytes.size();
}

bool damageStoredCopy(const QString &wim, const QString &file)
{
    const QByteArray data = fileBytes(file);
    const QByteArray needle = data.mid(data.size() / 2, 64);
    QFile f(wim);
    if (needle.size() < 64 || !f.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = f.readAll();
    const qsizetype at = bytes.indexOf(needle);
    if (at < 0 || bytes.indexOf(needle, at + 1) >= 0)
        return false;
    bytes[at + 10] = char(bytes[at + 10] ^ 0x5A);
    return f.seek(0) && f.write(bytes) == bytes.size();
}

QMap<QString, QByteArray> treeOf(const QString &root)
{
    QMap<QString, QByteArray> tree = testarchives::readTree(root);
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        if (!it.value().startsWith("-> "))
            continue;
        char target[4096];
        const ssize_t n =
            ::readlink(QFile::encodeName(root + QLatin1Char('/') + it.key()).constData(), target, sizeof target);
        it.value() = "-> " + QByteArray(target, n > 0 ? int(n) : 0);
    }
    return tree;
}

QString imageName(ImagingLibrary &lib, HWIM wim, uint32_t index)
{
    WimHandle image(lib, lib.WIMLoadImage(wim, index));
    QString xml;
    if (!image || !lib.WIMGetImageInformation(image.get(), &xml, nullptr))
        return QStringLiteral("<unreadable>");
    const auto texts = wimxml::editableTexts(xml);
    return texts ? texts->name : QStringLiteral("<malformed>");
}

HWIM openWim(ImagingLibrary &lib, const QString &path, uint32_t access)
{
    return lib.WIMCreateFile(path, access, WIM_OPEN_EXISTING, WIM_FLAG_SHARE_WRITE, WIM_COMPRESS_LZX, nullptr);
}

HWIM createWim(ImagingLibrary &lib, const QString &path, uint32_t compression)
{
    return lib.WIMCreateFile(path, WIM_GENERIC_READ_WRITE, WIM_CREATE_ALWAYS, WIM_FLAG_SHARE_WRITE, compression,
                             nullptr);
}

uint32_t imageCount(ImagingLibrary &lib, HWIM wim)
{
    WIM_INFO info{};
    return lib.WIMGetAttributes(wim, &info, sizeof info) ? info.ImageCount : 0xFFFFFFFFu;
}

uint32_t bootIndex(ImagingLibrary &lib, HWIM wim)
{
    WIM_INFO info{};
    return lib.WIMGetAttributes(wim, &info, sizeof info) ? info.BootIndex : 0xFFFFFFFFu;
}

ScopedMount ScopedMount::tmpfs(const QString &path, const QByteArray &options)
{
    ScopedMount m(path);
    QDir().mkpath(path);
    m.m_mounted = ::mount("tmpfs", m.m_path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0;
    return m;
}

ScopedMount ScopedMount::bind(const QString &source, const QString &path, bool readOnly)
{
    ScopedMount m(path);
    QDir().mkpath(path);
    m.m_mounted = ::mount(QFile::encodeName(source).constData(), m.m_path.constData(), nullptr, MS_BIND, nullptr) == 0;
    // A bind mount takes read-only only when remounted.
    if (m.m_mounted && readOnly
        && ::mount(nullptr, m.m_path.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        ::umount2(m.m_path.constData(), MNT_DETACH);
        m.m_mounted = false;
    }
    return m;
}

ScopedMount::ScopedMount(ScopedMount &&other) noexcept : m_path(other.m_path), m_mounted(other.m_mounted)
{
    other.m_mounted = false;
}

ScopedMount::~ScopedMount()
{
    if (m_mounted)
        ::umount2(m_path.constData(), MNT_DETACH);
}

qint64 ScopedMount::freeBytes() const
{
    struct statvfs fs;
    return ::statvfs(m_path.constData(), &fs) == 0 ? qint64(fs.f_bavail) * qint64(fs.f_frsize) : -1;
}

qint64 ScopedMount::blockBytes() const
{
    struct statvfs fs;
    return ::statvfs(m_path.constData(), &fs) == 0 ? qint64(fs.f_frsize) : -1;
}

}  // namespace imagingtest
