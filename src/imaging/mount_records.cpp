#include "imaging/mount_records.h"

#include "support/platform.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>

#include <cstdlib>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString recordPath(const QString &directory)
{
    const QByteArray key = QCryptographicHash::hash(QFile::encodeName(directory), QCryptographicHash::Sha1).toHex();
    return mountRecordFolder() + QStringLiteral("/") + QString::fromLatin1(key.left(16)) + QStringLiteral(".mount");
}

const QLatin1String kStagingPrefix("pellwick-staging-");

// When process `pid` started (clock ticks after boot, /proc/PID/stat's 22nd
// field): with the pid it names one process, whatever reuses the pid later.
// 0 when there is no such process.
qint64 processStart(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // The name in parentheses may hold spaces; the fields after it do not.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 19 ? fields[19].toLongLong() : 0;
}

// Whether the process that wrote a record is still running: until its mount
// is up, a record's folder is not mounted yet and the record must stay.
bool writerRunning(const QJsonObject &json)
{
    const qint64 start = json.value(QLatin1String("writerStart")).toInteger();
    return start != 0 && processStart(json.value(QLatin1String("writer")).toInteger()) == start;
}

}  // namespace

QString mountRecordFolder()
{
    const QString given = qEnvironmentVariable("PELLWICK_MOUNT_RECORDS");
    if (!given.isEmpty())
        return given;
    if (::geteuid() == 0)
        return QStringLiteral("/run/pellwick/mounts");
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return (runtime.isEmpty() ? QDir::tempPath() : runtime) + QStringLiteral("/pellwick/mounts");
}

bool writeMountRecord(const MountRecord &record)
{
    if (!QDir().mkpath(mountRecordFolder()))
        return false;
    QJsonObject json{{QStringLiteral("directory"), record.directory},
                     {QStringLiteral("archive"), record.archive},
                     {QStringLiteral("image"), qint64(record.image)},
                     {QStringLiteral("readWrite"), record.readWrite},
                     {QStringLiteral("staging"), record.staging},
                     {QStringLiteral("writer"), qint64(::getpid())},
                     {QStringLiteral("writerStart"), processStart(::getpid())}};
    QSaveFile file(recordPath(record.directory));
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(json).toJson()) >= 0 && file.commit();
}

void removeMountRecord(const QString &directory)
{
    QFile::remove(recordPath(directory));
}

MountState mountState(const QString &directory)
{
    struct stat st;
    if (::stat(QFile::encodeName(directory).constData(), &st) != 0 && errno == ENOTCONN)
        return MountState::Dead;
    return platform::mountAt(directory) ? MountState::Served : MountState::Gone;
}

QList<MountRecord> mountRecords()
{
    QList<MountRecord> records;
    const QDir folder(mountRecordFolder());
    for (const QString &name : folder.entryList({QStringLiteral("*.mount")}, QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
        MountRecord record{
            json.value(QLatin1String("directory")).toString(), json.value(QLatin1String("archive")).toString(),
            uint32_t(json.value(QLatin1String("image")).toInteger()), json.value(QLatin1String("readWrite")).toBool(),
            json.value(QLatin1String("staging")).toString()};
        if (record.directory.isEmpty() || mountState(record.directory) == MountState::Gone) {
            if (!writerRunning(json))  // else its mount is on the way
                file.remove();
            continue;
        }
        records.append(record);
    }
    return records;
}

QString makeStagingFolder(const QString &parent)
{
    QByteArray pattern = QFile::encodeName(QDir(parent).absoluteFilePath(kStagingPrefix + QStringLiteral("XXXXXX")));
    if (!::mkdtemp(pattern.data()))
        return {};
    return QFile::decodeName(pattern);
}

void removeStagingFolder(const QString &staging)
{
    const QFileInfo info(staging);
    if (!staging.isEmpty() && info.fileName().startsWith(kStagingPrefix) && info.isDir() && !info.isSymLink())
        QDir(staging).removeRecursively();
}

bool clearDeadMount(const QString &directory)
{
    QString staging;
    for (const MountRecord &record : mountRecords()) {
        if (record.directory == directory)
            staging = record.staging;  // read while it is still mounted: a record of a mount gone is dropped
    }
    const QByteArray native = QFile::encodeName(directory);
    const bool unmounted =
        (::geteuid() == 0 && ::umount2(native.constData(), MNT_DETACH) == 0)
        || QProcess::execute(QStringLiteral("fusermount"), {QStringLiteral("-u"), QStringLiteral("-z"), directory})
               == 0;
    if (!unmounted)
        return false;
    removeStagingFolder(staging);
    removeMountRecord(directory);
    return true;
}
