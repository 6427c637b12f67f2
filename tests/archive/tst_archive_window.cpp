// Opening, creating and listing archives in the main window, against archives
// held in memory: the order and arguments of the library calls, every failure
// message, and what the window shows afterwards.
#include "app/ctarnbox_dlg.h"
#include "archive/metadata_xml.h"
#include "memory_imaging.h"
#include "recording_prompts.h"
#include "resources/resource_ids.h"
#include "window_view.h"

#include <QApplication>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using windowview::closeArchive;
using windowview::dialogsRun;
using windowview::labelText;
using windowview::rows;
using windowview::status;

namespace {

const QString kA = QStringLiteral("/archives/a.wim");
const QString kB = QStringLiteral("/archives/b.wim");

QStringList filtered(const QStringList &calls, const QString &prefix)
{
    QStringList out;
    for (const QString &call : calls) {
        if (call.startsWith(prefix))
            out << call;
    }
    return out;
}

QString appName()
{
    return QCoreApplication::applicationName();
}

}  // namespace

class TestArchiveWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void choosers();
    void cancelledChoosersChangeNothing();
    void openListsEveryImage();
    void accessLevels_data();
    void accessLevels();
    void failedOpenKeepsPreviousRows();
    void compressionLabels_data();
    void compressionLabels();
    void bootIndexOutOfRange_data();
    void bootIndexOutOfRange();
    void emptyArchive();
    void unclosedValueEndsTheLoad();
    void workDirRefusedOnOpen();
    void newArchive();
    void newArchiveCreationFails();
    void reopenClosesThePreviousArchive();

private:
    std::unique_ptr<MemoryImaging> m_library;
    std::unique_ptr<ScopedImaging> m_scoped;
    std::unique_ptr<RecordingPrompts> m_prompts;
};

void TestArchiveWindow::init()
{
    m_library = std::make_unique<MemoryImaging>();
    m_scoped = std::make_unique<ScopedImaging>(m_library.get());
    m_prompts = std::make_unique<RecordingPrompts>();
    MemoryImaging::Archive a;
    a.bootIndex = 2;
    a.xml = QStringList{MemoryImaging::imageXml(1, QStringLiteral("one"), QStringLiteral("显示一"), 3 << 20),
                        MemoryImaging::imageXml(2, QStringLiteral("A&B"), QStringLiteral("<x>"), 1536),
                        MemoryImaging::imageXml(3, QStringLiteral("three"), QString(), 1610612736)};
    m_library->archives.insert(kA, a);
    MemoryImaging::Archive b;
    b.compression = WIM_COMPRESS_XPRESS;
    b.xml = QStringList{MemoryImaging::imageXml(1, QStringLiteral("b1"))};
    m_library->archives.insert(kB, b);
}

void TestArchiveWindow::cleanup()
{
    const int badCloses = m_library->badCloses();
    const int openHandles = m_library->openHandles();
    m_prompts.reset();
    m_scoped.reset();
    m_library.reset();
    // Every handle the window opened and gave up was closed exactly once.
    QCOMPARE(badCloses, 0);
    QCOMPARE(openHandles, 0);
}

void TestArchiveWindow::choosers()
{
    CTarnboxDlg dlg;
    dlg.OnCommand(res::ID_OPEN_FILE);
    dlg.OnCommand(res::ID_NEW_FILE);
    const auto calls = m_prompts->calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0].kind, RecordingPrompts::Kind::OpenFile);
    QCOMPARE(calls[1].kind, RecordingPrompts::Kind::SaveFile);
    // Opening also offers ESD files and split sets.
    QCOMPARE(calls[0].chooser.filter, QStringLiteral("映像文件(*.wim *.esd *.swm)|*.wim;*.esd;*.swm|Wim镜像(*.wim)|"
                                                     "*.wim|ESD镜像(*.esd)|*.esd|分卷映像(*.swm)|*.swm||"));
    QCOMPARE(calls[1].chooser.filter, QStringLiteral("Wim镜像(*.wim)|*.wim||"));
    for (const auto &call : calls) {
        QCOMPARE(call.chooser.defaultExtension, QStringLiteral("wim"));
        QCOMPARE(call.chooser.initialName, QStringLiteral("Wim镜像"));
        QVERIFY(call.chooser.overwritePrompt);
        QCOMPARE(call.owner, &dlg);
        QVERIFY(call.onUiThread);
    }
}

void TestArchiveWindow::cancelledChoosersChangeNothing()
{
    CTarnboxDlg dlg;
    m_prompts->answerOpenFile(kA);
    dlg.OpenArchive();
    const HWIM open = dlg.m_hWim.get();
    const QStringList shownRows = rows(dlg);
    const QStringList shownStatus = status(dlg);
    const QStringList callsBefore = m_library->calls;

    dlg.OpenArchive();  // cancelled: no answer scripted
    dlg.NewArchive();
    QCOMPARE(dlg.m_hWim.get(), open);
    QCOMPARE(rows(dlg), shownRows);
    QCOMPARE(status(dlg), shownStatus);
    QCOMPARE(dlg.m_strFilePath, kA);
    QCOMPARE(dlg.m_nAccess, qint16(2));
    QCOMPARE(dlg.m_Images.count, 3);
    QCOMPARE(m_library->calls, callsBefore);
    QVERIFY(m_prompts->messages().isEmpty());
    closeArchive(dlg);
}

void TestArchiveWindow::openListsEveryImage()
{
    CTarnboxDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    m_prompts->answerOpenFile(kA);
    dlg.OpenArchive();

    QVERIFY(dlg.m_hWim);
    QCOMPARE(rows(dlg), (QStringList{QStringLiteral("显示一||one|||3MB|否"), QStringLiteral("<x>||A&B|||1KB|是"),
                                     QStringLiteral("||three|||1.5GB|否")}));
    QCOMPARE(status(dlg), (QStringList{QStringLiteral("最大压缩"), QStringLiteral("3"), kA,
                                       QStringLiteral("读取和写入"), dlg.m_strWorkDir}));
    QCOMPARE(dlg.m_nImageCount, 3);
    QCOMPARE(dlg.m_Images.bootRow, 1);
    QCOMPARE(dlg.SelectedRow(), 0);
    QVERIFY(dlg.m_List->hasFocus());
    QCOMPARE(dlg.m_List->selectionModel()->selectedRows().size(), 1);
    QVERIFY(m_prompts->messages().isEmpty());

    // The three-step open stops at the first access that works; the working
    // directory goes to the library before the listing; every image handle is closed.
    QCOMPARE(m_library->calls,
             (QStringList{QStringLiteral("WIMCreateFile /archives/a.wim 0xc0000000 3 0x40 2"),
                          QStringLiteral("WIMSetTemporaryPath ") + dlg.m_strWorkDir,
                          QStringLiteral("WIMGetAttributes 560"), QStringLiteral("WIMLoadImage 1"),
                          QStringLiteral("WIMGetImageInformation 1"), QStringLiteral("WIMCloseHandle image 1"),
                          QStringLiteral("WIMLoadImage 2"), QStringLiteral("WIMGetImageInformation 2"),
                          QStringLiteral("WIMCloseHandle image 2"), QStringLiteral("WIMLoadImage 3"),
                          QStringLiteral("WIMGetImageInformation 3"), QStringLiteral("WIMCloseHandle image 3")}));
    QCOMPARE(m_library->openHandles(), 1);

    const QString out = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    if (!out.isEmpty())
        QVERIFY(dlg.grab().save(out + QStringLiteral("/archive-window.png")));
    closeArchive(dlg);
}

void TestArchiveWindow::accessLevels_data()
{
    QTest::addColumn<QList<uint32_t>>("refused");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("tried");
    const QString rw = QStringLiteral("WIMCreateFile /archives/a.wim 0xc0000000 3 0x40 2");
    const QString r = QStringLiteral("WIMCreateFile /archives/a.wim 0x80000000 3 0x40 2");
    const QString q = QStringLiteral("WIMCreateFile /archives/a.wim 0x0 3 0x40 2");
    QTest::newRow("read and write") << QList<uint32_t>{} << 2 << QStringLiteral("读取和写入") << QStringList{rw};
    QTest::newRow("read only") << QList<uint32_t>{WIM_GENERIC_READ_WRITE} << 1 << QStringLiteral("仅读取")
                               << QStringList{rw, r};
    QTest::newRow("query only") << QList<uint32_t>{WIM_GENERIC_READ_WRITE, WIM_GENERIC_READ} << 0
                                << QStringLiteral("无权限") << QStringList{rw, r, q};
}

void TestArchiveWindow::accessLevels()
{
    QFETCH(QList<uint32_t>, refused);
    QFETCH(int, level);
    QFETCH(QString, label);
    QFETCH(QStringList, tried);
    for (uint32_t access : refused)
        m_library->refusedAccess.insert(access);
    CTarnboxDlg dlg;
    m_prompts->answerOpenFile(kA);
    dlg.OpenArchive();
    QVERIFY(dlg.m_hWim);
    QCOMPARE(dlg.m_nAccess, qint16(level));
    QCOMPARE(dlg.m_strAccess, label);
    QCOMPARE(labelText(dlg, "IDC_1006"), label);
    QCOMPARE(filtered(m_library->calls, QStringLiteral("WIMCreateFile")), tried);
    QCOMPARE(dlg.m_List->rowCount(), 3);
    QVERIFY(m_prompts->messages().isEmpty());
    closeArchive(dlg);
}

void TestArchiveWindow::failedOpenKeepsPreviousRows()
{
    CTarnboxDlg dlg;
    dlg.show();
    m_prompts->answerOpenFile(kA);
    dlg.OpenArchive();
    const QStringList shownRows = rows(dlg);
    const QStringList shownStatus = status(dlg);

    m_prompts->answerOpenFile(QStringLiteral("/archives/missing.wim"));
    dlg.OpenArchive();

    // The old archive was closed before the new one was tried.
    QVERIFY(!dlg.m_hWim);
    QCOMPARE(m_library->openHandles(), 0);
    QCOMPARE(filtered(m_library->calls, QStringLiteral("WIMCreateFile /archives/missing.wim")).size(), 3);
    QCOMPARE(dlg.m_nAccess, qint16(-1));
    QCOMPARE(dlg.m_strAccess, QString());
    QCOMPARE(dlg.m_strFilePath, QStringLiteral("/archives/missing.wim"));
    QVERIFY(dlg.m_strArchiveOnDisk.isEmpty());
    const auto messages = m_prompts->messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("文件无法打开！"));
    QCOMPARE(messages[0].caption, QStringLiteral("错误提示"));
    QCOMPARE(messages[0].type, MB_OK);
    // Not refreshed: the window still shows the previous archive, with its records.
    QCOMPARE(rows(dlg), shownRows);
    QCOMPARE(status(dlg), shownStatus);
    QCOMPARE(dlg.m_Images.count, 3);
    // A right click on a selected old row offers the menu without an archive.
    dlg.SelectAndFocusRow(1);
    QCOMPARE(dlg.ContextMenuIndex(), 1);
}

void TestArchiveWindow::compressionLabels_data()
{
    QTest::addColumn<uint32_t>("compression");
    QTest::addColumn<QString>("label");
    QTest::newRow("none") << WIM_COMPRESS_NONE << QStringLiteral("无压缩");
    QTest::newRow("XPRESS") << WIM_COMPRESS_XPRESS << QStringLiteral("快速压缩");
    QTest::newRow("LZX") << WIM_COMPRESS_LZX << QStringLiteral("最大压缩");
    // Not the label of the archive shown before (b.wim, XPRESS).
    QTest::newRow("LZMS") << WIM_COMPRESS_LZMS << QStringLiteral("LZMS压缩");
    QTest::newRow("unknown") << uint32_t(9) << QStringLiteral("未知压缩(9)");
}

void TestArchiveWindow::compressionLabels()
{
    QFETCH(uint32_t, compression);
    QFETCH(QString, label);
    m_library->archives[kA].compression = compression;
    CTarnboxDlg dlg;
    m_prompts->answerOpenFile(kB);
    m_prompts->answerOpenFile(kA);
    dlg.OpenArchive();
    QCOMPARE(labelText(dlg, "IDC_1003"), QStringLiteral("快速压缩"));
    dlg.OpenArchive();
    QCOMPARE(dlg.m_Images.compression, qint16(compression));
    QCOMPARE(labelText(dlg, "IDC_1003"), label);
    closeArchive(dlg);
}

void TestArchiveWindow::bootIndexOutOfRange_data()
{
    QTest::addColumn<uint32_t>("bootIndex");
    QTest::addColumn<int>("bootRow");
    QTest::newRow("none") << 0u << -1;
    QTest::newRow("past the last image") << 9u << 8;
}

void TestArchiveWindow::bootIndexOutOfRange()
{
    QFETCH(uint32_t, bootIndex);
    QFETCH(int, bootRow);
    m_library->archives[kA].bootIndex = bootIndex;
    CTarnboxDlg dlg;
    m_prompts->answerOpenFile(kA);
    dlg.OpenArchive();
    QCOMPARE(dlg.m_Images.bootRow, bootRow);
    QCOMPARE(dlg.m_List->rowCount(), 3);
    for (int r = 0; r < 3; ++r)
        QCOMPARE(dlg.m_List->item(r, 6)->text(), QStringLiteral("否"));
    closeArchive(dlg);
}

void TestArchiveWindow::emptyArchive()
{
    m_library->archives[kB].xml.clear();
    CTarnboxDlg dlg;
    dlg.show();
    m_prompts->answerOpenFile(kA);
    m_prompts->answerOpenFile(kB);
    dlg.OpenArchive();
    dlg.OpenArchive();
    QCOMPARE(dlg.m_List->rowCount(), 0);
    QCOMPARE(dlg.m_Images.count, 0);
    QCOMPARE(dlg.m_Images.bootRow, -1);
    QCOMPARE(dlg.SelectedRow(), -1);
    QCOMPARE(status(dlg).mid(0, 4),
             (QStringList{QStringLiteral("快速压缩"), QStringLiteral("0"), kB, QStringLiteral("读取和写入")}));
    QCOMPARE(dlg.ContextMenuIndex(), 1);
    closeArchive(dlg);
}

void TestArchiveWindow::unclosedValueEndsTheLoad()
{
    m_library->archives[kA].xml[1] = QStringLiteral("<IMAGE INDEX=\"2\"><TOTALBYTES>5</TOTALBYTES><NAME>cut");
    CTarnboxDlg dlg;
    m_prompts->answerOpenFile(kA);
    dlg.OpenArchive();
    const auto messages = m_prompts->messages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages[0].text, QStringLiteral("映像 2 的信息格式错误，无法读取（错误代码 0x80070057）！"));
    QCOMPARE(messages[0].caption, QStringLiteral("错误提示"));
    QCOMPARE(messages[0].type, MB_OK);
    QCOMPARE(messages[1].text, QStringLiteral("文件无法打开！"));
    QCOMPARE(dlg.m_List->rowCount(), 0);
    // The failing record stays counted; nothing after it was read.
    QCOMPARE(dlg.m_Images.count, 2);
    QCOMPARE(dlg.m_Images.records[0].name, QStringLiteral("one"));
    QVERIFY(!m_library->calls.contains(QStringLiteral("WIMLoadImage 3")));
    QCOMPARE(m_library->openHandles(), 1);
    closeArchive(dlg);
}

void TestArchiveWindow::workDirRefusedOnOpen()
{
    m_library->failAlways(MemoryImaging::Call::SetTemporaryPath);
    CTarnboxDlg dlg;
    const QString before = dlg.m_strWorkDir;
    m_prompts->answerOpenFile(kA);
    m_prompts->answerOpenFile(kB);
    dlg.OpenArchive();
    QCOMPARE(m_prompts->messageTexts(), QStringList{QStringLiteral("无法设置临时目录，请手动设置！")});
    QCOMPARE(m_prompts->messages().at(0).caption, QStringLiteral("错误提示"));
    QCOMPARE(dlg.m_strWorkDir, QString());
    QCOMPARE(labelText(dlg, "IDC_1008"), QString());
    QCOMPARE(dlg.m_List->rowCount(), 3);  // listed all the same
    // The emptied directory is what the next archive is given.
    dlg.OpenArchive();
    QCOMPARE(filtered(m_library->calls, QStringLiteral("WIMSetTemporaryPath")),
             (QStringList{QStringLiteral("WIMSetTemporaryPath ") + before, QStringLiteral("WIMSetTemporaryPath ")}));
    QCOMPARE(dlg.m_List->rowCount(), 1);
    closeArchive(dlg);
}

void TestArchiveWindow::newArchive()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("new.wim"));
    CTarnboxDlg dlg;
    dlg.show();
    m_prompts->answerOpenFile(kA);
    dlg.OpenArchive();
    m_library->calls.clear();

    m_prompts->answerSaveFile(path);
    dlg.OnCommand(res::ID_NEW_FILE);
    // Created first, then the old archive closed, then the working directory handed over.
    QCOMPARE(m_library->calls.mid(0, 3), (QStringList{QStringLiteral("WIMCreateFile %1 0xc0000000 2 0x40 2").arg(path),
                                                      QStringLiteral("WIMCloseHandle archive"),
                                                      QStringLiteral("WIMSetTemporaryPath ") + dlg.m_strWorkDir}));
    QVERIFY(dlg.m_hWim);
    QCOMPARE(m_library->openHandles(), 1);
    QCOMPARE(dlg.m_List->rowCount(), 0);
    QCOMPARE(dlg.m_Images.count, 0);
    QCOMPARE(dlg.m_Images.bootRow, -1);
    QCOMPARE(dlg.m_Images.compression, qint16(2));
    QCOMPARE(dlg.m_nAccess, qint16(2));
    QCOMPARE(status(dlg), (QStringList{QStringLiteral("最大压缩"), QStringLiteral("0"), path,
                                       QStringLiteral("读取和写入"), dlg.m_strWorkDir}));
    QVERIFY(m_prompts->messages().isEmpty());
    // It goes straight on to the capture of a first image (cancelled here).
    QCOMPARE(dialogsRun(*m_prompts), QStringList{QStringLiteral("CWIM_Image_Info")});
    QCOMPARE(dlg.m_List->rowCount(), 0);
    closeArchive(dlg);
}

void TestArchiveWindow::newArchiveCreationFails()
{
    CTarnboxDlg dlg;
    m_prompts->answerOpenFile(kA);
    dlg.OpenArchive();
    const HWIM open = dlg.m_hWim.get();
    const QStringList shownRows = rows(dlg);
    const QStringList shownStatus = status(dlg);
    m_library->failOn(MemoryImaging::Call::CreateFile);
    m_prompts->answerSaveFile(QStringLiteral("/nowhere/new.wim"));
    dlg.NewArchive();
    const auto messages = m_prompts->messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("文件创建失败！"));
    QCOMPARE(messages[0].caption, appName());
    QCOMPARE(dlg.m_hWim.get(), open);
    QCOMPARE(rows(dlg), shownRows);
    QCOMPARE(status(dlg), shownStatus);
    QCOMPARE(dlg.m_strFilePath, kA);
    QCOMPARE(m_library->openHandles(), 1);
    QVERIFY(!m_library->calls.contains(QStringLiteral("WIMCloseHandle archive")));
    closeArchive(dlg);
}

void TestArchiveWindow::reopenClosesThePreviousArchive()
{
    CTarnboxDlg dlg;
    for (int i = 0; i < 3; ++i) {
        m_prompts->answerOpenFile(i % 2 ? kB : kA);
        dlg.OpenArchive();
        QCOMPARE(m_library->openHandles(), 1);
        QCOMPARE(dlg.m_List->rowCount(), i % 2 ? 1 : 3);
        QCOMPARE(dlg.m_nImageCount, i % 2 ? 1 : 3);
    }
    QCOMPARE(filtered(m_library->calls, QStringLiteral("WIMCloseHandle archive")).size(), 2);
    closeArchive(dlg);
}

QTEST_MAIN(TestArchiveWindow)
#include "tst_archive_window.moc"
