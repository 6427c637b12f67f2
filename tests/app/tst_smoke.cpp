// Starts the real program offscreen and closes it the way a logout does.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Starts the real program offscreen with `arguments`, its settings in `home`.
bool startProgram(QProcess &p, const QTemporaryDir &home, const QStringList &arguments)
{
    const QString binary = qEnvironmentVariable("PELLWICK_TEST_BINARY_DIR") + QStringLiteral("/src/app/pellwick");
    if (!QFile::exists(binary))
        qWarning("no program at %s", qPrintable(binary));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(binary, arguments);
    return p.waitForStarted(10000);
}

struct Answer {
    int exitCode = -1;
    QString out, err;
};

// The program run as from a text console: no display of any kind.
Answer runWithoutDisplay(const QStringList &arguments)
{
    const QString binary = qEnvironmentVariable("PELLWICK_TEST_BINARY_DIR") + QStringLiteral("/src/app/pellwick");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(binary, arguments);
    Answer a;
    if (!p.waitForFinished(15000) || p.exitStatus() != QProcess::NormalExit)
        return a;
    a.exitCode = p.exitCode();
    a.out = QString::fromUtf8(p.readAllStandardOutput());
    a.err = QString::fromUtf8(p.readAllStandardError());
    return a;
}

}  // namespace

class TestSmoke : public QObject
{
    Q_OBJECT

private slots:
    void startsAndClosesCleanly();
    void opensItsArgument();
    void answersWithoutDisplay_data();
    void answersWithoutDisplay();
};

void TestSmoke::startsAndClosesCleanly()
{
    QTemporaryDir home;
    QProcess p;
    QVERIFY(startProgram(p, home, {}));
    // Still running after a moment: the window is up and waiting.
    QVERIFY(!p.waitForFinished(1500));
    p.terminate();  // SIGTERM: closes like the close box; idle, so at once
    QVERIFY2(p.waitForFinished(15000), "the program did not close");
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    const QString output = QString::fromUtf8(p.readAll());
    QVERIFY2(!output.contains(QLatin1String("Dead lock")), qPrintable(output));
    QVERIFY2(!output.contains(QLatin1String("ERROR")), qPrintable(output));
    // Qt's own translation loaded: nothing reported under pellwick.support.
    QVERIFY2(!output.contains(QLatin1String("pellwick.support")), qPrintable(output));
}

void TestSmoke::opensItsArgument()
{
    // `pellwick ARCHIVE` opens it as the open command does: here a file that
    // is no archive, and the failure says why on standard error. The program
    // still closes as usual, its message box open.
    QTemporaryDir home;
    const QString text = home.filePath(QStringLiteral("notes.wim"));
    QFile f(text);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("a shopping list\n");
    f.close();
    QProcess p;
    QVERIFY(startProgram(p, home, {text}));
    QString output;
    QTRY_VERIFY_WITH_TIMEOUT((output += QString::fromUtf8(p.readAll())).contains(QStringLiteral("这不是 WIM 映像文件")),
                             15000);
    QVERIFY2(output.contains(QStringLiteral("pellwick.archive: 文件无法打开！ 这不是 WIM 映像文件 [WIMCreateFile: ")
                             + QStringLiteral("cannot open ") + text),
             qPrintable(output));
    // The open's probing of access levels is not reported as failures of their own.
    QVERIFY2(!output.contains(QStringLiteral("pellwick.imaging")), qPrintable(output));
    p.terminate();
    QVERIFY2(p.waitForFinished(15000), "the program did not close");
    QCOMPARE(p.exitCode(), 0);

    QVERIFY(startProgram(p, home, {QStringLiteral("a.wim"), QStringLiteral("b.wim")}));
    QVERIFY(p.waitForFinished(15000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(QString::fromUtf8(p.readAll()).contains(QStringLiteral("用法：pellwick [选项] [映像文件]")));
}

void TestSmoke::answersWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");  // what standard output begins with
    QTest::addColumn<QString>("err");  // what standard error contains
    const QString usage = QStringLiteral("用法：pellwick [选项] [映像文件]");
    QTest::newRow("--help") << QStringList{u"--help"_qs} << 0 << usage << QString();
    QTest::newRow("-h") << QStringList{u"-h"_qs} << 0 << usage << QString();
    QTest::newRow("--version") << QStringList{u"--version"_qs} << 0 << QStringLiteral("pellwick 0.") << QString();
    // Qt's own options are Qt's, not unknown ones.
    QTest::newRow("Qt's option first") << QStringList{u"-platform"_qs, u"xcb"_qs, u"-V"_qs} << 0
                                       << QStringLiteral("pellwick 0.") << QString();
    QTest::newRow("unknown option") << QStringList{u"--frobnicate"_qs} << 2 << QString()
                                    << QStringLiteral("未知的选项：--frobnicate");
    QTest::newRow("two archives") << QStringList{u"a.wim"_qs, u"b.wim"_qs} << 2 << QString()
                                  << QStringLiteral("一次只能打开一个映像文件");
}

void TestSmoke::answersWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const Answer a = runWithoutDisplay(arguments);
    QCOMPARE(a.exitCode, exitCode);
    QVERIFY2(a.out.startsWith(out), qPrintable(a.out + a.err));
    if (exitCode == 2) {
        QVERIFY2(a.err.contains(err) && a.err.contains(QStringLiteral("用法：pellwick")), qPrintable(a.err));
        QVERIFY(a.out.isEmpty());
    } else {
        QVERIFY2(a.err.isEmpty(), qPrintable(a.err));
    }
}

QTEST_GUILESS_MAIN(TestSmoke)
#include "tst_smoke.moc"
