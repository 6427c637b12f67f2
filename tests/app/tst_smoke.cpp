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

}  // namespace

class TestSmoke : public QObject
{
    Q_OBJECT

private slots:
    void startsAndClosesCleanly();
    void opensItsArgument();
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
    QVERIFY(QString::fromUtf8(p.readAll()).contains(QStringLiteral("用法：pellwick [映像文件]")));
}

QTEST_GUILESS_MAIN(TestSmoke)
#include "tst_smoke.moc"
