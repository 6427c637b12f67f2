// The console command runner and the shell quoting of its arguments.
#include "support/command_runner.h"
#include "support/shell_quote.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <fcntl.h>
#include <future>
#include <locale.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int openDescriptorCount()
{
    return int(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

// Children of this process that have exited and not been reaped.
QStringList zombieChildren()
{
    QStringList zombies;
    const QString self = QString::number(::getpid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const int close = line.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 1 && fields[1] == self.toLatin1() && fields[0] == "Z")
            zombies << pid;
    }
    return zombies;
}

// The words printf '%s\0' wrote, in order.
QStringList zeroSeparated(const QString &output)
{
    QStringList words = output.split(QChar(u'\0'));
    if (!words.isEmpty() && words.last().isEmpty())
        words.removeLast();
    return words;
}

QString printfCommand(const QStringList &arguments)
{
    QString command = QStringLiteral("printf '%s\\0'");
    for (const QString &a : arguments)
        command += QLatin1Char(' ') + shellQuote(a);
    return command;
}

QString expectedSeq(int last)
{
    QString s;
    for (int i = 1; i <= last; ++i)
        s += QString::number(i) + QLatin1Char('\n');
    return s;
}

}  // namespace

// glibc's newlocale does not free the folder list it splits LOCPATH into.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:__argz_add_sep\n";
}

class TestCommandRunner : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void output_data();
    void output();
    void failureToStartGivesEmptyText_data();
    void failureToStartGivesEmptyText();
    void exitStatus_data();
    void exitStatus();
    void blocksUntilBackgroundChildClosesTheStream();
    void noOutputVariantWaitsAndDrains();
    void childSeesOnlyItsOwnDescriptors();
    void leavesNoZombieAndNoDescriptor();
    void concurrentCallsKeepTheirOwnOutput();
    void localeEncodingIsDecoded_data();
    void localeEncodingIsDecoded();

    void hostileArgumentsSurviveQuoting_data();
    void hostileArgumentsSurviveQuoting();
    void allHostileArgumentsInOneLine();

private:
    locale_t gb18030Locale(QString *why);

    QTemporaryDir m_dir;
    locale_t m_gb18030 = locale_t(nullptr);
    QString m_whyNoGb18030;
};

void TestCommandRunner::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(QFile::exists(QStringLiteral("/bin/sh")), "the runner needs /bin/sh");
}

void TestCommandRunner::cleanupTestCase()
{
    if (m_gb18030 != locale_t(nullptr))
        ::freelocale(m_gb18030);
}

// zh_CN.GB18030: the system's (the install script generates it), else built
// once into the test's folder, which costs seconds.
locale_t TestCommandRunner::gb18030Locale(QString *why)
{
    if (m_gb18030 != locale_t(nullptr) || !m_whyNoGb18030.isEmpty()) {
        *why = m_whyNoGb18030;
        return m_gb18030;
    }
    m_gb18030 = ::newlocale(LC_ALL_MASK, "zh_CN.GB18030", locale_t(nullptr));
    if (m_gb18030 != locale_t(nullptr)) {
        *why = QString();
        return m_gb18030;
    }
    const QString localedef = QStandardPaths::findExecutable(QStringLiteral("localedef"));
    const QString target = m_dir.filePath(QStringLiteral("locales/zh_CN.GB18030"));
    if (localedef.isEmpty() || !QFile::exists(QStringLiteral("/usr/share/i18n/charmaps/GB18030.gz"))
        || !QFile::exists(QStringLiteral("/usr/share/i18n/locales/zh_CN"))) {
        m_whyNoGb18030 = QStringLiteral("localedef or the zh_CN / GB18030 sources (package locales) are missing");
    } else {
        QDir().mkpath(QFileInfo(target).path());
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(localedef, {QStringLiteral("-i"), QStringLiteral("zh_CN"), QStringLiteral("-f"),
                            QStringLiteral("GB18030"), target});
        if (!p.waitForFinished(120000) || !QFileInfo::exists(target)) {
            m_whyNoGb18030 =
                QStringLiteral("localedef could not build zh_CN.GB18030: ") + QString::fromLocal8Bit(p.readAll());
        } else {
            // glibc looks the name up in LOCPATH, read at this call only.
            const QByteArray old = qgetenv("LOCPATH");
            qputenv("LOCPATH", QFile::encodeName(QFileInfo(target).path()));
            m_gb18030 = ::newlocale(LC_ALL_MASK, "zh_CN.GB18030", locale_t(nullptr));
            if (old.isNull())
                qunsetenv("LOCPATH");
            else
                qputenv("LOCPATH", old);
            if (m_gb18030 == locale_t(nullptr))
                m_whyNoGb18030 = QStringLiteral("the generated zh_CN.GB18030 locale does not load");
        }
    }
    *why = m_whyNoGb18030;
    return m_gb18030;
}

void TestCommandRunner::output_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("expected");

    QTest::newRow("nothing printed") << u"true"_qs << QString();
    QTest::newRow("one line") << u"echo hello"_qs << u"hello\n"_qs;
    QTest::newRow("no line end") << u"printf abc"_qs << u"abc"_qs;
    QTest::newRow("CR LF kept") << u"printf 'a\\r\\nb\\r\\n'"_qs << u"a\r\nb\r\n"_qs;
    QTest::newRow("standard error alone") << u"echo oops >&2"_qs << u"oops\n"_qs;
    QTest::newRow("both streams in write order")
        << u"echo one; echo two >&2; echo three; echo four >&2"_qs << u"one\ntwo\nthree\nfour\n"_qs;
    QTest::newRow("bytes after a zero byte")
        << u"printf 'a\\000b\\000'"_qs << (u"a"_qs + QChar(u'\0') + u"b"_qs + QChar(u'\0'));
    QTest::newRow("more than one pipe buffer, in order") << u"seq 1 40000"_qs << expectedSeq(40000);
    QTest::newRow("standard input is empty") << u"cat; echo end"_qs << u"end\n"_qs;
    QTest::newRow("UTF-8 text") << u"printf '\\344\\270\\255\\346\\226\\207'"_qs << u"中文"_qs;
}

void TestCommandRunner::output()
{
    QFETCH(QString, command);
    QFETCH(QString, expected);
    const QString got = RunCommand(command);
    QCOMPARE(got.size(), expected.size());
    QCOMPARE(got, expected);
    const CommandResult r = RunCommandWithStatus(command);
    QVERIFY(r.started);
    QCOMPARE(r.output, expected);
}

void TestCommandRunner::failureToStartGivesEmptyText_data()
{
    QTest::addColumn<QString>("command");

    QTest::newRow("no such program") << u"pellwick-no-such-program --help"_qs;
    QTest::newRow("no such path") << u"/nonexistent/dir/tool"_qs;
    const QString plain = m_dir.filePath(QStringLiteral("not-executable"));
    QFile f(plain);
    if (f.open(QIODevice::WriteOnly))
        f.write("echo should not run\n");
    QTest::newRow("not executable") << plain;
    QTest::newRow("empty line") << QString();
}

void TestCommandRunner::failureToStartGivesEmptyText()
{
    QFETCH(QString, command);
    // The shell complains on standard error, which is our stream: none of
    // that may come back as the command's output.
    QCOMPARE(RunCommand(command), QString());
    QCOMPARE(RunCommandNoOutput(command), QString());
    if (!command.isEmpty()) {
        const CommandResult r = RunCommandWithStatus(command);
        QVERIFY(!r.started);
        QVERIFY(r.output.isEmpty());
    }
}

void TestCommandRunner::exitStatus_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("started");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::newRow("success") << u"echo ok"_qs << true << 0 << u"ok\n"_qs;
    QTest::newRow("failure") << u"false"_qs << true << 1 << QString();
    QTest::newRow("exit 3 with output") << u"echo before; exit 3"_qs << true << 3 << u"before\n"_qs;
    QTest::newRow("killed by a signal") << u"echo x; kill -KILL $$"_qs << true << -1 << u"x\n"_qs;
    QTest::newRow("program not found") << u"pellwick-no-such-program"_qs << false << 127 << QString();
}

void TestCommandRunner::exitStatus()
{
    QFETCH(QString, command);
    QFETCH(bool, started);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    const CommandResult r = RunCommandWithStatus(command);
    QCOMPARE(r.started, started);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.output, output);
}

void TestCommandRunner::blocksUntilBackgroundChildClosesTheStream()
{
    // The shell exits at once; the subshell still holds the stream.
    const QString got = RunCommand(QStringLiteral("(sleep 0.3; echo late) & echo early"));
    QCOMPARE(got, QStringLiteral("early\nlate\n"));
}

void TestCommandRunner::noOutputVariantWaitsAndDrains()
{
    const QString marker = m_dir.filePath(QStringLiteral("drained"));
    // A megabyte is far more than a pipe holds: without draining, head would
    // block for good and the marker would never appear.
    const QString got = RunCommandNoOutput(QStringLiteral("head -c 1000000 /dev/zero | tr '\\0' x; sleep 0.1; touch ")
                                           + shellQuote(marker));
    QVERIFY(got.isEmpty());
    QVERIFY2(QFile::exists(marker), "returned before the command had finished");
}

void TestCommandRunner::childSeesOnlyItsOwnDescriptors()
{
    const QString probe = m_dir.filePath(QStringLiteral("inherited-probe"));
    QFile f(probe);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    // Opened the way a careless library would: without close-on-exec.
    const int fd = ::open(QFile::encodeName(probe).constData(), O_RDONLY);
    QVERIFY(fd >= 0);

    // Our own standard input is the probe for a moment: the command's must
    // still be /dev/null.
    const int savedStdin = ::dup(STDIN_FILENO);
    QVERIFY(savedStdin >= 0);
    QVERIFY(::dup2(fd, STDIN_FILENO) == STDIN_FILENO);

    // The trailing ":" keeps the shell from replacing itself with ls, so the
    // listing is the shell's own table.
    const QString listing = RunCommand(QStringLiteral("ls -l /proc/$$/fd; :"));
    ::dup2(savedStdin, STDIN_FILENO);
    ::close(savedStdin);
    ::close(fd);

    QMap<int, QString> targets;
    for (const QString &line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const int arrow = line.indexOf(QLatin1String(" -> "));
        if (arrow < 0)
            continue;
        const QString number = line.left(arrow).section(QLatin1Char(' '), -1);
        targets.insert(number.toInt(), line.mid(arrow + 4));
    }
    QVERIFY2(targets.size() >= 3, qPrintable(listing));
    QCOMPARE(targets.value(0), QStringLiteral("/dev/null"));
    QVERIFY2(targets.value(1).startsWith(QLatin1String("pipe:")), qPrintable(listing));
    QCOMPARE(targets.value(2), targets.value(1));
    for (auto it = targets.cbegin(); it != targets.cend(); ++it) {
        if (it.key() <= 2)
            continue;
        QVERIFY2(!it.value().startsWith(QLatin1String("pipe:")), qPrintable(listing));
        QVERIFY2(!it.value().contains(QLatin1String("inherited-probe")), qPrintable(listing));
    }
}

void TestCommandRunner::leavesNoZombieAndNoDescriptor()
{
    const int before = openDescriptorCount();
    for (int i = 0; i < 10; ++i) {
        RunCommand(QStringLiteral("echo %1").arg(i));
        RunCommandNoOutput(QStringLiteral("echo %1 >&2").arg(i));
        RunCommand(QStringLiteral("pellwick-no-such-program"));
        RunCommand(QStringLiteral("sleep 0 & exit 4"));
        RunCommandWithStatus(QStringLiteral("kill -TERM $$"));
    }
    QCOMPARE(openDescriptorCount(), before);
    QCOMPARE(zombieChildren(), QStringList());
}

void TestCommandRunner::concurrentCallsKeepTheirOwnOutput()
{
    constexpr int kThreads = 4;
    constexpr int kRuns = 25;
    std::vector<std::future<QStringList>> futures;
    for (int t = 0; t < kThreads; ++t) {
        futures.push_back(std::async(std::launch::async, [t] {
            QStringList mismatches;
            for (int i = 0; i < kRuns; ++i) {
                const QString expected = QStringLiteral("thread %1 run %2").arg(t).arg(i);
                const QString got = RunCommand(QStringLiteral("printf '%s' ") + shellQuote(expected));
                if (got != expected)
                    mismatches << got;
            }
            return mismatches;
        }));
    }
    for (auto &f : futures)
        QCOMPARE(f.get(), QStringList());
    QCOMPARE(zombieChildren(), QStringList());
}

void TestCommandRunner::localeEncodingIsDecoded_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("expected");

    // GB18030 bytes written by iconv, not by Qt; the emoji's four bytes
    // include the ASCII digits 9 and 6.
    QTest::newRow("two-byte and four-byte characters")
        << u"printf '\\326\\320\\316\\304\\312\\344\\263\\366\\320\\305\\317\\242\\224\\071\\374\\066\\242\\343'"_qs
        << u"中文输出信息😀€"_qs;
    QString many;
    for (int i = 0; i < 60000; ++i)
        many += u"中\n"_qs;
    // 180 KB: characters fall across the reads' boundaries.
    QTest::newRow("larger than a pipe buffer") << u"yes \"$(printf '\\326\\320')\" | head -n 60000"_qs << many;
}

void TestCommandRunner::localeEncodingIsDecoded()
{
    QFETCH(QString, command);
    QFETCH(QString, expected);

    QString why;
    const locale_t gb = gb18030Locale(&why);
    if (gb == locale_t(nullptr))
        QSKIP(qPrintable(why));

    // Only this thread switches, as a worker would.
    const locale_t previous = ::uselocale(gb);
    const QString got = RunCommand(command);
    ::uselocale(previous);
    QCOMPARE(got.size(), expected.size());
    QCOMPARE(got, expected);

    // Under this thread's own locale the same bytes are not that text: the
    // decoding above followed the locale.
    QVERIFY(RunCommand(command) != expected);
}

void TestCommandRunner::hostileArgumentsSurviveQuoting_data()
{
    QTest::addColumn<QString>("argument");

    const QString m = m_dir.filePath(QStringLiteral("marker"));
    QTest::newRow("empty") << QString();
    QTest::newRow("spaces") << u"  two  spaces  "_qs;
    QTest::newRow("tab") << u"a\tb"_qs;
    QTest::newRow("single quote") << u"it's"_qs;
    QTest::newRow("only quotes") << u"''"_qs;
    QTest::newRow("escaped quote form") << u"'\\''"_qs;
    QTest::newRow("double quotes") << u"say \"hi\""_qs;
    QTest::newRow("backslashes") << u"C:\\Windows\\ trailing\\"_qs;
    QTest::newRow("dollar") << u"$HOME ${PATH} $1 $$"_qs;
    QTest::newRow("command substitution") << u"$(touch "_qs + m + u"-subst)"_qs;
    QTest::newRow("backticks") << u"`touch "_qs + m + u"-tick`"_qs;
    QTest::newRow("semicolon") << u"x; touch "_qs + m + u"-semi"_qs;
    QTest::newRow("and-and") << u"x && touch "_qs + m + u"-and"_qs;
    QTest::newRow("pipe") << u"x | touch "_qs + m + u"-pipe"_qs;
    QTest::newRow("redirection") << u"> "_qs + m + u"-redir"_qs;
    QTest::newRow("newline") << u"x\ntouch "_qs + m + u"-newline\n"_qs;
    QTest::newRow("glob") << u"/*"_qs;
    QTest::newRow("tilde") << u"~"_qs;
    QTest::newRow("leading dash") << u"-n"_qs;
    QTest::newRow("printf directive") << u"%s%d\\n"_qs;
    QTest::newRow("Chinese") << u"中文 路径/映像.wim"_qs;
}

void TestCommandRunner::hostileArgumentsSurviveQuoting()
{
    QFETCH(QString, argument);
    const QString got = RunCommand(printfCommand({argument}));
    QCOMPARE(zeroSeparated(got), QStringList{argument});
    const QStringList stray = QDir(m_dir.path()).entryList({QStringLiteral("marker*")}, QDir::Files);
    QVERIFY2(stray.isEmpty(), qPrintable(stray.join(u' ')));
}

void TestCommandRunner::allHostileArgumentsInOneLine()
{
    const QString m = m_dir.filePath(QStringLiteral("marker"));
    const QStringList arguments = {QString(),
                                   u"it's"_qs,
                                   u"$(touch "_qs + m + u"-all)"_qs,
                                   u"`touch "_qs + m + u"-all2`"_qs,
                                   u"; touch "_qs + m + u"-all3"_qs,
                                   u"a\nb"_qs,
                                   u"-x"_qs,
                                   u"中文"_qs,
                                   u"\"\\"_qs};
    const QString got = RunCommand(printfCommand(arguments));
    QCOMPARE(zeroSeparated(got), arguments);
    QVERIFY(QDir(m_dir.path()).entryList({QStringLiteral("marker*")}, QDir::Files).isEmpty());

    // A zero character would cut the line short in the middle of a quote.
    const QString cut = QStringLiteral("touch ") + shellQuote(m + u"-zero"_qs) + QChar(u'\0') + u"x"_qs;
    const CommandResult r = RunCommandWithStatus(cut);
    QVERIFY(!r.started);
    QVERIFY(!QFile::exists(m + u"-zero"_qs));
}

QTEST_GUILESS_MAIN(TestCommandRunner)
#include "tst_command_runner.moc"
