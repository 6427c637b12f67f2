// Why a failure happened, on real files: the message of its own with the
// cause beneath, and one warning that a report can quote. Opening and capture
// through the window, the apply's causes on a recording host.
#include "app/ctarnbox_dlg.h"
#include "capture_settings/cwim_image_info.h"
#include "fake_clock.h"
#include "operations/apply_operation.h"
#include "ops_fixture.h"
#include "resources/resource_ids.h"
#include "support/widget_prompts.h"
#include "test_archives.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

using namespace opsfixture;

namespace {

// The window's warning for `text` with `cause` is logged exactly once.
void expectLoggedOnce(const QString &text, const QString &cause)
{
    const QRegularExpression line(QLatin1Char('^') + QRegularExpression::escape(text + QLatin1Char(' ') + cause)
                                  + QStringLiteral(" \\["));
    QTest::ignoreMessage(QtWarningMsg, line);
    QTest::failOnWarning(line);
}

// The apply command as the window's handler runs it, to its end.
void applyOnHost(HostOnArchive &h)
{
    h.run([](OperationHost &) { return std::make_unique<ApplyOperation>(); });
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

}  // namespace

class TestFailureCauses : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void openSaysWhy_data();
    void openSaysWhy();
    void captureSaysWhy_data();
    void captureSaysWhy();
    void damagedDataDuringApply();
    void applyOverItsOwnArchive();

private:
    FakeClock m_clock;  // the pause before an operation ends passes at once
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_tree;
    QString m_wim;
};

void TestFailureCauses::initTestCase()
{
    QVERIFY2(testarchives::haveTool(QStringLiteral("wimlib-imagex")),
             "wimlib-imagex (package wimtools, installed by scripts/install.sh) is needed to make test archives");
}

void TestFailureCauses::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // Others may pass through: one test captures as an unprivileged user.
    QVERIFY(QFile::setPermissions(
        m_dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                           | QFileDevice::ExeOther | QFileDevice::ReadGroup | QFileDevice::ExeGroup));
    m_tree = m_dir->filePath(QStringLiteral("tree"));
    QByteArray noise(200000, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + i / 13) & 0xFF);
    testarchives::writeTree(m_tree, {{QStringLiteral("a.bin"), noise}, {QStringLiteral("说明.txt"), "中文"}});
    m_wim = m_dir->filePath(QStringLiteral("good.wim"));
    QString why;
    // Uncompressed: the file's data lies right after the header.
    QVERIFY2(makeArchive(m_wim, {m_tree}, {QStringLiteral("one")}, &why, QStringLiteral("none")), qPrintable(why));
}

void TestFailureCauses::openSaysWhy_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("cause");
    QTest::newRow("a text file") << QStringLiteral("text") << QStringLiteral("这不是 WIM 映像文件");
    QTest::newRow("a truncated archive") << QStringLiteral("truncated") << QStringLiteral("映像文件头已损坏");
    QTest::newRow("no such file") << QStringLiteral("missing") << QStringLiteral("文件或文件夹不存在");
}

void TestFailureCauses::openSaysWhy()
{
    QFETCH(QString, kind);
    QFETCH(QString, cause);
    const QString bad = m_dir->filePath(QStringLiteral("bad.wim"));
    if (kind == QLatin1String("text")) {
        writeFile(bad, "not an archive\n");
    } else if (kind == QLatin1String("truncated")) {
        QFile good(m_wim);
        QVERIFY(good.open(QIODevice::ReadOnly));
        writeFile(bad, good.read(good.size() / 2));
    }
    WindowOnArchive w(m_wim);
    const QStringList rowsBefore = rows(*w.dlg);
    QCOMPARE(rowsBefore.size(), 1);

    expectLoggedOnce(QStringLiteral("文件无法打开！"), cause);
    w.prompts.answerOpenFile(bad);
    w.dlg->OnCommand(res::ID_OPEN_FILE);

    const auto messages = w.prompts.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("文件无法打开！"));
    QCOMPARE(messages[0].caption, QStringLiteral("错误提示"));
    // Which file, then why.
    QCOMPARE(messages[0].detail, bad + QLatin1Char('\n') + cause);
    // As before: no archive open, the previous rows still shown.
    QVERIFY(!w.dlg->m_hWim);
    QCOMPARE(rows(*w.dlg), rowsBefore);
    QCOMPARE(w.finish(), QString());
}

void TestFailureCauses::captureSaysWhy_data()
{
    QTest::addColumn<bool>("readOnlyArchive");
    QTest::addColumn<QString>("cause");
    QTest::newRow("into an archive open read-only") << true << QStringLiteral("映像文件是以只读方式打开的，不能写入");
    QTest::newRow("from a folder that cannot be read") << false << QStringLiteral("没有访问权限");
}

void TestFailureCauses::captureSaysWhy()
{
    QFETCH(bool, readOnlyArchive);
    QFETCH(QString, cause);
    QString source = m_tree;
    if (readOnlyArchive) {
        QVERIFY(QFile::setPermissions(m_wim, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    } else {
        source = m_dir->filePath(QStringLiteral("locked"));
        testarchives::writeTree(source, {{QStringLiteral("x.txt"), "x"}});
        QVERIFY(QFile::setPermissions(source, QFileDevice::Permissions()));
    }
    WindowOnArchive w(m_wim);
    QCOMPARE(w.dlg->m_strAccess, readOnlyArchive ? QStringLiteral("仅读取") : QStringLiteral("读取和写入"));
    const QByteArray before = testarchives::readTree(m_dir->path()).value(QStringLiteral("good.wim"));
    w.prompts.onDialog([source](QDialog &d) {
        auto *info = qobject_cast<CWIM_Image_Info *>(&d);
        if (!info)
            return int(QDialog::Rejected);
        info->m_capturePath = source;
        info->m_imageName = QStringLiteral("new");
        return int(QDialog::Accepted);
    });

    // Root reads every folder: the capture runs as nobody then.
    const bool dropRoot = !readOnlyArchive && ::geteuid() == 0;
    if (dropRoot)
        QVERIFY(::seteuid(65534) == 0);
    auto restore = qScopeGuard([dropRoot] {
        if (dropRoot && ::seteuid(0) != 0)
            qFatal("could not become root again");
    });
    expectLoggedOnce(QStringLiteral("无法捕获次映像！"), cause);
    w.dlg->OnCommand(res::ID_ADD_IMAGE);
    QVERIFY(waitForOperations());
    restore.dismiss();
    if (dropRoot)
        QVERIFY(::seteuid(0) == 0);
    QFile::setPermissions(source, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // The early end: no completion message follows.
    const auto messages = w.prompts.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("无法捕获次映像！"));
    QCOMPARE(messages[0].detail, cause);
    QCOMPARE(rows(*w.dlg).size(), 1);
    QCOMPARE(testarchives::readTree(m_dir->path()).value(QStringLiteral("good.wim")), before);
    QCOMPARE(w.finish(), QString());
}

void TestFailureCauses::damagedDataDuringApply()
{
    // The archive opens (header, tables and texts are whole); the file's data
    // no longer matches its checksum.
    {
        QFile f(m_wim);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.seek(208 + 50000));
        f.write(QByteArray(4000, '\x5a'));
    }
    const QString target = m_dir->filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(target));
    HostOnArchive w(m_wim);
    WIM_INFO info{};
    QVERIFY(w.library.WIMGetAttributes(w.wim, &info, sizeof info));
    QCOMPARE(info.ImageCount, 1u);
    w.library.allowedApplyRoot = target;

    const QString damaged =
        QStringLiteral("映像数据已损坏（校验不符或无法解压）\n目标文件夹中现为不完整的副本：释放中途停止，"
                       "已删除其中 1 个数据已损坏的文件（见输出窗口）。");
    expectLoggedOnce(QStringLiteral("无法释放映像到目标路径"), damaged);
    w.prompts.answerFolder(target);
    applyOnHost(w);

    // The damaged file is gone rather than left with its full size and wrong
    // bytes; the log names it.
    QVERIFY(!QFileInfo::exists(target + QStringLiteral("/a.bin")));
    const QString log = w.host.calls().join(QLatin1Char('\n'));
    QVERIFY2(log.contains(QStringLiteral("数据已损坏，已从目标中删除：") + target + QStringLiteral("/a.bin")),
             qPrintable(log));

    const auto messages = w.prompts.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("无法释放映像到目标路径"));
    QCOMPARE(messages[0].caption, QStringLiteral("错误提示"));
    QCOMPARE(messages[0].detail, damaged);
    // The apply still ends as it always does.
    QCOMPARE(shownMessages(w.prompts, &w.host), (QStringList{messages[0].text, kDone}));

    // The box as the program shows it.
    const QString shots = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        WidgetPrompts widgets;
        bool saved = false;
        QTimer::singleShot(0, [&saved, shots] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            saved = box->grab().save(shots + QStringLiteral("/error-damaged-data.png"));
            box->buttons().first()->click();
        });
        widgets.messageBox(nullptr, messages[0].text, messages[0].caption, MB_OK, messages[0].detail);
        QVERIFY(saved);
    }
    QCOMPARE(w.finish(), QString());
}

void TestFailureCauses::applyOverItsOwnArchive()
{
    // The image holds a file where its own archive lies below the target.
    const QString target = m_dir->filePath(QStringLiteral("target"));
    const QString wim = target + QStringLiteral("/own.wim");
    testarchives::writeTree(m_tree, {{QStringLiteral("own.wim"), "not the archive"}});
    QVERIFY(QDir().mkpath(target));
    QString why;
    QVERIFY2(makeArchive(wim, {m_tree}, {QStringLiteral("one")}, &why), qPrintable(why));
    const QByteArray before = testarchives::readTree(target).value(QStringLiteral("own.wim"));

    HostOnArchive w(wim);
    w.library.allowedApplyRoot = target;
    const QString cause = QStringLiteral("会覆盖正在读取的映像文件");
    expectLoggedOnce(QStringLiteral("无法释放映像到目标路径"), cause);
    w.prompts.answerFolder(target);
    applyOnHost(w);

    const auto messages = w.prompts.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("无法释放映像到目标路径"));
    QCOMPARE(messages[0].detail, cause);
    QCOMPARE(shownMessages(w.prompts, &w.host), (QStringList{messages[0].text, kDone}));
    // Nothing was written: the target holds the archive alone, as it was.
    QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{QStringLiteral("own.wim")});
    QCOMPARE(testarchives::readTree(target).value(QStringLiteral("own.wim")), before);
    QVERIFY(testarchives::wimVerify(wim));
    QCOMPARE(w.finish(), QString());
}

QTEST_MAIN(TestFailureCauses)
#include "tst_failure_causes.moc"
