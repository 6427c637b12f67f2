#include "support/platform.h"

#include "support/shell_quote.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace platform {

namespace {

struct Mount {
    QString point;
    QString source;
    QString type;
    bool readOnly = false;
    QStringList flags;
};

// The per-mount flags that mount takes back for any filesystem.
QStringList keptFlags(const QByteArray &options)
{
    static const QList<QByteArray> kept{"nosuid", "nodev", "noexec", "noatime", "nodiratime"};
    QStringList flags;
    for (const QByteArray &option : options.split(',')) {
        if (kept.contains(option))
            flags << QString::fromLatin1(option);
    }
    return flags;
}

// mountinfo writes space, tab, newline and backslash as \ooo.
QString unescapeMountField(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int v = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(char(v));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QString::fromUtf8(out);
}

QList<Mount> readMounts()
{
    QList<Mount> mounts;
    QFile f(QStringLiteral("/proc/self/mountinfo"));
    if (!f.open(QIODevice::ReadOnly))
        return mounts;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        const int dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 0 || dash + 2 >= fields.size())
            continue;
        mounts.append({unescapeMountField(fields[4]), unescapeMountField(fields[dash + 2]),
                       QString::fromUtf8(fields[dash + 1]), fields[5].split(',').contains("ro"), keptFlags(fields[5])});
    }
    return mounts;
}

QString canonical(const QString &path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(QDir(path).absolutePath()) : c;
}

bool isUnder(const QString &path, const QString &mountPoint)
{
    if (mountPoint == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == mountPoint || path.startsWith(mountPoint + QLatin1Char('/'));
}

const Mount *findMount(const QList<Mount> &mounts, const QString &canonicalPath)
{
    const Mount *best = nullptr;
    for (const Mount &m : mounts) {
        if (isUnder(canonicalPath, m.point) && (!best || m.point.size() >= best->point.size()))
            best = &m;  // later entries of the same point shadow earlier ones
    }
    return best;
}

}  // namespace

QString defaultWorkDirectory()
{
    return withoutTrailingSeparator(QDir::tempPath());
}

QString executableDirectory()
{
    QString dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString systemDriveRoot()
{
    return QStringLiteral("/");
}

QString mountPointOf(const QString &path)
{
    const QList<Mount> mounts = readMounts();
    const Mount *m = findMount(mounts, canonical(path));
    return m ? m->point : QStringLiteral("/");
}

bool isDriveRoot(const QString &path)
{
    if (path.isEmpty())
        return false;
    if (isSystemDriveRoot(path))
        return true;
    const QString c = canonical(path);
    const QList<Mount> mounts = readMounts();
    const Mount *m = findMount(mounts, c);
    // A single file bind-mounted from a disk (containers do this) is no drive.
    return m && m->point == c && m->source.startsWith(QLatin1String("/dev/")) && QFileInfo(c).isDir();
}

bool isSystemDriveRoot(const QString &path)
{
    return !path.isEmpty() && canonical(path) == QLatin1String("/");
}

bool sameDrive(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    return mountPointOf(a) == mountPointOf(b);
}

QString withoutTrailingSeparator(const QString &path)
{
    if (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        return path.left(path.size() - 1);
    return path;
}

QString normalizedFolderPath(const QString &path)
{
    if (path.isEmpty())
        return path;
    QStringList parts;
    for (const QString &part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part != QLatin1String("."))
            parts << part;
    }
    const QString joined = parts.join(QLatin1Char('/'));
    if (path.startsWith(QLatin1Char('/')))
        return QLatin1Char('/') + joined;
    return joined.isEmpty() ? QStringLiteral(".") : joined;
}

QString driveRelativePath(const QString &path)
{
    const QString c = canonical(path);
    const QString mount = mountPointOf(c);
    QString rel = mount == QLatin1String("/") ? c : c.mid(mount.size());
    if (rel.isEmpty())
        rel = QStringLiteral("/");
    rel.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return rel;
}

QString deviceOfMountPoint(const QString &mountPoint)
{
    const QString c = canonical(mountPoint);
    const QList<Mount> mounts = readMounts();
    const Mount *m = findMount(mounts, c);
    if (!m || m->point != c)
        return {};
    return m->source;
}

std::optional<MountEntry> mountAt(const QString &mountPoint)
{
    const QString c = canonical(mountPoint);
    const QList<Mount> mounts = readMounts();
    const Mount *m = findMount(mounts, c);
    if (!m || m->point != c)
        return std::nullopt;
    return MountEntry{m->point, m->source, m->type, m->readOnly, m->flags};
}

bool isSystemFolder(const QString &dir)
{
    const QString c = canonical(dir) + QLatin1Char('/');
    for (const char *prefix :
         {"/usr/", "/bin/", "/sbin/", "/lib/", "/lib32/", "/lib64/", "/libx32/", "/etc/", "/boot/"}) {
        if (c.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

QString exclusionListDirectory(const QString &appDir)
{
    QString dir = appDir;
    if (!dir.isEmpty() && !dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    // The program's own folder only for a portable copy (its lists are there
    // already) or a build; an installed copy keeps them per user.
    const bool portable =
        QFileInfo::exists(dir + QStringLiteral("set2.data")) || QFileInfo::exists(dir + QStringLiteral("set.data"));
    const QString buildTree = QStringLiteral(PELLWICK_BUILD_TREE) + QLatin1Char('/');
    const bool built = canonical(dir).append(QLatin1Char('/')).startsWith(canonical(buildTree) + QLatin1Char('/'));
    // Writable means we can create a file there, not just that the mode bits say so.
    if (!dir.isEmpty() && (portable || built) && !isSystemFolder(dir) && QFileInfo(dir).isDir()) {
        QTemporaryFile probe(dir + QStringLiteral(".pellwick-probe-XXXXXX"));
        if (probe.open())
            return dir;
    }
    QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config/pellwick");
    QDir().mkpath(config);
    if (!config.endsWith(QLatin1Char('/')))
        config += QLatin1Char('/');
    return config;
}

QString childIgnoringCase(const QString &dir, const QString &child, bool wantDirectory)
{
    const QDir d(dir);
    // No QDir::System: it lets FIFOs, sockets and broken links through as
    // files and even as folders, and opening a FIFO blocks for good.
    const QDir::Filters filters = (wantDirectory ? QDir::Dirs : QDir::Files) | QDir::Hidden | QDir::NoDotAndDotDot;
    const QStringList names = d.entryList(filters);
    if (names.contains(child))
        return d.filePath(child);
    for (const QString &name : names) {
        if (name.compare(child, Qt::CaseInsensitive) == 0)
            return d.filePath(name);
    }
    return {};
}

QString softwareHivePath(const QString &capturePath)
{
    QString p = childIgnoringCase(capturePath, QStringLiteral("Windows"), true);
    if (!p.isEmpty())
        p = childIgnoringCase(p, QStringLiteral("System32"), true);
    if (!p.isEmpty())
        p = childIgnoringCase(p, QStringLiteral("config"), true);
    if (!p.isEmpty())
        p = childIgnoringCase(p, QStringLiteral("SOFTWARE"), false);
    return p;
}

bool hasWindowsFolder(const QString &capturePath)
{
    const QString base = capturePath.isEmpty() ? QStringLiteral("/") : capturePath;
    return !childIgnoringCase(base, QStringLiteral("Windows"), true).isEmpty();
}

QStringList formatCommands(const QString &mountPoint, const QString &label)
{
    // Only a block device can be formatted; unmounting a tmpfs or a network
    // share first would just throw its contents away.
    const QString device = deviceOfMountPoint(mountPoint);
    if (!device.startsWith(QLatin1String("/dev/")))
        return {};
    return {
        QStringLiteral("umount ") + shellQuote(mountPoint),
        QStringLiteral("mkntfs --quick --force --label ") + shellQuote(label) + QLatin1Char(' ') + shellQuote(device),
        QStringLiteral("mount -t ntfs-3g ") + shellQuote(device) + QLatin1Char(' ') + shellQuote(mountPoint),
    };
}

}  // namespace platform
