#include "support/command_runner.h"

#include <QByteArray>
#include <QFile>
#include <QStringDecoder>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <langinfo.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// The status /bin/sh gives when it could not find (127) or not execute (126)
// the program: the command never started.
constexpr int kShellNotFound = 127;
constexpr int kShellCannotExecute = 126;

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    int get() const { return m_fd; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// The calling thread's locale encoding, looked up by name: Qt 6's
// QStringDecoder::System is UTF-8 on every Unix, whatever the locale says. A
// plain C locale says ASCII, but the tools print UTF-8 where they print
// anything beyond it, as Qt assumes too.
QStringDecoder localeDecoder()
{
    const QByteArray codeset(nl_langinfo(CODESET));
    const QByteArray upper = codeset.toUpper();
    if (codeset.isEmpty() || upper == "ANSI_X3.4-1968" || upper == "ASCII" || upper == "US-ASCII" || upper == "UTF-8"
        || upper == "UTF8")
        return QStringDecoder(QStringDecoder::Utf8);
    QStringDecoder byName(codeset.constData());
    if (byName.isValid())
        return byName;
    return QStringDecoder(QStringDecoder::System);
}

// Starts `/bin/sh -c commandLine` with standard input from /dev/null and
// standard output and error on one pipe; returns the child's pid and the read
// end, or -1 when it could not start.
pid_t spawnShell(const QByteArray &commandLine, Fd &readEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    readEnd.reset(fds[0]);
    Fd writeEnd(fds[1]);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }

    // dup2 clears close-on-exec on the copies; every other descriptor the
    // program holds (including ones some library opened without
    // close-on-exec, or another thread's pipe) is closed in the child, so no
    // foreign pipe end can keep a reader waiting.
    bool ok = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0
              && posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO) == 0
              && posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO) == 0
              && posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1) == 0;

    // A worker thread's blocked signals or an ignored SIGPIPE must not leak
    // into the command: pipelines in it rely on the defaults. A session of
    // its own keeps it off any terminal the program was started from, so
    // nothing can stop to ask there.
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    ok = ok && posix_spawnattr_setsigdefault(&attr, &all) == 0 && posix_spawnattr_setsigmask(&attr, &none) == 0
         && posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSID) == 0;

    pid_t pid = -1;
    if (ok) {
        char shell[] = "/bin/sh";
        char dashC[] = "-c";
        QByteArray command = commandLine;  // the child gets its own copy
        char *argv[] = {shell, dashC, command.data(), nullptr};
        if (posix_spawn(&pid, shell, &actions, &attr, argv, environ) != 0)
            pid = -1;
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    // Our write end closes here, so the stream ends once the command and
    // everything it started have closed theirs.
    return pid;
}

// Reads until every holder of the write end has closed it. Returns false on
// a read error other than an interruption.
bool readToEnd(int fd, QByteArray *collected)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            if (collected)
                collected->append(buffer, n);
        } else if (n == 0) {
            return true;
        } else if (errno != EINTR) {
            return false;
        }
    }
}

// -1 when the child did not exit normally or could not be waited for.
int reap(pid_t pid)
{
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

CommandResult run(const QString &commandLine, bool collect)
{
    CommandResult result;
    // execve would cut the line at a zero character and run what is left.
    if (commandLine.contains(QChar(u'\0')))
        return result;
    // Paths inside the line must name the files the rest of the program names.
    const QByteArray encoded = QFile::encodeName(commandLine);

    Fd readEnd;
    const pid_t pid = spawnShell(encoded, readEnd);
    if (pid < 0)
        return result;

    QByteArray bytes;
    readToEnd(readEnd.get(), collect ? &bytes : nullptr);
    readEnd.reset();
    result.exitCode = reap(pid);
    if (result.exitCode == kShellNotFound || result.exitCode == kShellCannotExecute)
        return result;  // the shell's "not found" text is not the command's output

    result.started = true;
    if (!bytes.isEmpty()) {
        QStringDecoder decoder = localeDecoder();
        result.output = decoder(bytes);
    }
    return result;
}

}  // namespace

QString RunCommand(const QString &commandLine)
{
    return run(commandLine, true).output;
}

QString RunCommandNoOutput(const QString &commandLine)
{
    run(commandLine, false);
    return {};
}

CommandResult RunCommandWithStatus(const QString &commandLine)
{
    return run(commandLine, true);
}
