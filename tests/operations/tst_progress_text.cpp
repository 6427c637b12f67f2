// Duration, estimate, percentage and log texts.
#include "operations/progress_text.h"
#include "resources/resource_ids.h"

#include <QTest>

class TestProgressText : public QObject
{
    Q_OBJECT

private slots:
    void duration_data();
    void duration();
    void estimate_data();
    void estimate();
    void logLines_data();
    void logLines();
    void logJoinsWithLineBreakFirst();
    void finishedMessage();
};

void TestProgressText::duration_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("hours") << qint64(3725) << QStringLiteral("1小时: 2分: 5秒");
    QTest::newRow("one hour") << qint64(3600) << QStringLiteral("1小时: 0分: 0秒");
    QTest::newRow("minutes") << qint64(65) << QStringLiteral("1分: 5秒");
    QTest::newRow("one minute") << qint64(60) << QStringLiteral("1分: 0秒");
    QTest::newRow("seconds") << qint64(7) << QStringLiteral("7秒");
    QTest::newRow("zero") << qint64(0) << QStringLiteral("0秒");
    QTest::newRow("no days") << qint64(90061) << QStringLiteral("25小时: 1分: 1秒");
    QTest::newRow("large") << qint64(4900) << QStringLiteral("1小时: 21分: 40秒");
}

void TestProgressText::duration()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(FormatDuration(seconds), text);
}

void TestProgressText::estimate_data()
{
    QTest::addColumn<qint64>("elapsed");
    QTest::addColumn<int>("percent");
    QTest::addColumn<qint64>("remaining");
    QTest::addColumn<QString>("text");
    QTest::newRow("30 s at 20%") << qint64(30) << 20 << qint64(120) << QStringLiteral("2分: 0秒");
    QTest::newRow("10 s at 3%") << qint64(10) << 3 << qint64(323) << QStringLiteral("5分: 23秒");
    QTest::newRow("100 s at 2%") << qint64(100) << 2 << qint64(4900) << QStringLiteral("1小时: 21分: 40秒");
    QTest::newRow("10 s at 50%") << qint64(10) << 50 << qint64(10) << QStringLiteral("10秒");
    QTest::newRow("done") << qint64(77) << 100 << qint64(0) << QStringLiteral("0秒");
    QTest::newRow("at once") << qint64(0) << 1 << qint64(0) << QStringLiteral("0秒");
}

void TestProgressText::estimate()
{
    QFETCH(qint64, elapsed);
    QFETCH(int, percent);
    QFETCH(qint64, remaining);
    QFETCH(QString, text);
    QCOMPARE(EstimateRemainingSeconds(elapsed, percent), remaining);
    QCOMPARE(FormatDuration(EstimateRemainingSeconds(elapsed, percent)), text);
}

void TestProgressText::logLines_data()
{
    QTest::addColumn<unsigned>("message");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("line");
    QTest::newRow("error") << res::WM_OP_ERROR << QStringLiteral("/d/a.txt") << 5
                           << QStringLiteral("错误: /d/a.txt [err = 5]");
    QTest::newRow("retry") << res::WM_OP_RETRY << QStringLiteral("x") << 0 << QStringLiteral("超时: x [err = 0]");
    QTest::newRow("info") << res::WM_OP_INFO << QStringLiteral("数据") << 7 << QStringLiteral("信息: 数据 [err = 7]");
    QTest::newRow("warning, negative code")
        << res::WM_OP_WARNING << QStringLiteral("/b") << -2 << QStringLiteral("警告: /b [err = -2]");
    QTest::newRow("not a log message") << res::WM_OP_PROGRESS << QStringLiteral("/b") << 1 << QString();
}

void TestProgressText::logLines()
{
    QFETCH(unsigned, message);
    QFETCH(QString, path);
    QFETCH(int, code);
    QFETCH(QString, line);
    QCOMPARE(FormatLogLine(message, path, code), line);
}

void TestProgressText::logJoinsWithLineBreakFirst()
{
    QString log;
    AppendToLog(log, FormatLogLine(res::WM_OP_ERROR, u"D:\\a.txt", 5));
    AppendToLog(log, FormatLogLine(res::WM_OP_WARNING, u"D:\\b.txt", 32));
    QCOMPARE(log, QStringLiteral("\r\n错误: D:\\a.txt [err = 5]\r\n警告: D:\\b.txt [err = 32]"));
}

void TestProgressText::finishedMessage()
{
    QCOMPARE(FinishedMessage(FormatDuration(65)), QStringLiteral("操作完成，一共耗时 1分: 5秒"));
    QCOMPARE(FormatPercent(37), QStringLiteral("37%"));
}

QTEST_APPLESS_MAIN(TestProgressText)
#include "tst_progress_text.moc"
