// Causes beneath messages and descriptions after error numbers, in Chinese.
#include "operations/progress_text.h"
#include "resources/resource_ids.h"
#include "support/error_cause.h"

#include <QTest>

#include <cerrno>
#include <system_error>

using Kind = ImagingError::Kind;
Q_DECLARE_METATYPE(ImagingError::Kind)

class TestErrorCause : public QObject
{
    Q_OBJECT

private slots:
    void causeOfAFailure_data();
    void causeOfAFailure();
    void systemDescription_data();
    void systemDescription();
    void logLineKeepsItsFormAsPrefix_data();
    void logLineKeepsItsFormAsPrefix();
    void mostTellingOfSeveralAttempts_data();
    void mostTellingOfSeveralAttempts();
};

void TestErrorCause::causeOfAFailure_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("systemError");
    QTest::addColumn<QString>("libraryText");
    QTest::addColumn<QString>("cause");

    const QString lib = QStringLiteral("WIMCreateFile: /srv/a.wim: The file is not a WIM file");
    QTest::newRow("permission") << Kind::AccessDenied << EACCES << lib << QStringLiteral("没有访问权限");
    QTest::newRow("disk full") << Kind::NoSpace << ENOSPC << lib << QStringLiteral("磁盘空间不足");
    QTest::newRow("not an archive") << Kind::NotAnArchive << 0 << lib << QStringLiteral("这不是 WIM 映像文件");
    QTest::newRow("data") << Kind::DamagedData << 0 << lib << QStringLiteral("映像数据已损坏（校验不符或无法解压）");
    // Not the same words as a folder that cannot be read (permission above).
    QTest::newRow("opened read-only") << Kind::ArchiveReadOnly << 0 << lib
                                      << QStringLiteral("映像文件是以只读方式打开的，不能写入");
    // The kind decides even when the number says something else.
    QTest::newRow("kind over number") << Kind::NotAnArchive << EIO << lib << QStringLiteral("这不是 WIM 映像文件");
    // Without a kind, a number we word ourselves, then the library's text.
    QTest::newRow("other, EIO") << Kind::Other << EIO << lib << QStringLiteral("读写设备时出错");
    QTest::newRow("other, no number") << Kind::Other << 0 << lib << lib;
    QTest::newRow("other, unworded number") << Kind::Other << ECHILD << lib << lib;
    QTest::newRow("nothing known") << Kind::None << 0 << QString() << QString();
}

void TestErrorCause::causeOfAFailure()
{
    QFETCH(Kind, kind);
    QFETCH(int, systemError);
    QFETCH(QString, libraryText);
    QFETCH(QString, cause);
    QCOMPARE(errorCause(ImagingError{kind, systemError, libraryText}), cause);
}

void TestErrorCause::systemDescription_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("EACCES") << EACCES << QStringLiteral("没有访问权限");
    QTest::newRow("ENOSPC") << ENOSPC << QStringLiteral("磁盘空间不足");
    QTest::newRow("unworded: the system's text")
        << ECHILD << QString::fromStdString(std::generic_category().message(ECHILD));
    QTest::newRow("no error") << 0 << QString();
    QTest::newRow("negative") << -5 << QString();
}

void TestErrorCause::systemDescription()
{
    QFETCH(int, number);
    QFETCH(QString, text);
    QCOMPARE(systemErrorText(number), text);
}

void TestErrorCause::logLineKeepsItsFormAsPrefix_data()
{
    QTest::addColumn<unsigned>("message");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("line");
    const QString line = QStringLiteral("%1: /mnt/源/a b.txt [err = %2]%3");
    QTest::newRow("error, EACCES") << unsigned(res::WM_OP_ERROR) << EACCES
                                   << line.arg(QStringLiteral("错误")).arg(EACCES).arg(QStringLiteral(" 没有访问权限"));
    QTest::newRow("warning, unsupported")
        << unsigned(res::WM_OP_WARNING) << EOPNOTSUPP
        << line.arg(QStringLiteral("警告")).arg(EOPNOTSUPP).arg(QStringLiteral(" 不支持此操作"));
    QTest::newRow("info, no number") << unsigned(res::WM_OP_INFO) << 0
                                     << line.arg(QStringLiteral("信息")).arg(0).arg(QString());
    QTest::newRow("error, negative") << unsigned(res::WM_OP_ERROR) << -1
                                     << line.arg(QStringLiteral("错误")).arg(-1).arg(QString());
}

void TestErrorCause::logLineKeepsItsFormAsPrefix()
{
    QFETCH(unsigned, message);
    QFETCH(int, code);
    QFETCH(QString, line);
    const QString path = QStringLiteral("/mnt/源/a b.txt");
    const QString plain = FormatLogLine(message, path, code);
    const QString described = withSystemErrorText(plain, code);
    QCOMPARE(described, line);
    QVERIFY(described.startsWith(plain));
}

void TestErrorCause::mostTellingOfSeveralAttempts_data()
{
    QTest::addColumn<QList<int>>("kinds");  // one attempt each, the highest access first
    QTest::addColumn<int>("chosen");        // index of the attempt whose failure is told
    const int denied = int(Kind::AccessDenied);
    const int readOnlyFs = int(Kind::ReadOnlyFileSystem);
    // A text file: the first attempt says it all.
    QTest::newRow("not an archive") << QList<int>{int(Kind::NotAnArchive), int(Kind::NotAnArchive)} << 0;
    // Read-only, and truncated: not writable says less than damaged.
    QTest::newRow("read-only and damaged")
        << QList<int>{denied, int(Kind::DamagedHeader), int(Kind::DamagedHeader)} << 1;
    QTest::newRow("read-only medium and damaged") << QList<int>{readOnlyFs, int(Kind::NotAnArchive)} << 1;
    // Nothing but refusals: the first.
    QTest::newRow("unreadable") << QList<int>{denied, denied, denied} << 0;
    QTest::newRow("missing") << QList<int>{int(Kind::NotFound), int(Kind::NotFound)} << 0;
    QTest::newRow("none") << QList<int>{} << -1;
}

void TestErrorCause::mostTellingOfSeveralAttempts()
{
    QFETCH(QList<int>, kinds);
    QFETCH(int, chosen);
    QList<ImagingError> attempts;
    for (int i = 0; i < kinds.size(); ++i)
        attempts << ImagingError{Kind(kinds[i]), 0, QStringLiteral("attempt %1").arg(i)};
    const ImagingError told = mostTellingFailure(attempts);
    QCOMPARE(told.text, chosen < 0 ? QString() : QStringLiteral("attempt %1").arg(chosen));
}

QTEST_GUILESS_MAIN(TestErrorCause)
#include "tst_error_cause.moc"
