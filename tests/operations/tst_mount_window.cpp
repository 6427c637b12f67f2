// Mounting through the window: mount read-write, change, unmount with commit;
// a refused folder; the close with a mount; the next start after a kill.
#include "app/ctarnbox_dlg.h"
#include "app/main_window_commands.h"
#include "fake_clock.h"
#include "imaging/mount_records.h"
#include "operations/mounted_image.h"
#include "ops_fixture.h"
#include "resources/resource_ids.h"
#include "support/widget_prompts.h"
#include "test_archives.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

using namespace opsfixture;

namespace {

QByteArray digest(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256)
                                       : QByteArray();
}

// The list with the mounted image, and the unmount question as the program shows it.
void saveScreenshots(CTarnboxDlg &dlg, const QString &folder, const QString &mount)
{
    dlg.resize(900, 420);
    dlg.RefreshWindow();  // the working directory the test set, which holds the staging files
    dlg.SelectAndFocusRow(0);
    QTest::qWait(50);
    dlg.grab().save(folder + QStringLiteral("/mounted-image.png"));
    WidgetPrompts widgets;
    QTimer::singleShot(300, [folder] {
        if (QWidget *box = QApplication::activeModalWidget()) {
            box->grab().save(folder + QStringLiteral("/unmount-question.png"));
            qobject_cast<QDialog *>(box)->reject();
        }
    });
    widgets.choose(&dlg, QStringLiteral("卸载映像前，是否将 %1 中的更改写入映像文件？").arg(mount),
                   QStringLiteral("卸载映像"),
                   {QStringLiteral("提交更改"), QStringLiteral("放弃更改"), QStringLiteral("取消")});
}

bool mountedNow(const CTarnboxDlg &dlg)
{
    return !const_cast<CTarnboxDlg &>(dlg).Runner().lasting().isEmpty();
}

}  // namespace

class TestMountWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void mountChangeCommit();
    void notAnEmptyFolder();
    void closeWithAMountDiscards();
    void nextStartOffersWhatAKilledWindowLeft();

private:
    FakeClock m_clock;  // the pause before an operation ends passes at once
    // Mounts row 0 through the window at a new folder; "" on failure.
    QString mountThroughWindow(WindowOnArchive &w, bool readWrite);
    QByteArray aTxtByThePeer();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_wim;
    QStringList m_folders;
};

void TestMountWindow::init()
{
    if (::geteuid() != 0)
        QSKIP("mounting images needs root here (CI runs as root)");
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        QSKIP("/dev/fuse is missing or cannot be opened: no FUSE mounts on this machine");
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("PELLWICK_MOUNT_RECORDS", QFile::encodeName(m_dir->filePath(QStringLiteral("records"))));
    qputenv("PELLWICK_WIM_TOOL", PELLWICK_WIM_TOOL);
    const QString source = m_dir->filePath(QStringLiteral("source"));
    testarchives::writeTree(
        source, {{QStringLiteral("a.txt"), QByteArray("alt\n")}, {QStringLiteral("d/b.bin"), QByteArray(40000, 'b')}});
    m_wim = m_dir->filePath(QStringLiteral("a.wim"));
    QString why;
    QVERIFY2(makeArchive(m_wim, {source}, {QStringLiteral("映像")}, &why), qPrintable(why));
}

void TestMountWindow::cleanup()
{
    QVERIFY(waitForOperations());
    for (const QString &dir : std::as_const(m_folders))
        testarchives::runTool(QStringLiteral("fusermount"), {QStringLiteral("-u"), QStringLiteral("-z"), dir}, 10000);
    m_folders.clear();
    m_dir.reset();
}

// /a.txt of image 1 as wimlib-imagex extracts it.
QByteArray TestMountWindow::aTxtByThePeer()
{
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QDir(out).removeRecursively();
    QString why;
    if (!wimlib({QStringLiteral("extract"), m_wim, QStringLiteral("1"), QStringLiteral("/a.txt"),
                 QStringLiteral("--dest-dir=") + out},
                &why))
        return why.toUtf8();
    return testarchives::readTree(out).value(QStringLiteral("a.txt"));
}

QString TestMountWindow::mountThroughWindow(WindowOnArchive &w, bool readWrite)
{
    const QString folder = m_dir->filePath(QStringLiteral("mnt%1").arg(m_folders.size()));
    QDir().mkpath(folder);
    m_folders << folder;
    w.prompts.answerFolder(folder);
    w.dlg->OnCommand(readWrite ? res::ID_MOUNT_IMAGE_RW : res::ID_MOUNT_IMAGE);
    if (!waitForOperations() || !mountedNow(*w.dlg))
        return {};
    return folder;
}

void TestMountWindow::mountChangeCommit()
{
    WindowOnArchive w(m_wim);
    const QString work = m_dir->filePath(QStringLiteral("work"));
    QDir().mkpath(work);
    w.dlg->m_strWorkDir = work;
    const QString mount = mountThroughWindow(w, true);
    QVERIFY2(!mount.isEmpty(), qPrintable(w.prompts.messageTexts().join(QLatin1Char('\n'))));
    QCOMPARE(w.prompts.calls().first().kind, RecordingPrompts::Kind::PickFolder);
    QCOMPARE(w.prompts.calls().first().input, work);  // the chooser opens in the working directory
    QCOMPARE(w.dlg->m_List->item(0, 0)->toolTip(), QStringLiteral("已挂载于 %1（可修改）").arg(mount));
    QCOMPARE(QDir(work).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
    // While mounted read-write, the archive takes no other change.
    w.prompts.clear();
    w.dlg->OnCommand(res::ID_SET_BOOT_IMAGE);
    QCOMPARE(w.prompts.messageTexts(), QStringList{QStringLiteral("映像文件正被使用，请先卸载映像。")});

    testarchives::writeTree(mount, {{QStringLiteral("a.txt"), QByteArray("neu\n")}});
    if (const QString shots = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR"); !shots.isEmpty())
        saveScreenshots(*w.dlg, shots, mount);
    w.prompts.clear();
    w.prompts.answerMessage(0);  // 提交更改
    w.dlg->OnCommand(res::ID_UNMOUNT_IMAGE);
    QVERIFY(waitForOperations());
    QCOMPARE(w.prompts.messages().first().detail, QStringLiteral("提交更改|放弃更改|取消"));
    QVERIFY(!mountedNow(*w.dlg));
    QVERIFY(w.dlg->m_List->item(0, 0)->toolTip().isEmpty());
    QCOMPARE(aTxtByThePeer(), QByteArray("neu\n"));
    // The serving process removes its staging folder just after it answered the unmount.
    QTRY_VERIFY_WITH_TIMEOUT(QDir(work).isEmpty(), 10000);
    QVERIFY(w.finish().isEmpty());
}

void TestMountWindow::notAnEmptyFolder()
{
    WindowOnArchive w(m_wim);
    const QString full = m_dir->filePath(QStringLiteral("full"));
    testarchives::writeTree(full, {{QStringLiteral("x"), QByteArray("x")}});
    w.prompts.answerFolder(full);
    w.dlg->OnCommand(res::ID_MOUNT_IMAGE);
    QVERIFY(waitForOperations());
    QCOMPARE(w.prompts.messageTexts(), QStringList{QStringLiteral("请选择一个空文件夹作为挂载位置。")});
    QVERIFY(!mountedNow(*w.dlg));
    QVERIFY(mountRecords().isEmpty());
    QVERIFY(w.finish().isEmpty());
}

void TestMountWindow::closeWithAMountDiscards()
{
    const QByteArray before = digest(m_wim);
    WindowOnArchive w(m_wim);
    const QString mount = mountThroughWindow(w, true);
    QVERIFY(!mount.isEmpty());
    testarchives::writeTree(mount, {{QStringLiteral("new.txt"), QByteArray("weg\n")}});
    w.prompts.clear();
    w.prompts.answerMessage(1);  // 放弃更改
    w.dlg->CloseApp();
    QVERIFY(QTest::qWaitFor([&w] { return !w.dlg->isVisible(); }, 30000));
    QVERIFY(waitForOperations());
    QCOMPARE(w.prompts.messages().first().detail, QStringLiteral("提交更改|放弃更改|保持挂载|取消"));
    QCOMPARE(mountState(mount), MountState::Gone);
    QCOMPARE(digest(m_wim), before);
}

void TestMountWindow::nextStartOffersWhatAKilledWindowLeft()
{
    // The program mounts the image read-write, a file is changed in the mount,
    // and the window is killed: the mount goes on being served.
    const QString mount = m_dir->filePath(QStringLiteral("left"));
    QDir().mkpath(mount);
    m_folders << mount;
    QProcess window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("PELLWICK_TEST_MOUNT_RW_TO"), mount);
    window.setProcessEnvironment(env);
    window.setProcessChannelMode(QProcess::MergedChannels);
    window.start(QStringLiteral(PELLWICK_EXECUTABLE), {m_wim});
    QVERIFY(window.waitForStarted(10000));
    // Generous: a mount waits for the system's other mounts and unmounts.
    QVERIFY2(
        QTest::qWaitFor([&] { return mountRecords().size() == 1 && mountState(mount) == MountState::Served; }, 90000),
        qPrintable(
            QString::fromUtf8(window.readAll())
            + QStringLiteral("\nrecords: %1, mount state: %2").arg(mountRecords().size()).arg(int(mountState(mount)))));
    testarchives::writeTree(mount, {{QStringLiteral("a.txt"), QByteArray("changed before the kill\n")}});
    window.kill();  // SIGKILL
    QVERIFY(window.waitForFinished(10000));
    QCOMPARE(mountState(mount), MountState::Served);
    QCOMPARE(testarchives::readTree(mount).value(QStringLiteral("a.txt")), QByteArray("changed before the kill\n"));

    // The next start offers it; kept, it is shown; then committed.
    WindowOnArchive w(m_wim);
    w.prompts.answerMessage(2);  // 保持挂载
    w.dlg->OfferRecordedMounts();
    QCOMPARE(w.prompts.messageTexts().size(), 1);
    QVERIFY(w.prompts.messageTexts().first().contains(mount));
    QCOMPARE(w.prompts.messages().first().detail, QStringLiteral("提交更改|放弃更改|保持挂载"));
    QCOMPARE(w.dlg->m_List->item(0, 0)->toolTip(), QStringLiteral("已挂载于 %1（可修改）").arg(mount));
    w.prompts.answerMessage(0);  // 提交更改
    w.dlg->OnCommand(res::ID_UNMOUNT_IMAGE);
    QVERIFY(waitForOperations());
    QCOMPARE(mountState(mount), MountState::Gone);
    QVERIFY(mountRecords().isEmpty());
    QCOMPARE(aTxtByThePeer(), QByteArray("changed before the kill\n"));
    QVERIFY(w.finish().isEmpty());
}

QTEST_MAIN(TestMountWindow)
#include "tst_mount_window.moc"
