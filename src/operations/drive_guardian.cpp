#include "operations/drive_guardian.h"

#include "support/platform.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr char kGuardianName[] = "pellwick-drive-guardian";

// $1 the record, $2 "unmounted" or "readonly", $3 the mount point, $4 the
// command that gives the drive back, $5 how many times to try it. The
// program writes "done" when it gave the drive back itself; end of file
// without it means the program is gone.
// The device may take a moment to be free of the dead program, whose own
// mount command may still be at work and give the drive back first: try for
// a few seconds, looking each time. A drive already as it was needs nothing,
// and nothing is reported.
constexpr char kScript[] = R"(read -r word
[ "$word" = done ] && exit 0
back() {
    if [ "$2" = unmounted ]; then mountpoint -q "$3"
    else findmnt -n -o OPTIONS --mountpoint "$3" | grep -q '^rw'; fi
}
if back "$@"; then rm -f "$1"; exit 0; fi
tries=0
while [ $tries -lt "$5" ]; do
    [ $tries -gt 0 ] && sleep 0.5
    tries=$((tries + 1))
    if back "$@" || { out=$(sh -c "$4" 2>&1) && back "$@"; }; then
        echo restored > "$1.new" && mv -f "$1.new" "$1.result"
        exit 0
    fi
done
{ echo failed; printf '%s\n' "$out"; } > "$1.new" && mv -f "$1.new" "$1.result"
exit 1
)";

QString takenText(bool unmounted)
{
    return unmounted ? QStringLiteral("unmounted") : QStringLiteral("readonly");
}

bool guardianAlive(qint64 pid)
{
    if (pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno != EPERM))
        return false;
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(kGuardianName);
}

// One drive of a record, for the user.
QString reportOf(const QJsonObject &record, const QString &result)
{
    const bool unmounted = record.value(QLatin1String("taken")).toString() == takenText(true);
    const QString device = record.value(QLatin1String("device")).toString();
    const QString mountPoint = record.value(QLatin1String("mountPoint")).toString();
    const QString command = record.value(QLatin1String("restore")).toString();
    if (result.startsWith(QLatin1String("restored"))) {
        return unmounted
                   ? QStringLiteral("上次程序意外结束时，%1 已卸载；已自动将其重新挂载到 %2。").arg(device, mountPoint)
                   : QStringLiteral("上次程序意外结束时，%1 为只读；已自动恢复为可写。").arg(mountPoint);
    }
    QString why = result.section(QLatin1Char('\n'), 1).trimmed();
    if (why.isEmpty())
        why = QStringLiteral("恢复程序未能运行。");
    return (unmounted ? QStringLiteral("上次程序意外结束时，%1 已卸载，未能自动重新挂载到 %2：").arg(device, mountPoint)
                      : QStringLiteral("上次程序意外结束时，%1 为只读，未能自动恢复为可写：").arg(mountPoint))
           + QLatin1Char('\n') + why + QStringLiteral("\n请以 root 身份运行以下命令恢复：\n") + command;
}

// Whether the drive is as it was before it was taken.
bool isBack(const QJsonObject &record)
{
    const auto mount = platform::mountAt(record.value(QLatin1String("mountPoint")).toString());
    if (record.value(QLatin1String("taken")).toString() == takenText(true))
        return mount.has_value();
    return mount && !mount->readOnly;
}

}  // namespace

QString driveRecordFolder()
{
    const QString configured = qEnvironmentVariable("PELLWICK_DRIVE_RECORDS");
    if (!configured.isEmpty())
        return configured;
    if (::geteuid() == 0)
        return QStringLiteral("/run/pellwick/drives");
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/pellwick-drives");
}

DriveGuardian::DriveGuardian(Taken taken, const QString &device, const QString &mountPoint,
                             const QString &restoreCommand, int tries)
{
    const QString folder = driveRecordFolder();
    QString name = device;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    m_record = QStringLiteral("%1/%2.%3.json")
                   .arg(folder, name.mid(name.startsWith(QLatin1Char('-')) ? 1 : 0))
                   .arg(::getpid());
    const bool unmounted = taken == Taken::Unmounted;
    const auto failed = [this](const QString &why) {
        m_error =
            QStringLiteral("无法启动恢复分区的守护进程（%1），为免程序意外结束后分区无法恢复，未作任何改动。").arg(why);
        QFile::remove(m_record);
        m_record.clear();
    };
    int fds[2];
    if (!QDir().mkpath(folder) || ::pipe2(fds, O_CLOEXEC) != 0) {
        failed(QStringLiteral("%1：%2").arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    m_pipe = fds[1];

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    // Its own session: a terminal's hangup or Ctrl+C that ends the program
    // does not reach it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
    const QByteArray record = QFile::encodeName(m_record);
    const QByteArray point = QFile::encodeName(mountPoint);
    const QByteArray command = restoreCommand.toLocal8Bit();
    const QByteArray takenArg = takenText(unmounted).toLatin1();
    const QByteArray triesArg = QByteArray::number(qMax(1, tries));
    const char *argv[] = {"sh",
                          "-c",
                          kScript,
                          kGuardianName,
                          record.constData(),
                          takenArg.constData(),
                          point.constData(),
                          command.constData(),
                          triesArg.constData(),
                          nullptr};
    const int spawned = posix_spawn(&m_pid, "/bin/sh", &actions, &attributes, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[0]);
    if (spawned != 0) {
        m_pid = -1;
        failed(QString::fromLocal8Bit(std::strerror(spawned)));
        return;
    }

    QJsonObject fields{{QStringLiteral("taken"), takenText(unmounted)},
                       {QStringLiteral("device"), device},
                       {QStringLiteral("mountPoint"), mountPoint},
                       {QStringLiteral("restore"), restoreCommand},
                       {QStringLiteral("guardian"), qint64(m_pid)}};
    QSaveFile file(m_record);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(fields).toJson()) < 0 || !file.commit())
        failed(QStringLiteral("%1：%2").arg(m_record, file.errorString()));
}

DriveGuardian::~DriveGuardian()
{
    // Also when the record could not be written: the drive was not taken.
    if (m_pipe >= 0) {
        (void)!::write(m_pipe, "done\n", 5);
        ::close(m_pipe);
    }
    if (m_pid > 0) {
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (!m_record.isEmpty())
        QFile::remove(m_record);
}

QString DriveRestoreReport()
{
    const QDir folder(driveRecordFolder());
    QStringList lines;
    for (const QString &name : folder.entryList({QStringLiteral("*.json")}, QDir::Files)) {
        const QString path = folder.filePath(name);
        QFile recordFile(path);
        if (!recordFile.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject record = QJsonDocument::fromJson(recordFile.readAll()).object();
        recordFile.close();
        QFile resultFile(path + QStringLiteral(".result"));
        const bool haveResult = resultFile.open(QIODevice::ReadOnly);
        const QString result = haveResult ? QString::fromLocal8Bit(resultFile.readAll()) : QString();
        if (!haveResult && guardianAlive(record.value(QLatin1String("guardian")).toInteger()))
            continue;  // still at work, or its program still runs
        // Without a result the guardian did not get to it (it was ended
        // too): say so only when the drive is not back by other means.
        if (!record.isEmpty() && (haveResult || !isBack(record)))
            lines << reportOf(record, result);
        QFile::remove(path + QStringLiteral(".result"));
        QFile::remove(path);
    }
    return lines.join(QStringLiteral("\n\n"));
}
