// NTFS drives through the main window: applying onto and capturing from loop
// devices that hold NTFS, and what the drive looks like afterwards.
#include "capture_settings/cwim_image_info.h"
#include "capture_settings/exclusion_list.h"
#include "fake_clock.h"
#include "held_operation.h"
#include "operations/message_callback.h"
#include "operations/ntfs_drive.h"
#include "ops_fixture.h"
#include "resources/resource_ids.h"
#include "support/platform.h"
#include "test_archives.h"

#include <QDir>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/xattr.h>

using namespace opsfixture;
using namespace Qt::StringLiterals;
using testarchives::runTool;

namespace {

const QString kQuestion = u"你需要格式化目标分区吗(NTFS分区 4K自动对齐)？格式化后原有数据将会丢失！"_s;

// Owner Administrators, group SYSTEM; Everyone may read, Administrators everything.
const QByteArray kAcl = QByteArray::fromHex(
    "0100048048000000580000000000000014000000020034000200000000031400a900120001010000000000010000000000031800ff011f00"
    "0102000000000005200000002002000001020000000000052000000020020000010100000000000512000000");

QByteArray attributeBytes(quint32 attributes)
{
    QByteArray bytes(4, 0);
    qToBigEndian(attributes, bytes.data());
    return bytes;
}

// Through ntfs-3g: system.ntfs_* are what NTFS keeps, user.* the named streams.
bool setAttribute(const QString &path, const char *name, const QByteArray &value)
{
    return ::setxattr(QFile::encodeName(path).constData(), name, value.constData(), size_t(value.size()), 0) == 0;
}

QByteArray attribute(const QString &path, const char *name)
{
    QByteArray value(4096, 0);
    const ssize_t n = ::getxattr(QFile::encodeName(path).constData(), name, value.data(), size_t(value.size()));
    return n < 0 ? QByteArray("<none>") : value.left(n);
}

// Mounted from its own device at its own place, and writable.
bool mountedWritable(const LoopDrive &drive)
{
    const auto mount = platform::mountAt(drive.mountPoint());
    QFile probe(drive.mountPoint() + u"/written-after"_s);
    const bool writable = probe.open(QIODevice::WriteOnly) && probe.write("x") == 1;
    probe.close();
    probe.remove();
    return mount && mount->source == drive.device() && !mount->readOnly && writable;
}

}  // namespace

#define NTFS_DRIVE(name)                                                                                               \
    if (const QString unavailable = loopDrivesUnavailable(true); !unavailable.isEmpty())                               \
        QSKIP(qPrintable(unavailable));                                                                                \
    LoopDrive name(m_dir->filePath(QString::fromLatin1(#name)), 32, u"ntfs"_s);                                        \
    if (!name.ok())                                                                                                    \
    QSKIP(qPrintable(name.error()))

class TestNtfsWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void applyKeepsWhatWindowsNeeds();
    void applyRefusals_data();
    void applyRefusals();
    void closeDuringApplyMountsBack();
    void captureLeavesOutVolumePaths();
    void captureRefusedForTheWorkingDirectory();

private:
    // An archive captured by wimlib-imagex from an NTFS drive prepared with
    // what Windows keeps and ntfs-3g's mount loses.
    QString windowsArchive();
    // An archive of one image holding kept.txt, made by wimlib-imagex.
    QString seededArchive();
    void captureIntoWindow(WindowOnArchive &w, const QString &folder);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeClock> m_clock;
};

void TestNtfsWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_clock = std::make_unique<FakeClock>();
}

void TestNtfsWindow::cleanup()
{
    QVERIFY(waitForOperations());
    m_clock.reset();
    m_dir.reset();
}

QString TestNtfsWindow::windowsArchive()
{
    LoopDrive source(m_dir->filePath(u"source"_s), 32, u"ntfs"_s);
    const QString file = source.mountPoint() + u"/Program Files/Long File Name.txt"_s;
    testarchives::writeTree(source.mountPoint(), {{u"Program Files/Long File Name.txt"_s, "hello from Windows\n"}});
    const bool prepared = source.ok() && setAttribute(file, "user.Zone.Identifier", "ZoneId=3\r\n")
                          && setAttribute(file, "system.ntfs_acl", kAcl)
                          && setAttribute(file, "system.ntfs_dos_name", "LONGFI~1.TXT")
                          && setAttribute(file, "system.ntfs_attrib_be", attributeBytes(0x23))
                          && runTool(u"umount"_s, {source.mountPoint()}).exitCode == 0;
    const QString wim = m_dir->filePath(u"windows.wim"_s);
    QString why;
    return prepared && wimlib({u"capture"_s, source.device(), wim, u"Windows"_s}, &why) ? wim : QString();
}

QString TestNtfsWindow::seededArchive()
{
    const QString wim = m_dir->filePath(u"a.wim"_s);
    testarchives::writeTree(m_dir->filePath(u"seed"_s), {{u"kept.txt"_s, "from the image"}});
    QString why;
    return makeArchive(wim, {m_dir->filePath(u"seed"_s)}, {u"old"_s}, &why) ? wim : QString();
}

void TestNtfsWindow::applyKeepsWhatWindowsNeeds()
{
    NTFS_DRIVE(target);
    const QString wim = windowsArchive();
    QVERIFY(!wim.isEmpty());
    WindowOnArchive w(wim);
    w.library.allowedApplyRoot = target.device();
    w.prompts.answerFolder(target.mountPoint());
    w.prompts.answerMessage(IDCANCEL);  // freshly made, it needs no format
    w.dlg->OnCommand(res::ID_APPLY_IMAGE);
    QVERIFY(waitForOperations());

    QStringList texts = w.prompts.messageTexts();
    texts.last().truncate(kDone.size());
    QCOMPARE(texts, (QStringList{kQuestion, kDone}));
    QCOMPARE(w.library.callsStartingWith(u"ApplyImage"_s),
             QStringList{u"ApplyImage %1 %2"_s.arg(target.device()).arg(6 | WIM_FLAG_NTFS_VOLUME)});
    QVERIFY(mountedWritable(target));
    const QString file = target.mountPoint() + u"/Program Files/Long File Name.txt"_s;
    QCOMPARE(testarchives::readTree(target.mountPoint()).value(u"Program Files/Long File Name.txt"_s),
             QByteArray("hello from Windows\n"));
    QCOMPARE(attribute(file, "system.ntfs_attrib_be"), attributeBytes(0x23));
    QCOMPARE(attribute(file, "user.Zone.Identifier"), QByteArray("ZoneId=3\r\n"));
    QCOMPARE(attribute(file, "system.ntfs_dos_name"), QByteArray("LONGFI~1.TXT"));
    QCOMPARE(attribute(file, "system.ntfs_acl"), kAcl);
    QVERIFY(w.finish().isEmpty());
}

void TestNtfsWindow::applyRefusals_data()
{
    QTest::addColumn<bool>("holdsFiles");
    QTest::addColumn<QString>("detail");
    // The process's current folder keeps the drive from being unmounted.
    QTest::newRow("device busy") << false << u"正在被其他程序使用，无法卸载"_s;
    // NTFS-3G mode only adds: nothing is touched instead of half an image.
    QTest::newRow("format declined, files there") << true << u"目标分区不是空的"_s;
}

void TestNtfsWindow::applyRefusals()
{
    QFETCH(bool, holdsFiles);
    QFETCH(QString, detail);
    NTFS_DRIVE(target);
    const QString wim = seededArchive();
    QVERIFY(!wim.isEmpty());
    if (holdsFiles)
        testarchives::writeTree(target.mountPoint(), {{u"kept.txt"_s, "the user's"}});
    const QString before = QDir::currentPath();
    const auto back = qScopeGuard([before] { QDir::setCurrent(before); });
    if (!holdsFiles)
        QVERIFY(QDir::setCurrent(target.mountPoint()));

    WindowOnArchive w(wim);
    w.library.allowedApplyRoot = target.device();
    w.prompts.answerFolder(target.mountPoint());
    w.prompts.answerMessage(IDCANCEL);
    w.dlg->OnCommand(res::ID_APPLY_IMAGE);
    QVERIFY(waitForOperations());
    QDir::setCurrent(before);

    const auto messages = w.prompts.messages();
    QCOMPARE(messages.size(), 3);
    QCOMPARE(messages[1].text, u"无法释放映像到目标路径"_s);
    QVERIFY2(messages[1].detail.contains(detail), qPrintable(messages[1].detail));
    QVERIFY(messages[2].text.startsWith(kDone));
    QVERIFY(w.library.callsStartingWith(u"ApplyImage"_s).isEmpty());
    QVERIFY(mountedWritable(target));
    QCOMPARE(testarchives::readTree(target.mountPoint()).value(u"kept.txt"_s),
             holdsFiles ? QByteArray("the user's") : QByteArray());
    QVERIFY(w.finish().isEmpty());
}

void TestNtfsWindow::closeDuringApplyMountsBack()
{
    NTFS_DRIVE(target);
    const QString wim = windowsArchive();
    QVERIFY(!wim.isEmpty());
    WindowOnArchive w(wim);
    HeldOperation held(w.library, HeldOperation::Phase::Apply);
    ScopedImaging scoped(&held);
    w.library.allowedApplyRoot = target.device();
    w.prompts.answerFolder(target.mountPoint());
    w.prompts.answerMessage(IDCANCEL);
    w.dlg->OnCommand(res::ID_APPLY_IMAGE);
    QVERIFY(held.waitUntilHeld());
    QVERIFY(!platform::mountAt(target.mountPoint()));  // the library has the device

    w.prompts.answerMessage(IDOK);
    w.dlg->CloseApp();
    QVERIFY(QTest::qWaitFor([&] { return w.prompts.messageTexts().size() == 2; }, 20000));
    QVERIFY(w.dlg->isVisible());
    held.release();
    QVERIFY(QTest::qWaitFor([&] { return !w.dlg->isVisible(); }, 60000));
    QVERIFY(waitForOperations());
    QCOMPARE(g_nAbort.load(), int32_t(WIM_MSG_ABORT_IMAGE));
    QVERIFY(mountedWritable(target));
    w.finish();
}

void TestNtfsWindow::captureIntoWindow(WindowOnArchive &w, const QString &folder)
{
    exclusionList().clear();
    for (const QString &e : ExclusionList::defaults())
        exclusionList().append(e);
    w.prompts.onDialog([folder](QDialog &d) {
        auto *info = qobject_cast<CWIM_Image_Info *>(&d);
        if (info) {
            info->m_capturePath = folder;
            info->m_imageName = u"分区"_s;
        }
        return int(info ? QDialog::Accepted : QDialog::Rejected);
    });
    w.dlg->OnCommand(res::ID_ADD_IMAGE);
    QVERIFY(waitForOperations());
}

void TestNtfsWindow::captureLeavesOutVolumePaths()
{
    NTFS_DRIVE(drive);
    const QString wim = seededArchive();
    QVERIFY(!wim.isEmpty());
    testarchives::writeTree(drive.mountPoint(), {{u"pagefile.sys"_s, "swap"},
                                                 {u"Windows/Temp/a.tmp"_s, "temporary"},
                                                 {u"Windows/System32/kernel.dll"_s, "code"},
                                                 {u"Data/pagefile.sys"_s, "kept: not at the root"}});
    QVERIFY(setAttribute(drive.mountPoint() + u"/Windows/System32/kernel.dll"_s, "system.ntfs_attrib_be",
                         attributeBytes(0x26)));

    WindowOnArchive w(wim);
    captureIntoWindow(w, drive.mountPoint());

    QStringList texts = w.prompts.messageTexts();
    QCOMPARE(texts.size(), 1);
    QVERIFY(texts[0].startsWith(kDone));
    QCOMPARE(w.library.callsStartingWith(u"CaptureImage"_s), QStringList{u"CaptureImage "_s + drive.device()});
    QCOMPARE(w.dlg->m_List->rowCount(), 2);
    const QStringList paths = testarchives::wimDir(wim, 2);
    for (const QString &kept : {u"/Windows/Temp"_s, u"/Windows/System32/kernel.dll"_s, u"/Data/pagefile.sys"_s})
        QVERIFY2(paths.contains(kept), qPrintable(kept));
    for (const QString &left : {u"/pagefile.sys"_s, u"/Windows/Temp/a.tmp"_s})
        QVERIFY2(!paths.contains(left), qPrintable(left));
    // Read from the device: the attributes came with the file (hidden, system, archive).
    const auto r =
        runTool(u"wimlib-imagex"_s, {u"dir"_s, wim, u"2"_s, u"--detailed"_s, u"--path=/Windows/System32/kernel.dll"_s});
    QVERIFY2(r.output.contains(u"Attributes          = 0x00000026"_s), qPrintable(r.output));
    QVERIFY(mountedWritable(drive));
    QVERIFY(w.finish().isEmpty());
}

void TestNtfsWindow::captureRefusedForTheWorkingDirectory()
{
    NTFS_DRIVE(drive);
    const QString wim = seededArchive();
    QVERIFY(!wim.isEmpty());
    const QString work = drive.mountPoint() + u"/work"_s;
    QVERIFY(QDir().mkpath(work));

    WindowOnArchive w(wim);
    w.dlg->m_strWorkDir = work;
    captureIntoWindow(w, drive.mountPoint());

    const auto messages = w.prompts.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, u"无法捕获次映像！"_s);
    QVERIFY2(messages[0].detail.contains(work), qPrintable(messages[0].detail));
    QVERIFY(w.library.callsStartingWith(u"CaptureImage"_s).isEmpty());
    QCOMPARE(w.dlg->m_List->rowCount(), 1);
    QCOMPARE(testarchives::wimInfo(wim).imageCount, 1);
    QVERIFY(mountedWritable(drive));
    QVERIFY(w.finish().isEmpty());
}

QTEST_MAIN(TestNtfsWindow)
#include "tst_ntfs_window.moc"
