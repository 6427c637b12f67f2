// The format step of an apply, with a scripted command runner: no command is
// ever run here, so the system drive can stand in as the drive to format.
#include "operations/drive_format.h"
#include "support/platform.h"
#include "support/shell_quote.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Answers each command line with the exit code scripted for its first word
// (-1: cannot start); everything else succeeds.
struct Script {
    QMap<QString, int> exitCodes;
    QStringList lines;

    FormatCommandRunner runner()
    {
        return [this](const QString &line) {
            lines << line;
            const int code = exitCodes.value(line.section(QLatin1Char(' '), 0, 0), 0);
            CommandResult r;
            r.started = code >= 0;
            r.exitCode = r.started ? code : -1;
            if (r.started && code != 0)
                r.output = QStringLiteral("%1: scripted failure\n\n").arg(line.section(QLatin1Char(' '), 0, 0));
            return r;
        };
    }
};

}  // namespace

class TestDriveFormat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void steps_data();
    void steps();
    void unprivilegedRunsNothing();
    void plainFolderIsNoDrive();
    void outputTail_data();
    void outputTail();

private:
    QString m_drive;
    QString m_device;
};

void TestDriveFormat::initTestCase()
{
    m_drive = platform::systemDriveRoot();
    m_device = platform::deviceOfMountPoint(m_drive);
    if (!m_device.startsWith(QLatin1String("/dev/")))
        QSKIP("the root filesystem is not on a block device here (an overlay or tmpfs), so there is no drive to plan "
              "for");
}

void TestDriveFormat::steps_data()
{
    QTest::addColumn<QString>("failing");  // first word of the failing command, "" for none
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("remountFails");
    QTest::addColumn<int>("stage");
    QTest::addColumn<int>("commandsRun");
    QTest::addColumn<QStringList>("detailHas");

    QTest::newRow("all steps succeed") << QString() << 0 << false << int(FormatOutcome::Formatted) << 3
                                       << QStringList{};
    QTest::newRow("unmount refused") << QStringLiteral("umount") << 32 << false << int(FormatOutcome::NotFormatted) << 1
                                     << QStringList{QStringLiteral("退出码 32"),
                                                    QStringLiteral("umount: scripted failure")};
    QTest::newRow("unmount cannot start") << QStringLiteral("umount") << -1 << false << int(FormatOutcome::NotFormatted)
                                          << 1 << QStringList{QStringLiteral("无法运行命令：umount")};
    QTest::newRow("format fails, drive mounted back")
        << QStringLiteral("mkntfs") << 1 << false << int(FormatOutcome::NotFormatted) << 3
        << QStringList{QStringLiteral("mkntfs: scripted failure")};
    QTest::newRow("format fails, drive stays unmounted")
        << QStringLiteral("mkntfs") << 1 << true << int(FormatOutcome::NotFormatted) << 3
        << QStringList{QStringLiteral("已卸载，未能重新挂载")};
    QTest::newRow("formatted, not mounted back")
        << QStringLiteral("mount") << 32 << false << int(FormatOutcome::NotMounted) << 3
        << QStringList{QStringLiteral("mount -t ntfs-3g"), QStringLiteral("mount: scripted failure")};
}

void TestDriveFormat::steps()
{
    QFETCH(QString, failing);
    QFETCH(int, code);
    QFETCH(bool, remountFails);
    QFETCH(int, stage);
    QFETCH(int, commandsRun);
    QFETCH(QStringList, detailHas);

    Script script;
    if (!failing.isEmpty())
        script.exitCodes.insert(failing, code);
    const QString remount = QStringLiteral("mount ") + shellQuote(m_device) + QLatin1Char(' ') + shellQuote(m_drive);
    FormatCommandRunner inner = script.runner();
    // The remount after a failed format is the only plain "mount" line.
    FormatCommandRunner run = [&](const QString &line) {
        CommandResult r = inner(line);
        if (line == remount && remountFails) {
            r.exitCode = 32;
            r.output = QStringLiteral("mount: wrong fs type");
        }
        return r;
    };

    const FormatOutcome outcome = FormatDrive(m_drive, QStringLiteral("ravo"), true, run);
    QCOMPARE(int(outcome.stage), stage);
    QCOMPARE(script.lines.size(), commandsRun);
    const QStringList planned = platform::formatCommands(m_drive, QStringLiteral("ravo"));
    QCOMPARE(planned.size(), 3);
    QCOMPARE(planned[1], QStringLiteral("mkntfs --quick --force --label 'ravo' ") + shellQuote(m_device));
    if (failing == QLatin1String("mkntfs")) {
        QCOMPARE(script.lines, (QStringList{planned[0], planned[1], remount}));
    } else {
        QCOMPARE(script.lines, planned.mid(0, commandsRun));
    }
    for (const QString &part : detailHas)
        QVERIFY2(outcome.detail.contains(part), qPrintable(outcome.detail));
    if (stage == FormatOutcome::Formatted)
        QVERIFY(outcome.detail.isEmpty());
}

void TestDriveFormat::unprivilegedRunsNothing()
{
    Script script;
    const FormatOutcome outcome = FormatDrive(m_drive, QStringLiteral("ravo"), false, script.runner());
    QCOMPARE(int(outcome.stage), int(FormatOutcome::NotFormatted));
    QVERIFY(script.lines.isEmpty());
    QVERIFY2(outcome.detail.contains(QStringLiteral("root")), qPrintable(outcome.detail));
}

void TestDriveFormat::plainFolderIsNoDrive()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Script script;
    const FormatOutcome outcome = FormatDrive(dir.path(), QStringLiteral("ravo"), true, script.runner());
    QCOMPARE(int(outcome.stage), int(FormatOutcome::NotFormatted));
    QVERIFY(script.lines.isEmpty());
    QVERIFY2(outcome.detail.contains(dir.path()), qPrintable(outcome.detail));
}

void TestDriveFormat::outputTail_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("tail");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("blank lines only") << QStringLiteral("\n \r\n\n") << QString();
    QTest::newRow("short, with CR LF") << QStringLiteral("\r\numount: /mnt: target is busy.\r\n\r\n")
                                       << QStringLiteral("umount: /mnt: target is busy.");
    QStringList many;
    for (int i = 1; i <= 12; ++i)
        many << QStringLiteral("line %1").arg(i);
    QTest::newRow("long: the last eight lines")
        << many.join(QLatin1Char('\n')) << QStringLiteral("…") + many.mid(4).join(QLatin1Char('\n'));
    const QString wide(1000, QLatin1Char('x'));
    QTest::newRow("one very long line") << wide << QStringLiteral("…") + wide.right(600);
}

void TestDriveFormat::outputTail()
{
    QFETCH(QString, output);
    QFETCH(QString, tail);
    QCOMPARE(OutputTail(output), tail);
}

QTEST_GUILESS_MAIN(TestDriveFormat)
#include "tst_drive_format.moc"
