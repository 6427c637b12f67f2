// Applying an image: real archives made by wimlib-imagex, applied into folders
// and onto file-backed drives on loop devices; the operation against a
// recording host, and what only the main window shows through it.
#include "app/ctarnbox_dlg.h"
#include "fake_clock.h"
#include "fault_injecting_imaging.h"
#include "imaging/wimlib_backend.h"
#include "operations/apply_operation.h"
#include "operations/drive_format.h"
#include "ops_fixture.h"
#include "recording_prompts.h"
#include "resources/resource_ids.h"
#include "support/platform.h"
#include "test_archives.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace opsfixture;
using Fault = FaultInjectingImaging::Call;
using Kind = RecordingPrompts::Kind;

namespace {

const QString kQuestion = QStringLiteral("你需要格式化目标分区吗(NTFS分区 4K自动对齐)？格式化后原有数据将会丢失！");
const QString kSystemWarning = QStringLiteral("正在释放到当前系统盘，点击确定继续！");
const QString kApplyFailed = QStringLiteral("无法释放映像到目标路径");

const QMap<QString, QByteArray> kTree1{
    {QStringLiteral("readme.txt"), "first image\n"},
    {QStringLiteral("docs/说明.txt"), "中文内容"},
    {QStringLiteral("docs/deep/data.bin"), QByteArray(70000, 'x')},
    {QStringLiteral("empty/"), QByteArray()},
};
const QMap<QString, QByteArray> kTree2{
    {QStringLiteral("second.txt"), "second image\n"},
    {QStringLiteral("bin/tool"), QByteArray("\x7f"
                                            "ELF",
                                            4)},
};

// Records every command line and answers from a script: exit codes by the
// command's first word; anything not scripted succeeds without running.
struct FakeRunner {
    QStringList lines;
    QMap<QString, int> exitCodes;

    FormatCommandRunner runner()
    {
        return [this](const QString &line) {
            lines << line;
            CommandResult r;
            r.started = true;
            r.exitCode = exitCodes.value(line.section(QLatin1Char(' '), 0, 0), 0);
            r.output = r.exitCode ? QStringLiteral("scripted failure") : QString();
            return r;
        };
    }
};

// Every entry of `expected` is in `actual` with the same contents.
bool holdsTree(const QMap<QString, QByteArray> &actual, const QMap<QString, QByteArray> &expected, QString *why)
{
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (!actual.contains(it.key())) {
            *why = QStringLiteral("missing ") + it.key();
            return false;
        }
        if (actual.value(it.key()) != it.value()) {
            *why = QStringLiteral("different contents of ") + it.key();
            return false;
        }
    }
    return true;
}

}  // namespace

// An ext2 drive of `sizeMiB` on a loop device, or a skip that says why there
// cannot be one here; `ntfs`: formatting it to NTFS must be possible too.
#define MAKE_DRIVE(name, ntfs, sizeMiB)                                                                                \
    if (const QString unavailable = loopDrivesUnavailable(ntfs); !unavailable.isEmpty())                               \
        QSKIP(qPrintable(unavailable));                                                                                \
    LoopDrive name(m_dir->filePath(QStringLiteral("disk")), sizeMiB, QStringLiteral("ext2"));                          \
    if (!name.ok())                                                                                                    \
    QSKIP(qPrintable(name.error()))

class TestApply : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Through the window.
    void appliesThroughTheWindow();
    void failureThroughTheWindow();
    void libraryMessagesFollowCompletion();

    // Against the host.
    void appliesSelectedImage_data();
    void appliesSelectedImage();
    void cancelledPickerDoesNothing();
    void failures_data();
    void failures();
    void systemDriveWarnsThenAsks();
    void archiveDriveIsNeverFormatted();
    void driveRootCancelAppliesUnformatted();
    void formatsAndApplies();
    void failedFormatAppliesNothing();
    void driveOfWorkDirIsNeverFormatted();

private:
    void startApply();
    void setWorkDir(const QString &dir);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeClock> m_clock;
    WindowOrHost m_on;
    FakeRunner m_runner;
    QString m_wim;
};

void TestApply::initTestCase()
{
    QVERIFY2(testarchives::haveTool(QStringLiteral("wimlib-imagex")),
             "wimlib-imagex (package wimtools, installed by scripts/install.sh) is needed to make test archives");
}

void TestApply::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    const QString tree1 = m_dir->filePath(QStringLiteral("tree1"));
    const QString tree2 = m_dir->filePath(QStringLiteral("tree2"));
    testarchives::writeTree(tree1, kTree1);
    testarchives::writeTree(tree2, kTree2);
    m_wim = m_dir->filePath(QStringLiteral("source.wim"));
    QString why;
    QVERIFY2(makeArchive(m_wim, {tree1, tree2}, {QStringLiteral("one"), QStringLiteral("two")}, &why), qPrintable(why));

    m_clock = std::make_unique<FakeClock>();
    m_runner = FakeRunner();
    setFormatCommandRunner(m_runner.runner());
    // The window only for the tests of what it shows; the rest run the operation on a host.
    const QByteArrayList windowTests{"appliesThroughTheWindow", "failureThroughTheWindow",
                                     "libraryMessagesFollowCompletion"};
    if (windowTests.contains(QTest::currentTestFunction()))
        QVERIFY(m_on.openWindow(m_wim, 2));
    else
        QVERIFY(m_on.openHost(m_wim));
    m_on.library->allowedApplyRoot = m_dir->path();
}

void TestApply::cleanup()
{
    QVERIFY(waitForOperations());
    setFormatCommandRunner({});
    // Every handle the apply opened was closed, exactly once.
    const QString handles = m_on.finish();
    m_clock.reset();
    m_dir.reset();
    QVERIFY2(handles.isEmpty(), qPrintable(handles));
}

void TestApply::startApply()
{
    if (m_on.h) {
        m_on.h->run(std::make_unique<ApplyOperation>());
        QVERIFY(!m_on.h->host.IsBusy());
        return;
    }
    m_on.dlg->OnCommand(res::ID_APPLY_IMAGE);
    QVERIFY(waitForOperations());
    QVERIFY(!m_on.dlg->IsBusy());
}

void TestApply::setWorkDir(const QString &dir)
{
    ArchiveState state = m_on.h->host.OpenArchiveState();
    state.workDir = dir;
    m_on.h->host.setArchive(state);
}

void TestApply::appliesThroughTheWindow()
{
    m_on.dlg->SelectAndFocusRow(1);
    const QString target = m_dir->filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(target));
    m_on.prompts->answerFolder(target);
    startApply();
    QCOMPARE(testarchives::readTree(target), testarchives::readTree(m_dir->filePath(QStringLiteral("tree2"))));
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("LoadImage")), QStringList{QStringLiteral("LoadImage 2")});
    const auto calls = m_on.prompts->calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[1].kind, Kind::MessageBox);
    // The pauses after the apply: 500 ms, then EndBusy's own 500 ms.
    QCOMPARE(calls[1].text, kDone + QStringLiteral("1秒"));
    QCOMPARE(calls[1].caption, QStringLiteral("温馨提示"));
    QCOMPARE(calls[1].type, MB_OK);
}

void TestApply::failureThroughTheWindow()
{
    const QString target = m_dir->filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(target));
    m_on.faults->failOn(Fault::ApplyImage);
    m_on.prompts->answerFolder(target);
    startApply();
    QCOMPARE(m_on.messages(), (QStringList{kApplyFailed, kDone}));
    QCOMPARE(m_on.prompts->messages().first().caption, QStringLiteral("错误提示"));
    QVERIFY(m_on.dlg->m_tStart != 0);
    QVERIFY(testarchives::readTree(target).isEmpty());
}

void TestApply::appliesSelectedImage_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("tree");
    QTest::newRow("row 0 is image 1") << 0 << 1;
    QTest::newRow("row 1 is image 2") << 1 << 2;
}

void TestApply::appliesSelectedImage()
{
    QFETCH(int, row);
    QFETCH(int, tree);
    ArchiveState state = m_on.h->host.OpenArchiveState();
    state.selectedRow = row;
    m_on.h->host.setArchive(state);
    const QString target = m_dir->filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(target));
    m_on.prompts->answerFolder(target + QLatin1Char('/'));  // the picker's separator is dropped
    startApply();

    QCOMPARE(testarchives::readTree(target),
             testarchives::readTree(m_dir->filePath(QStringLiteral("tree%1").arg(tree))));
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("LoadImage")),
             QStringList{QStringLiteral("LoadImage %1").arg(row + 1)});
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("ApplyImage")),
             QStringList{QStringLiteral("ApplyImage %1 6").arg(target)});
    // An ordinary folder asks nothing: the picker, then the completion alone.
    const auto calls = m_on.prompts->calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].kind, Kind::PickFolder);
    QCOMPARE(calls[0].text, QStringLiteral("选择目录"));
    QCOMPARE(m_on.messages(), QStringList{kDone});
    // The pause after the apply (EndBusy's own is the window's).
    QCOMPARE(m_clock->totalSleptMs(), 500);
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("Register")).size(), 1);
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("Unregister")).size(), 1);
    // The open archive is untouched.
    QCOMPARE(testarchives::wimInfo(m_wim).imageCount, 2);
}

void TestApply::cancelledPickerDoesNothing()
{
    startApply();
    const auto calls = m_on.prompts->calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].kind, Kind::PickFolder);
    QVERIFY(m_on.library->calls().isEmpty());
    QVERIFY(!m_on.started());  // never busy
}

void TestApply::failures_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("busy");

    const QString error = QStringLiteral("错误提示");
    QTest::newRow("image cannot be loaded")
        << int(Fault::LoadImage) << QStringList{kApplyFailed, kDone} << error << true;
    QTest::newRow("apply fails") << int(Fault::ApplyImage) << QStringList{kApplyFailed, kDone} << error << true;
    QTest::newRow("callback refused") << int(Fault::RegisterMessageCallback)
                                      << QStringList{QStringLiteral("回掉出错！")}
                                      << QCoreApplication::applicationName() << false;
    QTest::newRow("unregistration refused")
        << int(Fault::UnregisterMessageCallback) << QStringList{QStringLiteral("吊销出错！"), kDone} << error << true;
}

void TestApply::failures()
{
    QFETCH(int, fault);
    QFETCH(QStringList, messages);
    QFETCH(QString, caption);
    QFETCH(bool, busy);
    const QString target = m_dir->filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(target));
    m_on.faults->failOn(Fault(fault));
    m_on.prompts->answerFolder(target);
    startApply();

    QCOMPARE(m_on.messages(), messages);
    QCOMPARE(m_on.prompts->messages().first().caption, caption);
    QCOMPARE(m_on.started(), busy);
    if (Fault(fault) == Fault::UnregisterMessageCallback) {
        // The apply itself went through.
        QCOMPARE(testarchives::readTree(target), testarchives::readTree(m_dir->filePath(QStringLiteral("tree1"))));
    } else {
        QVERIFY(testarchives::readTree(target).isEmpty());
    }
}

void TestApply::libraryMessagesFollowCompletion()
{
    QStringList shown;
    m_on.prompts->onDialog([&](QDialog &d) {
        auto *edit = d.findChild<QPlainTextEdit *>(QStringLiteral("IDC_OUTPUT_TEXT"));
        shown << (edit ? edit->toPlainText() : QStringLiteral("<no text>"));
        return int(QDialog::Accepted);
    });
    m_on.library->messagesDuringLongCalls = {{WIM_MSG_WARNING, QStringLiteral("/img/a.txt"), 32},
                                             {WIM_MSG_ERROR, QStringLiteral("/img/b.txt"), 5}};
    m_on.dlg->m_strLog = QStringLiteral("left over from before");
    const QString target = m_dir->filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(target));
    m_on.prompts->answerFolder(target);
    startApply();

    const auto calls = m_on.prompts->calls();
    QCOMPARE(calls.size(), 3);
    QVERIFY(calls[1].text.startsWith(kDone));
    QCOMPARE(calls[2].kind, Kind::Dialog);
    QCOMPARE(calls[2].text, QStringLiteral("CErrorShow"));
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QStringLiteral("警告: /img/a.txt [err = 32]")), qPrintable(shown[0]));
    QVERIFY2(shown[0].contains(QStringLiteral("错误: /img/b.txt [err = 5]")), qPrintable(shown[0]));
    QVERIFY(!shown[0].contains(QStringLiteral("left over")));
}

void TestApply::systemDriveWarnsThenAsks()
{
    // Cancel to the question; the decorator refuses any apply outside the
    // test's folder, so nothing is ever written to "/".
    m_on.prompts->answerFolder(QStringLiteral("/"));
    m_on.prompts->answerMessage(IDOK);
    m_on.prompts->answerMessage(IDCANCEL);
    startApply();

    const auto messages = m_on.prompts->messages();
    QCOMPARE(m_on.messages(), (QStringList{kSystemWarning, kQuestion, kApplyFailed, kDone}));
    QCOMPARE(messages[0].caption, QStringLiteral("警告"));
    QCOMPARE(messages[0].type & MB_TYPEMASK, MB_OK);
    QCOMPARE(messages[1].caption, QStringLiteral("温馨提示"));
    QCOMPARE(messages[1].type & MB_TYPEMASK, MB_OKCANCEL);
    QVERIFY(m_runner.lines.isEmpty());
    // The library was handed the root as it is, and refused by the guard.
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("ApplyImage")),
             QStringList{QStringLiteral("ApplyImage / 6 refused")});
}

void TestApply::archiveDriveIsNeverFormatted()
{
    const QString drive = platform::mountPointOf(m_wim);
    if (!platform::isDriveRoot(drive))
        QSKIP("the temporary folder is not on a block-device drive here, so there is no drive root to pick");
    // OK to every question: the refusal must come before any command runs.
    m_on.prompts->answerFolder(drive);
    m_on.prompts->answerMessage(IDOK);
    m_on.prompts->answerMessage(IDOK);
    startApply();

    QStringList expected{kQuestion, QStringLiteral("目标分区上有当前打开的映像文件，不能格式化！")};
    if (platform::isSystemDriveRoot(drive))
        expected.prepend(kSystemWarning);
    QCOMPARE(m_on.messages(), expected);
    QCOMPARE(m_on.prompts->messages().last().caption, QStringLiteral("错误提示"));
    QVERIFY(m_runner.lines.isEmpty());
    QVERIFY(m_on.library->calls().isEmpty());
    QVERIFY(!m_on.started());
}

void TestApply::driveRootCancelAppliesUnformatted()
{
    MAKE_DRIVE(drive, false, 16);
    testarchives::writeTree(drive.mountPoint(), {{QStringLiteral("kept.txt"), "data that stays"}});
    m_on.library->allowedApplyRoot = drive.mountPoint();

    m_on.prompts->answerFolder(drive.mountPoint());
    m_on.prompts->answerMessage(IDCANCEL);
    startApply();

    QCOMPARE(m_on.messages(), (QStringList{kQuestion, kDone}));
    QVERIFY(m_runner.lines.isEmpty());
    QCOMPARE(drive.fsType(), QStringLiteral("ext2"));
    const auto tree = testarchives::readTree(drive.mountPoint());
    QCOMPARE(tree.value(QStringLiteral("kept.txt")), QByteArray("data that stays"));
    QString why;
    QVERIFY2(holdsTree(tree, testarchives::readTree(m_dir->filePath(QStringLiteral("tree1"))), &why), qPrintable(why));
}

void TestApply::formatsAndApplies()
{
    MAKE_DRIVE(drive, true, 64);
    testarchives::writeTree(drive.mountPoint(), {{QStringLiteral("old.txt"), "goes with the format"}});
    // Formatted, the drive holds NTFS: the image goes onto its device.
    m_on.library->allowedApplyRoot = drive.device();
    setFormatCommandRunner({});  // the real unmount, mkntfs and ntfs-3g mount

    ArchiveState state = m_on.h->host.OpenArchiveState();
    state.selectedRow = 1;
    m_on.h->host.setArchive(state);
    m_on.prompts->answerFolder(drive.mountPoint());
    m_on.prompts->answerMessage(IDOK);
    startApply();

    QCOMPARE(m_on.messages(), (QStringList{kQuestion, kDone}));
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("ApplyImage")),
             QStringList{QStringLiteral("ApplyImage %1 %2").arg(drive.device()).arg(6 | WIM_FLAG_NTFS_VOLUME)});
    QCOMPARE(drive.fsType(), QStringLiteral("ntfs"));
    QCOMPARE(drive.label(), QStringLiteral("ravo"));
    QVERIFY(platform::isDriveRoot(drive.mountPoint()));
    const auto tree = testarchives::readTree(drive.mountPoint());
    QVERIFY(!tree.contains(QStringLiteral("old.txt")));
    QString why;
    QVERIFY2(holdsTree(tree, testarchives::readTree(m_dir->filePath(QStringLiteral("tree2"))), &why), qPrintable(why));
}

void TestApply::failedFormatAppliesNothing()
{
    MAKE_DRIVE(drive, true, 16);
    testarchives::writeTree(drive.mountPoint(), {{QStringLiteral("kept.txt"), "still here"}});
    m_on.library->allowedApplyRoot = drive.mountPoint();
    setFormatCommandRunner({});
    // An open file keeps the drive busy: the real unmount fails.
    QFile busy(drive.mountPoint() + QStringLiteral("/kept.txt"));
    QVERIFY(busy.open(QIODevice::ReadOnly));

    m_on.prompts->answerFolder(drive.mountPoint());
    m_on.prompts->answerMessage(IDOK);
    startApply();
    busy.close();

    const auto messages = m_on.prompts->messages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages[0].text, kQuestion);
    QCOMPARE(messages[1].text, QStringLiteral("格式化失败，未释放映像！"));
    QVERIFY2(messages[1].detail.contains(QStringLiteral("umount")), qPrintable(messages[1].detail));
    QCOMPARE(messages[1].caption, QStringLiteral("错误提示"));
    QVERIFY(m_on.library->calls().isEmpty());
    QVERIFY(!m_on.started());
    QCOMPARE(drive.fsType(), QStringLiteral("ext2"));
    const QString out = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    if (!out.isEmpty()) {
        QMessageBox box(QMessageBox::NoIcon, messages[1].caption, messages[1].text, QMessageBox::Ok);
        box.setInformativeText(messages[1].detail);
        box.show();
        QVERIFY(box.grab().save(out + QStringLiteral("/format-failed.png")));
    }
    QCOMPARE(testarchives::readTree(drive.mountPoint()).value(QStringLiteral("kept.txt")), QByteArray("still here"));
}

void TestApply::driveOfWorkDirIsNeverFormatted()
{
    MAKE_DRIVE(drive, false, 16);
    const QString work = drive.mountPoint() + QStringLiteral("/work");
    QVERIFY(QDir().mkpath(work));
    setWorkDir(work);

    m_on.prompts->answerFolder(drive.mountPoint());
    m_on.prompts->answerMessage(IDOK);
    startApply();

    QCOMPARE(m_on.messages(),
             (QStringList{kQuestion, QStringLiteral("目标分区上有临时目录，不能格式化！请先更改临时目录。")}));
    QVERIFY(m_runner.lines.isEmpty());
    QVERIFY(m_on.library->calls().isEmpty());
    QCOMPARE(drive.fsType(), QStringLiteral("ext2"));
    QVERIFY(QFileInfo(work).isDir());
}

QTEST_MAIN(TestApply)
#include "tst_apply.moc"
