// Starts the real program offscreen and closes it the way a logout does.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestSmoke : public QObject
{
    Q_OBJECT

private slots:
    void startsAndClosesCleanly();
};

void TestSmoke::startsAndClosesCleanly()
{
    const QString binary = qEnvironmentVariable("PELLWICK_TEST_BINARY_DIR") + QStringLiteral("/src/app/pellwick");
    QVERIFY2(QFile::exists(binary), qPrintable(binary));
    QTemporaryDir home;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(binary, {});
    QVERIFY(p.waitForStarted(10000));
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

QTEST_GUILESS_MAIN(TestSmoke)
#include "tst_smoke.moc"
