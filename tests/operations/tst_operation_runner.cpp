// One operation at a time: the runner's states, and operations held at a
// phase on real archives while the user presses keys, gives commands or closes.
#include "app/main_window_commands.h"
#include "capture_settings/cwim_image_info.h"
#include "fake_clock.h"
#include "held_operation.h"
#include "operations/lasting_operation.h"
#include "operations/message_callback.h"
#include "operations/operation.h"
#include "ops_fixture.h"
#include "recording_host.h"
#include "resources/resource_ids.h"
#include "support/platform.h"
#include "test_archives.h"

#include <QDir>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace opsfixture;
using Phase = HeldOperation::Phase;

namespace {

const QString kAskClose = QStringLiteral("当前正在处理中，你确定要关闭应用程序？");

// A window on an archive, with an operation to be held at `phase`.
struct HeldWindow {
    HeldWindow(const QString &wim, Phase phase) : w(wim), held(w.library, phase), scoped(&held) { w.dlg->show(); }
    ~HeldWindow()
    {
        held.release();
        waitForOperations();
        w.finish();
    }

    // Answers the capture dialog with `folder` and the name `name`.
    void answerCapture(const QString &folder, const QString &name)
    {
        w.prompts.onDialog([folder, name](QDialog &d) {
            auto *info = qobject_cast<CWIM_Image_Info *>(&d);
            if (!info)
                return int(QDialog::Rejected);
            info->m_capturePath = folder;
            info->m_imageName = name;
            return int(QDialog::Accepted);
        });
    }

    // Closes with OK to the question while the operation is held; true when
    // the window stayed open while held and closed, once let go, after the
    // operation's end.
    bool closeWhileHeld()
    {
        bool claimedAtClose = true;
        const auto watch = QObject::connect(w.dlg.get(), &QDialog::finished, w.dlg.get(),
                                            [&] { claimedAtClose = w.dlg->Runner().isClaimed(); });
        const auto unwatch = qScopeGuard([watch] { QObject::disconnect(watch); });
        w.prompts.answerMessage(IDOK);
        w.dlg->CloseApp();
        if (!QTest::qWaitFor([this] { return w.prompts.messageTexts().contains(kAskClose); }, 20000))
            return false;
        QTest::qWait(100);  // a close that does not wait would be done by now
        const bool stayedOpen = w.dlg->isVisible();
        held.release();
        return QTest::qWaitFor([this] { return !w.dlg->isVisible(); }, 60000) && stayedOpen && !claimedAtClose;
    }

    WindowOnArchive w;
    HeldOperation held;
    ScopedImaging scoped;
};

// Left running on an archive: holds it against changes, or only against its replacement.
struct KeptOnArchive : LastingOperation {
    KeptOnArchive(QString path, bool againstChanges) : path(std::move(path)), againstChanges(againstChanges) {}
    QString archive() const override { return path; }
    bool holdsAgainst(ArchiveEffect effect) const override
    {
        return effect == ArchiveEffect::Replaces || (againstChanges && effect == ArchiveEffect::Changes);
    }
    bool hasChanges() const override { return againstChanges; }
    QString description() const override { return QStringLiteral("挂载于 /m"); }
    std::unique_ptr<Operation> ending(Ending) override { return nullptr; }
    QString path;
    bool againstChanges;
};

}  // namespace

class TestOperationRunner : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void runnerStates_data();
    void runnerStates();
    void enterDuringHeldCaptureOpensNothing();
    void heldFormatChainRefusesEveryCommand();
    void closeDuringHeldFormatChainWaitsForIt();
    void closeDuringEachPhase_data();
    void closeDuringEachPhase();
    void closeWhileTheCaptureDialogIsOpen();
    void lastingOperationRefusesWhatItHoldsAgainst_data();
    void lastingOperationRefusesWhatItHoldsAgainst();

private:
    QString makeSource(const QString &name, int files);
    // Applies row 0 onto the drive with OK to the format question; true once
    // the format chain is held.
    bool startFormattingApply(HeldWindow &h, const LoopDrive &drive);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeClock> m_clock;
    QString m_wim;
};

void TestOperationRunner::initTestCase()
{
    QVERIFY2(testarchives::haveTool(QStringLiteral("wimlib-imagex")),
             "wimlib-imagex (package wimtools, installed by scripts/install.sh) is needed to make test archives");
}

void TestOperationRunner::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_clock = std::make_unique<FakeClock>();
    m_wim = m_dir->filePath(QStringLiteral("a.wim"));
    QString why;
    QVERIFY2(makeArchive(m_wim, {makeSource(QStringLiteral("seed"), 3)}, {QStringLiteral("旧映像")}, &why),
             qPrintable(why));
}

void TestOperationRunner::cleanup()
{
    QVERIFY(waitForOperations());
    setFormatCommandRunner({});
    m_clock.reset();
    m_dir.reset();
}

QString TestOperationRunner::makeSource(const QString &name, int files)
{
    const QString root = m_dir->filePath(name);
    QMap<QString, QByteArray> tree;
    for (int i = 0; i < files; ++i) {
        QByteArray data(150000, char('a' + i % 26));
        for (int j = 0; j < data.size(); j += 97)
            data[j] = char(i * 31 + j);  // different contents, so each file is written
        tree.insert(QStringLiteral("d%1/f%2.bin").arg(i % 4).arg(i), data);
    }
    testarchives::writeTree(root, tree);
    return root;
}

bool TestOperationRunner::startFormattingApply(HeldWindow &h, const LoopDrive &drive)
{
    // Formatted, the drive holds NTFS: the image goes onto its device.
    h.w.library.allowedApplyRoot = drive.device();
    setFormatCommandRunner(h.held.formatRunner());
    h.w.prompts.answerFolder(drive.mountPoint());
    h.w.prompts.answerMessage(IDOK);
    h.w.dlg->OnCommand(res::ID_APPLY_IMAGE);
    return h.held.waitUntilHeld();
}

// Steps: c = claim (kept), d = drop the kept claim, i = close if idle, a = abort.
void TestOperationRunner::runnerStates_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<bool>("closedWhenIdle");  // the result of the last "i"
    QTest::addColumn<bool>("accepts");
    QTest::addColumn<bool>("claimable");
    QTest::newRow("idle") << "" << false << true << true;
    QTest::newRow("claimed refuses") << "c" << false << false << false;
    QTest::newRow("released accepts again") << "cd" << false << true << true;
    QTest::newRow("closed when idle") << "i" << true << false << false;
    QTest::newRow("no close while claimed") << "ci" << false << false << false;
    QTest::newRow("abort closes at the release") << "cad" << false << false << false;
    QTest::newRow("abort when idle closes") << "a" << false << false << false;
}

void TestOperationRunner::runnerStates()
{
    QFETCH(QString, steps);
    QFETCH(bool, closedWhenIdle);
    QFETCH(bool, accepts);
    QFETCH(bool, claimable);
    RecordingHost host;
    OperationRunner runner(host);
    OperationRunner::Claim kept;
    bool closed = false;
    for (QChar step : steps) {
        switch (step.unicode()) {
        case 'c':
            kept = runner.claim();
            QVERIFY(kept);
            break;
        case 'd': kept = {}; break;
        case 'i': closed = runner.closeIfIdle(); break;
        case 'a': runner.abort(); break;
        }
    }
    QCOMPARE(closed, closedWhenIdle);
    QCOMPARE(runner.acceptsCommands(), accepts);
    QCOMPARE(bool(runner.claim()), claimable);
    QCOMPARE(runner.abortAnswer() != 0, steps.contains(QLatin1Char('a')));
    kept = {};
}

void TestOperationRunner::enterDuringHeldCaptureOpensNothing()
{
    const QString other = m_dir->filePath(QStringLiteral("b.wim"));
    QString why;
    QVERIFY2(makeArchive(other, {m_dir->filePath(QStringLiteral("seed"))}, {QStringLiteral("别的")}, &why),
             qPrintable(why));
    HeldWindow h(m_wim, Phase::CaptureScan);
    h.answerCapture(makeSource(QStringLiteral("source"), 8), QStringLiteral("新映像"));
    h.w.dlg->AddImage();
    QVERIFY(h.held.waitUntilHeld());

    h.w.prompts.clear();
    h.w.prompts.answerOpenFile(other);  // what the chooser would give
    QTest::keyClick(h.w.dlg.get(), Qt::Key_Return);
    QVERIFY(h.w.prompts.calls().isEmpty());

    h.held.release();
    QVERIFY(waitForOperations());
    QCOMPARE(h.w.dlg->m_strFilePath, m_wim);
    QCOMPARE(column(*h.w.dlg, 2), (QStringList{QStringLiteral("旧映像"), QStringLiteral("新映像")}));
    QCOMPARE(testarchives::wimInfo(m_wim).names, (QStringList{QStringLiteral("旧映像"), QStringLiteral("新映像")}));
    QCOMPARE(testarchives::wimInfo(other).imageCount, 1);
}

// A drive on a loop device, formatted to NTFS by the real chain, or a skip
// that says why there cannot be one here.
#define MAKE_NTFS_DRIVE(name)                                                                                          \
    if (const QString unavailable = loopDrivesUnavailable(true); !unavailable.isEmpty())                               \
        QSKIP(qPrintable(unavailable));                                                                                \
    LoopDrive name(m_dir->filePath(QStringLiteral("disk")), 64, QStringLiteral("ext2"));                               \
    if (!name.ok())                                                                                                    \
    QSKIP(qPrintable(name.error()))

void TestOperationRunner::heldFormatChainRefusesEveryCommand()
{
    MAKE_NTFS_DRIVE(drive);
    HeldWindow h(m_wim, Phase::FormatCommand);
    QVERIFY(startFormattingApply(h, drive));
    QVERIFY(!h.w.dlg->IsBusy());  // not busy yet, but claimed

    const int asked = int(h.w.prompts.calls().size());
    const QStringList rows = windowview::rows(*h.w.dlg);
    for (const MainWindowCommand &command : mainWindowCommands()) {
        if (command.refusedWhileBusy)
            h.w.dlg->OnCommand(command.id);
    }
    QTest::keyClick(h.w.dlg.get(), Qt::Key_Return);
    QTableWidget *list = h.w.dlg->m_List;
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0, 0)).center());
    QCOMPARE(h.w.dlg->ContextMenuIndex(), -1);
    QVERIFY(h.w.dlg->CreateContextMenu() == nullptr);
    QCOMPARE(int(h.w.prompts.calls().size()), asked);
    QVERIFY(h.w.library.calls().isEmpty());
    QCOMPARE(windowview::rows(*h.w.dlg), rows);

    h.held.release();
    QVERIFY(waitForOperations());
    // Unmount, mkntfs, mount; then the NTFS drive's probe, unmount and mount back.
    const QStringList lines = h.held.formatLines();
    QCOMPARE(lines.size(), 6);
    QVERIFY2(lines[3].startsWith(QStringLiteral("blkid ")) && lines[4].startsWith(QStringLiteral("umount "))
                 && lines[5].startsWith(QStringLiteral("mount -t ntfs-3g ")),
             qPrintable(lines.join(QLatin1Char('\n'))));
    QCOMPARE(h.w.library.callsStartingWith(QStringLiteral("ApplyImage")).size(), 1);
    QVERIFY(platform::isDriveRoot(drive.mountPoint()));
    QVERIFY(h.w.dlg->AcceptsCommands());
}

void TestOperationRunner::closeDuringHeldFormatChainWaitsForIt()
{
    MAKE_NTFS_DRIVE(drive);
    HeldWindow h(m_wim, Phase::FormatCommand);
    QVERIFY(startFormattingApply(h, drive));  // unmounted, mkntfs not run yet

    QVERIFY(h.closeWhileHeld());
    QCOMPARE(h.held.formatLines().size(), 3);
    QVERIFY(platform::isDriveRoot(drive.mountPoint()));
    QCOMPARE(drive.fsType(), QStringLiteral("ntfs"));
    // The apply stopped after the chain, before the image was even loaded.
    QVERIFY(h.w.library.calls().filter(QStringLiteral("Image")).isEmpty());
    QVERIFY(testarchives::wimVerify(m_wim));
}

void TestOperationRunner::closeDuringEachPhase_data()
{
    QTest::addColumn<int>("phase");
    QTest::newRow("capture, scan") << int(Phase::CaptureScan);
    QTest::newRow("capture, write") << int(Phase::CaptureWrite);
    QTest::newRow("apply") << int(Phase::Apply);
}

void TestOperationRunner::closeDuringEachPhase()
{
    QFETCH(int, phase);
    HeldWindow h(m_wim, Phase(phase));
    if (Phase(phase) == Phase::Apply) {
        const QString target = m_dir->filePath(QStringLiteral("target"));
        QVERIFY(QDir().mkpath(target));
        h.w.library.allowedApplyRoot = target;
        h.w.prompts.answerFolder(target);
        h.w.dlg->OnCommand(res::ID_APPLY_IMAGE);
    } else {
        h.answerCapture(makeSource(QStringLiteral("source"), 24), QStringLiteral("中止"));
        h.w.dlg->OnCommand(res::ID_ADD_IMAGE);
    }
    QVERIFY(h.held.waitUntilHeld());
    QVERIFY(h.closeWhileHeld());
    QCOMPARE(g_nAbort.load(), int32_t(WIM_MSG_ABORT_IMAGE));
    // Nothing the aborted operation asked after the question was shown.
    QCOMPARE(h.w.prompts.messageTexts().last(), kAskClose);
    QString output;
    QVERIFY2(testarchives::wimVerify(m_wim, &output), qPrintable(output));
    QCOMPARE(testarchives::wimInfo(m_wim).imageCount, 1);
}

void TestOperationRunner::closeWhileTheCaptureDialogIsOpen()
{
    WindowOnArchive w(m_wim);
    w.dlg->show();
    bool endedByClose = false;
    w.prompts.onDialog([&w, &endedByClose](QDialog &d) {
        // The user closes the main window while the dialog is still open.
        w.prompts.answerMessage(IDOK);
        w.dlg->CloseApp();
        endedByClose = QTest::qWaitFor([&d] { return !d.isVisible(); }, 5000);
        return d.result();
    });
    w.dlg->OnCommand(res::ID_ADD_IMAGE);
    QVERIFY(QTest::qWaitFor([&w] { return !w.dlg->isVisible(); }, 20000));
    QVERIFY(endedByClose);
    QCOMPARE(w.prompts.messageTexts(), QStringList{kAskClose});
    QCOMPARE(w.library.calls(), QStringList{QStringLiteral("Close")});  // the archive, by the close
    QVERIFY(waitForOperations());
    QVERIFY(w.finish().isEmpty());
}

void TestOperationRunner::lastingOperationRefusesWhatItHoldsAgainst_data()
{
    QTest::addColumn<bool>("againstChanges");
    QTest::newRow("read-write mount") << true;
    QTest::newRow("read-only mount") << false;
}

void TestOperationRunner::lastingOperationRefusesWhatItHoldsAgainst()
{
    QFETCH(bool, againstChanges);
    WindowOnArchive w(m_wim);
    w.dlg->Runner().keep(std::make_shared<KeptOnArchive>(w.dlg->m_strArchiveOnDisk, againstChanges));
    for (const MainWindowCommand &command : mainWindowCommands()) {
        if (command.effect == ArchiveEffect::None)
            continue;
        w.prompts.clear();
        w.library.clear();
        w.dlg->OnCommand(command.id);
        const bool held = command.effect == ArchiveEffect::Replaces || againstChanges;
        const QString refusal = QStringLiteral("映像文件正被使用，请先卸载映像。");
        QCOMPARE(w.prompts.messageTexts().contains(refusal), held);
        if (held) {
            QCOMPARE(w.prompts.messageTexts(), QStringList{refusal});
            QVERIFY(w.library.calls().isEmpty());
        }
        QVERIFY(waitForOperations());
    }
    QCOMPARE(testarchives::wimInfo(m_wim).imageCount, 1);
    w.dlg->Runner().forget(w.dlg->Runner().lasting().value(0).get());
    QVERIFY(w.finish().isEmpty());
}

QTEST_MAIN(TestOperationRunner)
#include "tst_operation_runner.moc"
