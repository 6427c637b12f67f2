// Capturing a folder into a new image, end to end on real archives: the
// operation against a recording host, and what only the window shows through it.
#include "app/ctarnbox_dlg.h"
#include "capture_settings/cwim_image_info.h"
#include "capture_settings/exclusion_list.h"
#include "fake_clock.h"
#include "fault_injecting_imaging.h"
#include "imaging/wim_handle.h"
#include "imaging/wimlib_backend.h"
#include "operations/capture_operation.h"
#include "operations/message_callback.h"
#include "operations/operation_runner.h"
#include "ops_fixture.h"
#include "recording_host.h"
#include "recording_prompts.h"
#include "support/background_task.h"
#include "support/platform.h"
#include "test_archives.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <unistd.h>

using opsfixture::kDone;
using testarchives::wimDir;
using testarchives::wimInfo;
using Fault = FaultInjectingImaging::Call;

namespace {

struct Texts {
    QString displayName, displayDescription, name, description = {}, flags = {};
};

class CaptureFixture
{
public:
    CaptureFixture() : faults(backend), use(&faults)
    {
        // Before each capture: held while asked, then a library message of its
        // own stands in for a file the library could not read.
        faults.onCall(Fault::CaptureImage, [this] {
            captureEntered = true;
            while (holdCapture.load())
                QThread::msleep(5);
            if (!reportPath.isEmpty())
                faults.sendMessage(WIM_MSG_ERROR, reinterpret_cast<uintptr_t>(reportPath.utf16()), 13);
        });
    }

    ~CaptureFixture()
    {
        backgroundTasks::waitForAll(60000);
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), source});
    }

    // A source folder: the root of a tmpfs of its own when we may mount one
    // (so the default entries, relative to the drive root, apply as they
    // are), else a plain folder with the entries rebased under it.
    bool prepareSource(const QMap<QString, QByteArray> &files)
    {
        source = work.path() + QStringLiteral("/source");
        QDir().mkpath(source);
        if (geteuid() == 0)
            mounted = QProcess::execute(QStringLiteral("mount"),
                                        {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("none"), source})
                      == 0;
        testarchives::writeTree(source, files);
        QString prefix = platform::driveRelativePath(source);
        if (prefix == QLatin1String("\\"))
            prefix.clear();
        exclusionList().clear();
        for (const QString &e : ExclusionList::defaults())
            exclusionList().append(prefix + e);
        return true;
    }

    // An archive with one earlier image, made by wimlib-imagex.
    QString makeArchive()
    {
        const QString seed = work.path() + QStringLiteral("/seed");
        testarchives::writeTree(seed, {{QStringLiteral("old.txt"), "old"}});
        archive = work.path() + QStringLiteral("/a.wim");
        const auto r = testarchives::runTool(
            QStringLiteral("wimlib-imagex"),
            {QStringLiteral("capture"), seed, archive, QStringLiteral("旧映像"), QStringLiteral("--compress=LZX")});
        return r.exitCode == 0 ? archive : QString();
    }

    bool waitForMessage(const QString &prefix, int timeoutMs = 120000)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            for (const QString &m : prompts.messageTexts()) {
                if (m.startsWith(prefix))
                    return true;
            }
            QTest::qWait(20);
        }
        return false;
    }

    RecordingPrompts prompts;
    FakeClock clock;
    WimlibBackend backend;
    FaultInjectingImaging faults;
    ScopedImaging use;
    QString reportPath;
    std::atomic<bool> holdCapture{false};
    std::atomic<bool> captureEntered{false};
    QTemporaryDir work;
    QString source;
    QString archive;
    bool mounted = false;
};

// The capture operation run by a runner of its own against a recording host,
// on the archive opened as the window opens it.
class HostFixture : public CaptureFixture
{
public:
    HostFixture() { host.filterThrough(&runner); }

    // False when the archive does not open.
    bool capture(const Texts &t, bool fullRead = false)
    {
        const WimHandle wim(backend, backend.WIMCreateFile(archive, WIM_GENERIC_READ_WRITE, WIM_OPEN_EXISTING,
                                                           WIM_FLAG_SHARE_WRITE, WIM_COMPRESS_LZX, nullptr));
        if (!wim)
            return false;
        auto texts = std::make_unique<ImageInfo>();
        texts->displayName = t.displayName;
        texts->displayDescription = t.displayDescription;
        texts->name = t.name;
        texts->description = t.description;
        texts->flags = t.flags;
        const CaptureRequest request{wim.get(), platform::normalizedFolderPath(source),
                                     QFileInfo(archive).canonicalFilePath(), work.path(), fullRead};
        runner.start(runner.claim(), std::make_unique<CaptureOperation>(request, std::move(texts)));
        runner.waitForRelease();
        return true;
    }

    // The completion message and the output dialog, as the window shows them.
    bool finished() const
    {
        return host.calls().mid(host.calls().size() - 2)
               == QStringList{QStringLiteral("ReportFinished"), QStringLiteral("ShowLog")};
    }

    RecordingHost host;
    OperationRunner runner{host};
};

class WindowFixture : public CaptureFixture
{
public:
    void open()
    {
        prompts.answerOpenFile(archive);
        dlg.OpenArchive();
    }

    void answerDialog(const QString &folder, const Texts &t)
    {
        prompts.onDialog([folder, t](QDialog &d) {
            auto *info = qobject_cast<CWIM_Image_Info *>(&d);
            if (!info)
                return int(QDialog::Rejected);
            info->m_capturePath = folder;
            info->m_displayName = t.displayName;
            info->m_displayDescription = t.displayDescription;
            info->m_imageName = t.name;
            info->m_imageDescription = t.description;
            info->m_systemFlag = t.flags;
            return int(QDialog::Accepted);
        });
    }

    QString cell(int row, int column) const
    {
        const QTableWidgetItem *item = dlg.m_List->item(row, column);
        return item ? item->text() : QString();
    }

    CTarnboxDlg dlg;
};

const QMap<QString, QByteArray> kTree{
    {QStringLiteral("pagefile.sys"), "page"},
    {QStringLiteral("PageFile.sys.bak"), "kept"},
    {QStringLiteral("System Volume Information/x"), "svi"},
    {QStringLiteral("Windows/Temp/a.tmp"), "tmp"},
    {QStringLiteral("Windows/TempFiles/b"), "kept"},
    {QStringLiteral("Windows/System32/config/x"), "kept"},
    {QStringLiteral("old/pagefile.sys"), "kept"},
    {QStringLiteral("数据/说明.txt"), "中文"},
    {QStringLiteral("Users/a.txt"), "a"},
};

}  // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private slots:
    void capturesWithoutExcludedPaths();
    void progressAreaBeforeFirstProgress();
    void reportedErrorsReachTheOutputDialog();
    void emptyTextsWriteNothing();
    void archiveInsideTheFolderIsLeftOut();
    void cancelledOrEmptyDialogStartsNothing();
    void fullReadBoxReachesTheCapture_data();
    void fullReadBoxReachesTheCapture();
    void failurePaths_data();
    void failurePaths();
    void failureLeavesTheWindowAsItWas();
    void nameInUseRefusesTheWholeCapture();
    void closeDuringCaptureCancelled();
    void closeDuringCaptureConfirmed();
};

void TestCapture::capturesWithoutExcludedPaths()
{
    WindowFixture f;
    QVERIFY(f.prepareSource(kTree));
    QVERIFY(!f.makeArchive().isEmpty());
    f.open();
    QCOMPARE(f.dlg.m_nImageCount, 1);

    const Texts t{QStringLiteral("显示名"), QStringLiteral("显示说明 & <更多>"), QStringLiteral("新映像"),
                  QStringLiteral("说明"), QStringLiteral("Professional")};
    f.answerDialog(f.source, t);
    f.dlg.AddImage();
    QVERIFY(f.waitForMessage(kDone));
    QTRY_VERIFY(!f.dlg.IsBusy());

    // The window: a new last row with the typed texts, the count up by one.
    QCOMPARE(f.dlg.m_nImageCount, 2);
    QCOMPARE(f.dlg.m_List->rowCount(), 2);
    QCOMPARE(f.cell(1, 0), t.displayName);
    QCOMPARE(f.cell(1, 1), t.displayDescription);
    QCOMPARE(f.cell(1, 2), t.name);
    QCOMPARE(f.cell(1, 3), t.description);
    QCOMPARE(f.cell(1, 4), t.flags);
    QCOMPARE(f.cell(1, 6), QStringLiteral("否"));
    QCOMPARE(f.dlg.findChild<QLabel *>(QStringLiteral("IDC_1004"))->text(), QStringLiteral("2"));
    QVERIFY(f.dlg.findChild<QWidget *>(QStringLiteral("IDC_1011"))->isHidden());
    QVERIFY(f.dlg.findChild<QWidget *>(QStringLiteral("IDC_1010"))->isHidden());
    const auto done = f.prompts.messages().last();
    QCOMPARE(done.caption, QStringLiteral("温馨提示"));

    // The archive, as another tool reads it.
    const auto info = wimInfo(f.archive);
    QVERIFY(info.ok);
    QCOMPARE(info.imageCount, 2);
    QCOMPARE(info.names.value(1), t.name);
    QCOMPARE(info.descriptions.value(1), t.description);
    QVERIFY(testarchives::wimVerify(f.archive));
    const QStringList paths = wimDir(f.archive, 2);
    for (const QString &gone : {QStringLiteral("/pagefile.sys"), QStringLiteral("/System Volume Information/x"),
                                QStringLiteral("/Windows/Temp/a.tmp")})
        QVERIFY2(!paths.contains(gone), qPrintable(gone));
    // The folders themselves stay; only their contents are left out.
    for (const QString &kept :
         {QStringLiteral("/PageFile.sys.bak"), QStringLiteral("/System Volume Information"),
          QStringLiteral("/Windows/Temp"), QStringLiteral("/Windows/TempFiles/b"), QStringLiteral("/old/pagefile.sys"),
          QStringLiteral("/数据/说明.txt"), QStringLiteral("/Users/a.txt")})
        QVERIFY2(paths.contains(kept), qPrintable(kept + QStringLiteral(" in ") + paths.join(QLatin1Char(' '))));
    // Nothing was reported, so no output dialog.
    for (const auto &c : f.prompts.calls())
        QVERIFY(c.kind != RecordingPrompts::Kind::Dialog || c.text == QLatin1String("CWIM_Image_Info"));
}

void TestCapture::progressAreaBeforeFirstProgress()
{
    WindowFixture f;
    QVERIFY(f.prepareSource({{QStringLiteral("a.txt"), "a"}}));
    QVERIFY(!f.makeArchive().isEmpty());
    f.open();
    f.holdCapture = true;
    f.answerDialog(f.source, {});
    f.dlg.AddImage();
    QTRY_VERIFY_WITH_TIMEOUT(f.captureEntered.load(), 20000);
    QVERIFY(f.dlg.IsBusy());
    auto text = [&](const char *name) { return f.dlg.findChild<QLabel *>(QString::fromLatin1(name))->text(); };
    QCOMPARE(text("IDC_1011"), QStringLiteral("请你等待……正在处理，需要："));
    QCOMPARE(text("IDC_1023"), QStringLiteral("正在预计"));
    QCOMPARE(text("IDC_1022"), QStringLiteral("0%"));
    QCOMPARE(f.dlg.m_Progress->value(), 0);
    QVERIFY(!f.dlg.findChild<QWidget *>(QStringLiteral("IDC_1010"))->isHidden());
    // No second operation can start meanwhile.
    QCOMPARE(f.dlg.ContextMenuIndex(), -1);
    const QString shots = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        f.dlg.show();
        QVERIFY(f.dlg.grab().save(shots + QStringLiteral("/capture-busy.png")));
    }
    f.holdCapture = false;
    QVERIFY(f.waitForMessage(kDone));
    QTRY_VERIFY(!f.dlg.IsBusy());
    QCOMPARE(text("IDC_1022"), QStringLiteral("100%"));
    QVERIFY(f.dlg.findChild<QWidget *>(QStringLiteral("IDC_1011"))->isHidden());
}

void TestCapture::reportedErrorsReachTheOutputDialog()
{
    WindowFixture f;
    QVERIFY(f.prepareSource({{QStringLiteral("a.txt"), "a"}}));
    QVERIFY(!f.makeArchive().isEmpty());
    f.open();
    f.reportPath = f.source + QStringLiteral("/locked.bin");
    QString shown;
    f.prompts.onDialog([&](QDialog &d) {
        if (auto *info = qobject_cast<CWIM_Image_Info *>(&d)) {
            info->m_capturePath = f.source;
            return int(QDialog::Accepted);
        }
        if (auto *edit = d.findChild<QPlainTextEdit *>(QStringLiteral("IDC_OUTPUT_TEXT")))
            shown = edit->toPlainText();
        return int(QDialog::Accepted);
    });
    f.dlg.AddImage();
    QVERIFY(f.waitForMessage(kDone));
    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 20000);
    QCOMPARE(shown, QStringLiteral("\n错误: ") + f.source + QStringLiteral("/locked.bin [err = 13] 没有访问权限"));
    // The dialog came after the completion message.
    const auto calls = f.prompts.calls();
    QCOMPARE(calls.last().kind, RecordingPrompts::Kind::Dialog);
    QCOMPARE(calls.last().text, QStringLiteral("CErrorShow"));
    QCOMPARE(wimInfo(f.archive).imageCount, 2);
}

void TestCapture::emptyTextsWriteNothing()
{
    HostFixture f;
    QVERIFY(f.prepareSource({{QStringLiteral("a.txt"), "a"}}));
    QVERIFY(!f.makeArchive().isEmpty());
    QVERIFY(f.capture({}));
    QVERIFY(f.finished());
    QVERIFY(!f.host.IsBusy());
    const auto info = wimInfo(f.archive);
    QCOMPARE(info.imageCount, 2);
    QCOMPARE(info.names.value(1), QString());
    QCOMPARE(info.flags.value(1), QString());
    // The record the new row shows.
    QCOMPARE(f.host.captured().size(), 1);
    const ImageInfo row = f.host.captured().first();
    for (const QString &text : {row.displayName, row.displayDescription, row.name, row.description, row.flags})
        QCOMPARE(text, QString());
    QVERIFY(row.expandedBytes > 0);  // the size the library counted
}

void TestCapture::archiveInsideTheFolderIsLeftOut()
{
    HostFixture f;
    QVERIFY(f.prepareSource({{QStringLiteral("a.txt"), "a"}}));
    // The archive lives in the folder being captured.
    const QString seed = f.work.path() + QStringLiteral("/seed");
    testarchives::writeTree(seed, {{QStringLiteral("old.txt"), "old"}});
    f.archive = f.source + QStringLiteral("/inside.wim");
    QCOMPARE(
        testarchives::runTool(QStringLiteral("wimlib-imagex"), {QStringLiteral("capture"), seed, f.archive}).exitCode,
        0);
    QVERIFY(f.capture({QString(), QString(), QStringLiteral("自身")}));
    QVERIFY(f.finished());
    QVERIFY(!f.host.IsBusy());
    const QStringList paths = wimDir(f.archive, 2);
    QVERIFY(paths.contains(QStringLiteral("/a.txt")));
    QVERIFY(!paths.contains(QStringLiteral("/inside.wim")));
    QVERIFY(testarchives::wimVerify(f.archive));
}

void TestCapture::cancelledOrEmptyDialogStartsNothing()
{
    WindowFixture f;
    QVERIFY(!f.makeArchive().isEmpty());
    f.open();
    f.prompts.clear();
    f.prompts.onDialog([](QDialog &) { return int(QDialog::Rejected); });
    f.dlg.AddImage();
    f.answerDialog(QString(), {QString(), QString(), QStringLiteral("x")});
    f.dlg.AddImage();
    QVERIFY(backgroundTasks::waitForAll(10000));
    QVERIFY(f.prompts.messages().isEmpty());
    QCOMPARE(f.faults.uses(Fault::CaptureImage), 0);
    QVERIFY(!f.dlg.IsBusy());
    QCOMPARE(wimInfo(f.archive).imageCount, 1);
}

void TestCapture::fullReadBoxReachesTheCapture_data()
{
    QTest::addColumn<bool>("fullRead");
    QTest::addColumn<QByteArray>("stored");
    // A file changed and given back its times reads as unchanged unless every file is read.
    QTest::newRow("off: taken from the earlier image") << false << QByteArray("before");
    QTest::newRow("on: read again") << true << QByteArray("after!");
}

void TestCapture::fullReadBoxReachesTheCapture()
{
    QFETCH(bool, fullRead);
    QFETCH(QByteArray, stored);
    HostFixture f;
    QVERIFY(f.prepareSource({{QStringLiteral("same.txt"), "before"}}));
    f.archive = f.work.path() + QStringLiteral("/a.wim");
    {
        const WimHandle wim(f.backend, f.backend.WIMCreateFile(f.archive, WIM_GENERIC_READ_WRITE, WIM_CREATE_ALWAYS, 0,
                                                               WIM_COMPRESS_LZX, nullptr));
        QVERIFY(wim);
        const WimHandle image(f.backend, f.backend.WIMCaptureImage(wim.get(), f.source, 0));
        QVERIFY2(image, qPrintable(f.backend.LastErrorText()));
    }
    QVERIFY(testarchives::rewriteKeepingTimes(f.source + QStringLiteral("/same.txt"), "after!"));

    QVERIFY(f.capture({}, fullRead));
    QVERIFY(f.finished());
    const QString out = f.work.path() + QStringLiteral("/out");
    const auto r = testarchives::runTool(QStringLiteral("wimlib-imagex"),
                                         {QStringLiteral("extract"), f.archive, QStringLiteral("2"),
                                          QStringLiteral("/same.txt"), QStringLiteral("--dest-dir=") + out});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QFile extracted(out + QStringLiteral("/same.txt"));
    QVERIFY(extracted.open(QIODevice::ReadOnly));
    QCOMPARE(extracted.readAll(), stored);
}

void TestCapture::failurePaths_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("completes");
    QTest::addColumn<int>("rows");
    QTest::newRow("register") << int(Fault::RegisterMessageCallback) << "回掉出错！"
                              << "tst_capture" << false << 1;
    QTest::newRow("capture") << int(Fault::CaptureImage) << "无法捕获次映像！"
                             << "错误提示" << false << 1;
    QTest::newRow("read info") << int(Fault::GetImageInformation) << "文件无法读取"
                               << "错误提示" << false << 1;
    QTest::newRow("close") << int(Fault::CloseHandle) << "关闭句柄出错！"
                           << "错误提示" << false << 2;
    QTest::newRow("unregister") << int(Fault::UnregisterMessageCallback) << "吊销出错！"
                                << "错误提示" << false << 2;
}

void TestCapture::failurePaths()
{
    QFETCH(int, fault);
    QFETCH(QString, message);
    QFETCH(QString, caption);
    QFETCH(bool, completes);
    QFETCH(int, rows);
    HostFixture f;
    QVERIFY(f.prepareSource({{QStringLiteral("a.txt"), "a"}}));
    QVERIFY(!f.makeArchive().isEmpty());
    f.faults.failOn(Fault(fault));
    QVERIFY(f.capture({QStringLiteral("显示"), QString(), QStringLiteral("名称")}));
    // Every end, the early ones too, leaves no part of the progress area.
    QVERIFY(!f.host.IsBusy());
    const QStringList texts = f.prompts.messageTexts();
    QVERIFY(!texts.isEmpty());
    QCOMPARE(texts.first(), message);
    QCOMPARE(f.prompts.messages().first().caption, caption);
    QCOMPARE(texts.size(), 1);
    QCOMPARE(f.finished(), completes);
    // The rows after it: the earlier image, and the new one when it was added.
    QCOMPARE(1 + int(f.host.captured().size()), rows);
    // Registrations are balanced whenever registration itself worked.
    if (Fault(fault) != Fault::RegisterMessageCallback && Fault(fault) != Fault::UnregisterMessageCallback)
        QCOMPARE(f.faults.uses(Fault::UnregisterMessageCallback), 1);
    QVERIFY(testarchives::wimVerify(f.archive));
}

// One failure through the window: the progress area and the list as before it.
void TestCapture::failureLeavesTheWindowAsItWas()
{
    WindowFixture f;
    QVERIFY(f.prepareSource({{QStringLiteral("a.txt"), "a"}}));
    QVERIFY(!f.makeArchive().isEmpty());
    f.open();
    f.prompts.clear();
    f.faults.failOn(Fault::CaptureImage);
    f.answerDialog(f.source, {QStringLiteral("显示"), QString(), QStringLiteral("名称")});
    f.dlg.AddImage();
    QVERIFY(f.waitForMessage(QStringLiteral("无法捕获次映像！")));
    QVERIFY(backgroundTasks::waitForAll(60000));
    QVERIFY(!f.dlg.IsBusy());
    for (const char *name : {"IDC_1010", "IDC_1011", "IDC_1022", "IDC_1023"})
        QVERIFY2(f.dlg.findChild<QWidget *>(QString::fromLatin1(name))->isHidden(), name);
    QCOMPARE(f.prompts.messageTexts(), QStringList{QStringLiteral("无法捕获次映像！")});
    QCOMPARE(f.prompts.messages().first().caption, QStringLiteral("错误提示"));
    QCOMPARE(f.dlg.m_List->rowCount(), 1);
    QCOMPARE(f.dlg.m_nImageCount, 1);
    QCOMPARE(f.dlg.m_Images.count, 1);
    QCOMPARE(wimInfo(f.archive).imageCount, 1);
}

// The image and its texts are one commit: texts the archive refuses refuse
// the image too, before anything is read.
void TestCapture::nameInUseRefusesTheWholeCapture()
{
    HostFixture f;
    QVERIFY(f.prepareSource({{QStringLiteral("a.txt"), "a"}}));
    QVERIFY(!f.makeArchive().isEmpty());
    QVERIFY(f.capture({QStringLiteral("显示"), QString(), QStringLiteral("旧映像")}));
    QCOMPARE(f.prompts.messageTexts(), QStringList{QStringLiteral("无法捕获次映像！")});
    QCOMPARE(f.prompts.messages().first().detail, QStringLiteral("已有同名的映像"));
    QVERIFY(f.host.captured().isEmpty());
    QCOMPARE(wimInfo(f.archive).imageCount, 1);
}

void TestCapture::closeDuringCaptureCancelled()
{
    WindowFixture f;
    QVERIFY(f.prepareSource({{QStringLiteral("a.txt"), "a"}}));
    QVERIFY(!f.makeArchive().isEmpty());
    f.dlg.show();
    f.open();
    f.holdCapture = true;
    f.answerDialog(f.source, {QString(), QString(), QStringLiteral("继续")});
    f.dlg.AddImage();
    QTRY_VERIFY_WITH_TIMEOUT(f.captureEntered.load(), 20000);
    f.prompts.answerMessage(IDCANCEL);
    f.dlg.CloseApp();
    QVERIFY(f.waitForMessage(QStringLiteral("当前正在处理中")));
    f.holdCapture = false;
    QVERIFY(f.waitForMessage(kDone));
    QVERIFY(backgroundTasks::waitForAll(60000));
    QVERIFY(f.dlg.isVisible());
    QCOMPARE(wimInfo(f.archive).imageCount, 2);
}

void TestCapture::closeDuringCaptureConfirmed()
{
    WindowFixture f;
    QMap<QString, QByteArray> many;
    for (int i = 0; i < 300; ++i)
        many.insert(QStringLiteral("d%1/f%2.txt").arg(i % 10).arg(i), QByteArray::number(i));
    QVERIFY(f.prepareSource(many));
    QVERIFY(!f.makeArchive().isEmpty());
    f.dlg.show();
    f.open();
    f.holdCapture = true;
    f.answerDialog(f.source, {QString(), QString(), QStringLiteral("中止")});
    f.dlg.AddImage();
    QTRY_VERIFY_WITH_TIMEOUT(f.captureEntered.load(), 20000);
    f.prompts.answerMessage(IDOK);
    f.dlg.CloseApp();
    QVERIFY(f.waitForMessage(QStringLiteral("当前正在处理中")));
    // The confirmation has set the abort answer before the library sees a file.
    QTRY_COMPARE_WITH_TIMEOUT(g_nAbort.load(), -1, 10000);
    f.holdCapture = false;
    QTRY_VERIFY_WITH_TIMEOUT(!f.dlg.isVisible(), 60000);
    QVERIFY(backgroundTasks::waitForAll(60000));
    QVERIFY(!f.dlg.IsBusy());
    QVERIFY(f.dlg.m_hWim == nullptr);
    const auto info = wimInfo(f.archive);
    QCOMPARE(info.imageCount, 1);
    QCOMPARE(info.names.value(0), QStringLiteral("旧映像"));
    QVERIFY(testarchives::wimVerify(f.archive));
}

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"
