// Causes beneath messages and descriptions after error numbers, in Chinese.
#include "operations/progress_text.h"
#include "resources/resource_ids.h"
#include "support/error_cause.h"

#include <QSet>
#include <QTest>

#include <cerrno>

using Kind = ImagingError::Kind;
Q_DECLARE_METATYPE(ImagingError::Kind)

namespace {

bool hasChinese(const QString &s)
{
    for (QChar c : s) {
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    }
    return false;
}

}  // namespace

class TestErrorCause : public QObject
{
    Q_OBJECT

private slots:
    void causeOfAFailure_data();
    void causeOfAFailure();
    void everyKindHasItsOwnWords();
    void systemDescription_data();
    void systemDescription();
    void otherNumbersKeepTheSystemsText_data();
    void otherNumbersKeepTheSystemsText();
    void logLineKeepsItsFormAsPrefix_data();
    void logLineKeepsItsFormAsPrefix();
};

void TestErrorCause::causeOfAFailure_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("systemError");
    QTest::addColumn<QString>("libraryText");
    QTest::addColumn<QString>("cause");

    const QString lib = QStringLiteral("WIMCreateFile: /srv/a.wim: The file is not a WIM file");
    QTest::newRow("not found") << Kind::NotFound << ENOENT << lib << QStringLiteral("文件或文件夹不存在");
    QTest::newRow("permission") << Kind::AccessDenied << EACCES << lib << QStringLiteral("没有访问权限");
    QTest::newRow("permission, EPERM") << Kind::AccessDenied << EPERM << lib << QStringLiteral("没有访问权限");
    QTest::newRow("read-only fs") << Kind::ReadOnlyFileSystem << EROFS << lib << QStringLiteral("文件系统是只读的");
    QTest::newRow("disk full") << Kind::NoSpace << ENOSPC << lib << QStringLiteral("磁盘空间不足");
    QTest::newRow("not an archive") << Kind::NotAnArchive << 0 << lib << QStringLiteral("这不是 WIM 映像文件");
    QTest::newRow("header") << Kind::DamagedHeader << 0 << lib << QStringLiteral("映像文件头已损坏");
    QTest::newRow("data") << Kind::DamagedData << 0 << lib << QStringLiteral("映像数据已损坏（校验不符或无法解压）");
    QTest::newRow("name") << Kind::NameInUse << 0 << lib << QStringLiteral("已有同名的映像");
    QTest::newRow("long path") << Kind::PathTooLong << ENAMETOOLONG << lib << QStringLiteral("路径或名称过长");
    QTest::newRow("overwrite") << Kind::WouldOverwriteArchive << 0 << lib << QStringLiteral("会覆盖正在读取的映像文件");
    QTest::newRow("busy") << Kind::Busy << 0 << lib << QStringLiteral("映像文件正被另一项操作使用");
    QTest::newRow("aborted") << Kind::Aborted << 0 << lib << QStringLiteral("操作已被用户中止");
    QTest::newRow("unsupported") << Kind::Unsupported << 0 << lib << QStringLiteral("不支持此操作");
    // The kind decides even when the number says something else.
    QTest::newRow("kind over number") << Kind::NotAnArchive << EIO << lib << QStringLiteral("这不是 WIM 映像文件");
    // Without a kind, a number we word ourselves, then the library's text.
    QTest::newRow("other, EIO") << Kind::Other << EIO << lib << QStringLiteral("读写设备时出错");
    QTest::newRow("other, ENOSPC") << Kind::Other << ENOSPC << lib << QStringLiteral("磁盘空间不足");
    QTest::newRow("other, no number") << Kind::Other << 0 << lib << lib;
    QTest::newRow("other, unworded number") << Kind::Other << ECHILD << lib << lib;
    QTest::newRow("none with text") << Kind::None << 0 << lib << lib;
    QTest::newRow("nothing known") << Kind::None << 0 << QString() << QString();
    QTest::newRow("other, nothing known") << Kind::Other << 0 << QString() << QString();
}

void TestErrorCause::causeOfAFailure()
{
    QFETCH(Kind, kind);
    QFETCH(int, systemError);
    QFETCH(QString, libraryText);
    QFETCH(QString, cause);
    QCOMPARE(errorCause(ImagingError{kind, systemError, libraryText}), cause);
}

void TestErrorCause::everyKindHasItsOwnWords()
{
    // Two causes with one wording would tell the user nothing.
    QSet<QString> seen;
    for (int k = int(Kind::NotFound); k < int(Kind::Other); ++k) {
        const QString cause = errorCause(ImagingError{Kind(k), 0, QStringLiteral("library text")});
        QVERIFY2(hasChinese(cause), qPrintable(QStringLiteral("kind %1: %2").arg(k).arg(cause)));
        QVERIFY2(!seen.contains(cause), qPrintable(cause));
        seen.insert(cause);
    }
}

void TestErrorCause::systemDescription_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("ENOENT") << ENOENT << QStringLiteral("文件或文件夹不存在");
    QTest::newRow("EACCES") << EACCES << QStringLiteral("没有访问权限");
    QTest::newRow("EPERM") << EPERM << QStringLiteral("不允许此操作");
    QTest::newRow("EROFS") << EROFS << QStringLiteral("文件系统是只读的");
    QTest::newRow("ENOSPC") << ENOSPC << QStringLiteral("磁盘空间不足");
    QTest::newRow("EDQUOT") << EDQUOT << QStringLiteral("超出磁盘配额");
    QTest::newRow("EIO") << EIO << QStringLiteral("读写设备时出错");
    QTest::newRow("ENAMETOOLONG") << ENAMETOOLONG << QStringLiteral("路径或名称过长");
    QTest::newRow("EEXIST") << EEXIST << QStringLiteral("文件已存在");
    QTest::newRow("ENOTDIR") << ENOTDIR << QStringLiteral("路径中有一项不是文件夹");
    QTest::newRow("EISDIR") << EISDIR << QStringLiteral("这是一个文件夹");
    QTest::newRow("EBUSY") << EBUSY << QStringLiteral("设备或资源正忙");
    QTest::newRow("ETXTBSY") << ETXTBSY << QStringLiteral("文件正被程序运行，不能写入");
    QTest::newRow("EINVAL") << EINVAL << QStringLiteral("参数无效");
    QTest::newRow("ENOMEM") << ENOMEM << QStringLiteral("内存不足");
    QTest::newRow("EMFILE") << EMFILE << QStringLiteral("打开的文件过多");
    QTest::newRow("EXDEV") << EXDEV << QStringLiteral("不能跨文件系统移动");
    QTest::newRow("ELOOP") << ELOOP << QStringLiteral("符号链接层数过多");
    QTest::newRow("ENOTEMPTY") << ENOTEMPTY << QStringLiteral("文件夹不是空的");
    QTest::newRow("EOPNOTSUPP") << EOPNOTSUPP << QStringLiteral("不支持此操作");
    QTest::newRow("no error") << 0 << QString();
    QTest::newRow("negative") << -5 << QString();
}

void TestErrorCause::systemDescription()
{
    QFETCH(int, number);
    QFETCH(QString, text);
    QCOMPARE(systemErrorText(number), text);
}

void TestErrorCause::otherNumbersKeepTheSystemsText_data()
{
    QTest::addColumn<int>("number");
    QTest::newRow("ECHILD") << ECHILD;
    QTest::newRow("EPIPE") << EPIPE;
    QTest::newRow("unknown to the system") << 4000;
}

void TestErrorCause::otherNumbersKeepTheSystemsText()
{
    QFETCH(int, number);
    const QString text = systemErrorText(number);
    QVERIFY(!text.isEmpty());
    QVERIFY2(!text.contains(QChar::ReplacementCharacter), qPrintable(text));
    QCOMPARE(text, QString::fromStdString(std::generic_category().message(number)));
    // ... and a cause without a kind or a library text falls back on it.
    QCOMPARE(errorCause(ImagingError{Kind::Other, number, QString()}), text);
}

void TestErrorCause::logLineKeepsItsFormAsPrefix_data()
{
    QTest::addColumn<unsigned>("message");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("line");
    const QString line = QStringLiteral("%1: /mnt/源/a b.txt [err = %2]%3");
    QTest::newRow("error, EACCES") << unsigned(res::WM_OP_ERROR) << EACCES
                                   << line.arg(QStringLiteral("错误")).arg(EACCES).arg(QStringLiteral(" 没有访问权限"));
    QTest::newRow("error, EIO") << unsigned(res::WM_OP_ERROR) << EIO
                                << line.arg(QStringLiteral("错误")).arg(EIO).arg(QStringLiteral(" 读写设备时出错"));
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

QTEST_GUILESS_MAIN(TestErrorCause)
#include "tst_error_cause.moc"
