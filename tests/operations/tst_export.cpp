// Exporting an image into new and existing archives, checked with
// wimlib-imagex, and every way the export can fail: the operation against a
// recording host, and one success and one failure through the main window.
#include "app/ctarnbox_dlg.h"
#include "fake_clock.h"
#include "fault_injecting_imaging.h"
#include "imaging/wimlib_backend.h"
#include "operations/export_operation.h"
#include "ops_fixture.h"
#include "recording_prompts.h"
#include "resources/resource_ids.h"
#include "test_archives.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace opsfixture;
using Fault = FaultInjectingImaging::Call;
using Kind = RecordingPrompts::Kind;

namespace {

const QMap<QString, QByteArray> kTree1{
    {QStringLiteral("a.txt"), "image one\n"},
    {QStringLiteral("sub/b.bin"), QByteArray(50000, 'b')},
};
const QMap<QString, QByteArray> kTree2{
    {QStringLiteral("c.txt"), "image two\n"},
    {QStringLiteral("空/"), QByteArray()},
};

}  // namespace

class TestExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void intoNewArchive();
    void failureThroughTheWindow();
    void libraryMessagesShown();

    void newArchiveForm_data();
    void newArchiveForm();
    void intoExistingArchive();
    void sameImageTwice();
    void cancelledChooserDoesNothing();
    void failures_data();
    void failures();
    void notAnArchiveLeftAlone();
    void openArchiveRefused_data();
    void openArchiveRefused();

private:
    // A source archive of two images, opened in a new window, or given to a
    // recording host with its first image selected.
    void setUp(const QString &compression = QStringLiteral("LZX"));
    void setUpHost(const QString &compression = QStringLiteral("LZX"), int selectedRow = 0);
    bool makeSource(const QString &compression);
    // The command's two halves, as the window runs them.
    void startExport(const QString &destination);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeClock> m_clock;
    WindowOrHost m_on;
    QString m_wim;
    QStringList m_rowsBefore;
};

void TestExport::initTestCase()
{
    QVERIFY2(testarchives::haveTool(QStringLiteral("wimlib-imagex")),
             "wimlib-imagex (package wimtools, installed by scripts/install.sh) is needed to make test archives");
}

bool TestExport::makeSource(const QString &compression)
{
    m_dir = std::make_unique<QTemporaryDir>();
    const QString tree1 = m_dir->filePath(QStringLiteral("tree1"));
    const QString tree2 = m_dir->filePath(QStringLiteral("tree2"));
    testarchives::writeTree(tree1, kTree1);
    testarchives::writeTree(tree2, kTree2);
    m_wim = m_dir->filePath(QStringLiteral("source.wim"));
    QString why;
    const bool made =
        m_dir->isValid()
        && makeArchive(m_wim, {tree1, tree2}, {QStringLiteral("first"), QStringLiteral("second")}, &why, compression);
    if (!made)
        qWarning() << why;
    m_clock = std::make_unique<FakeClock>();
    return made;
}

void TestExport::setUpHost(const QString &compression, int selectedRow)
{
    QVERIFY(makeSource(compression));
    QVERIFY(m_on.openHost(m_wim, selectedRow));
}

void TestExport::setUp(const QString &compression)
{
    QVERIFY(makeSource(compression));
    QVERIFY(m_on.openWindow(m_wim, 2));
    m_rowsBefore = rows(*m_on.dlg);
}

void TestExport::cleanup()
{
    QVERIFY(waitForOperations());
    if (!m_on.w && !m_on.h)
        return;
    // The open archive and its list are as they were.
    if (m_on.w)
        QCOMPARE(rows(*m_on.dlg), m_rowsBefore);
    QCOMPARE(testarchives::wimInfo(m_wim).imageCount, 2);
    const QString handles = m_on.finish();
    m_clock.reset();
    m_dir.reset();
    QVERIFY2(handles.isEmpty(), qPrintable(handles));
}

void TestExport::startExport(const QString &destination)
{
    if (!destination.isEmpty())
        m_on.prompts->answerSaveFile(destination);
    if (m_on.h) {
        ExportHandles handles;
        if (OpenExportHandles(m_on.h->host, &handles))
            m_on.h->run(std::make_unique<ExportOperation>(handles));
        QVERIFY(!m_on.h->host.IsBusy());
        return;
    }
    m_on.dlg->OnCommand(res::ID_EXPORT_IMAGE);
    QVERIFY(waitForOperations());
    QVERIFY(!m_on.dlg->IsBusy());
}

void TestExport::intoNewArchive()
{
    setUp();
    if (QTest::currentTestFailed())
        return;
    m_on.dlg->SelectAndFocusRow(1);
    const QString destination = m_dir->filePath(QStringLiteral("new.wim"));
    startExport(destination);

    const auto calls = m_on.prompts->calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0].kind, Kind::SaveFile);
    QCOMPARE(calls[1].text, kDone + QStringLiteral("0秒"));
    QCOMPARE(calls[1].caption, QStringLiteral("温馨提示"));
    // The selected row is the image exported; the window's working directory is the new archive's.
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("LoadImage")), QStringList{QStringLiteral("LoadImage 2")});
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("SetTemporaryPath")),
             QStringList{QStringLiteral("SetTemporaryPath ") + m_on.dlg->m_strWorkDir});
    QCOMPARE(testarchives::wimInfo(destination).names, QStringList{QStringLiteral("second")});
}

void TestExport::failureThroughTheWindow()
{
    setUp();
    if (QTest::currentTestFailed())
        return;
    const QString destination = m_dir->filePath(QStringLiteral("failed.wim"));
    m_on.faults->failOn(Fault::ExportImage);
    startExport(destination);
    QCOMPARE(m_on.messages(), (QStringList{QStringLiteral("文件导出失败！"), kDone}));
    QCOMPARE(m_on.prompts->messages().first().caption, QStringLiteral("错误提示"));
    QVERIFY(m_on.dlg->m_tStart != 0);
    QVERIFY(!QFile::exists(destination));
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("Close")).size(), 2);
}

void TestExport::newArchiveForm_data()
{
    QTest::addColumn<QString>("compression");  // as wimlib-imagex takes and prints it
    QTest::addColumn<int>("code");
    QTest::newRow("LZX") << QStringLiteral("LZX") << 2;
    QTest::newRow("XPRESS") << QStringLiteral("XPRESS") << 1;
    QTest::newRow("none") << QStringLiteral("None") << 0;
}

void TestExport::newArchiveForm()
{
    QFETCH(QString, compression);
    QFETCH(int, code);
    setUpHost(compression, 1);
    if (QTest::currentTestFailed())
        return;
    const QString destination = m_dir->filePath(QStringLiteral("out/new.wim"));
    QVERIFY(QDir().mkpath(QFileInfo(destination).path()));
    startExport(destination);

    const auto calls = m_on.prompts->calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(m_on.messages(), QStringList{kDone});
    QCOMPARE(calls[0].kind, Kind::SaveFile);
    QCOMPARE(calls[0].chooser.filter, QStringLiteral("Wim镜像(*.wim)|*.wim|ESD镜像(*.esd)|*.esd||"));
    QCOMPARE(calls[0].chooser.defaultExtension, QStringLiteral("wim"));
    QCOMPARE(calls[0].chooser.initialName, QStringLiteral("Wim镜像"));
    QVERIFY(!calls[0].chooser.overwritePrompt);

    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("LoadImage")), QStringList{QStringLiteral("LoadImage 2")});
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("CreateFile")),
             QStringList{QStringLiteral("CreateFile %1 c0000000 4 0 %2").arg(destination).arg(code)});
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("SetTemporaryPath")),
             QStringList{QStringLiteral("SetTemporaryPath ") + m_on.h->host.OpenArchiveState().workDir});
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("Export")), QStringList{QStringLiteral("Export 1")});

    const auto info = testarchives::wimInfo(destination);
    QVERIFY2(info.ok, qPrintable(info.raw));
    QCOMPARE(info.imageCount, 1);
    QCOMPARE(info.compression, compression);
    QCOMPARE(info.names, QStringList{QStringLiteral("second")});
    QVERIFY(testarchives::wimVerify(destination));
    const QString applied = m_dir->filePath(QStringLiteral("applied"));
    QString why;
    QVERIFY2(wimlib({QStringLiteral("apply"), destination, QStringLiteral("1"), applied}, &why), qPrintable(why));
    QCOMPARE(testarchives::readTree(applied), testarchives::readTree(m_dir->filePath(QStringLiteral("tree2"))));
}

void TestExport::intoExistingArchive()
{
    setUpHost();
    if (QTest::currentTestFailed())
        return;
    const QString other = m_dir->filePath(QStringLiteral("other"));
    testarchives::writeTree(other, {{QStringLiteral("x.txt"), "already there"}});
    const QString destination = m_dir->filePath(QStringLiteral("existing.wim"));
    QString why;
    QVERIFY2(makeArchive(destination, {other}, {QStringLiteral("resident")}, &why, QStringLiteral("XPRESS")),
             qPrintable(why));
    startExport(destination);

    // No question about the existing file: only the completion message.
    QCOMPARE(m_on.messages(), QStringList{kDone});
    const auto info = testarchives::wimInfo(destination);
    QCOMPARE(info.imageCount, 2);
    QCOMPARE(info.names, (QStringList{QStringLiteral("resident"), QStringLiteral("first")}));
    QCOMPARE(info.compression, QStringLiteral("XPRESS"));
    QVERIFY(testarchives::wimVerify(destination));
}

void TestExport::sameImageTwice()
{
    setUpHost();
    if (QTest::currentTestFailed())
        return;
    const QString destination = m_dir->filePath(QStringLiteral("twice.wim"));
    startExport(destination);
    startExport(destination);
    QCOMPARE(m_on.messages(), (QStringList{kDone, kDone}));
    const auto info = testarchives::wimInfo(destination);
    QCOMPARE(info.imageCount, 2);
    QCOMPARE(info.names.size(), 2);
    QCOMPARE(info.names[0], QStringLiteral("first"));
    QVERIFY(info.names[1].startsWith(QStringLiteral("first")));
    QVERIFY(testarchives::wimVerify(destination));
}

void TestExport::cancelledChooserDoesNothing()
{
    setUpHost();
    if (QTest::currentTestFailed())
        return;
    startExport(QString());
    QCOMPARE(m_on.prompts->calls().size(), 1);
    QVERIFY(m_on.library->calls().isEmpty());
    QVERIFY(!m_on.started());
}

void TestExport::failures_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<int>("closes");

    QTest::newRow("source not loaded") << int(Fault::LoadImage) << QStringList{QStringLiteral("当前文件无法加载！")}
                                       << false << 0;
    QTest::newRow("destination not opened")
        << int(Fault::CreateFile) << QStringList{QStringLiteral("目标文件无法打开！")} << false << 1;
    QTest::newRow("working directory refused")
        << int(Fault::SetTemporaryPath) << QStringList{QStringLiteral("无法设置临时目录！")} << false << 2;
    QTest::newRow("callback refused") << int(Fault::RegisterMessageCallback)
                                      << QStringList{QStringLiteral("无法注册回掉！")} << true << 2;
    QTest::newRow("export fails") << int(Fault::ExportImage) << QStringList{QStringLiteral("文件导出失败！"), kDone}
                                  << true << 2;
}

void TestExport::failures()
{
    QFETCH(int, fault);
    QFETCH(QStringList, messages);
    QFETCH(bool, busy);
    QFETCH(int, closes);
    setUpHost();
    if (QTest::currentTestFailed())
        return;
    const QString destination = m_dir->filePath(QStringLiteral("failed.wim"));
    m_on.faults->failOn(Fault(fault));
    startExport(destination);

    QCOMPARE(m_on.messages(), messages);
    QCOMPARE(m_on.prompts->messages().first().caption, QStringLiteral("错误提示"));
    QCOMPARE(m_on.started(), busy);
    // Nothing is left behind, and every handle opened for the export is
    // closed, each once (cleanup checks that none stays open).
    QVERIFY(!QFile::exists(destination));
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("Close")).size(), closes);
}

void TestExport::notAnArchiveLeftAlone()
{
    setUpHost();
    if (QTest::currentTestFailed())
        return;
    const QString destination = m_dir->filePath(QStringLiteral("notes.wim"));
    testarchives::writeTree(m_dir->path(), {{QStringLiteral("notes.wim"), "not an archive, but precious"}});
    startExport(destination);
    QCOMPARE(m_on.messages(), QStringList{QStringLiteral("目标文件无法打开！")});
    QCOMPARE(testarchives::readTree(m_dir->path()).value(QStringLiteral("notes.wim")),
             QByteArray("not an archive, but precious"));
    QVERIFY(!m_on.started());
}

void TestExport::openArchiveRefused_data()
{
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("its own path") << false;
    QTest::newRow("a link to it") << true;
}

void TestExport::openArchiveRefused()
{
    QFETCH(bool, throughLink);
    setUpHost();
    if (QTest::currentTestFailed())
        return;
    QString destination = m_wim;
    if (throughLink) {
        destination = m_dir->filePath(QStringLiteral("link.wim"));
        QVERIFY(QFile::link(m_wim, destination));
    }
    startExport(destination);
    QCOMPARE(m_on.messages(), QStringList{QStringLiteral("不能导出到当前打开的文件！")});
    QCOMPARE(m_on.prompts->messages().first().caption, QStringLiteral("错误提示"));
    QVERIFY(m_on.library->calls().isEmpty());
    QVERIFY(!m_on.started());
}

void TestExport::libraryMessagesShown()
{
    setUp();
    if (QTest::currentTestFailed())
        return;
    QStringList shown;
    m_on.prompts->onDialog([&](QDialog &d) {
        auto *edit = d.findChild<QPlainTextEdit *>(QStringLiteral("IDC_OUTPUT_TEXT"));
        shown << (edit ? edit->toPlainText() : QStringLiteral("<no text>"));
        return int(QDialog::Accepted);
    });
    // Lines left from an earlier operation are not shown after an export.
    m_on.dlg->m_strLog = QStringLiteral("\r\n警告: /earlier [err = 1]");
    const QString destination = m_dir->filePath(QStringLiteral("quiet.wim"));
    startExport(destination);
    QCOMPARE(m_on.messages(), QStringList{kDone});
    QVERIFY(shown.isEmpty());

    m_on.prompts->clear();
    m_on.library->messagesDuringLongCalls = {{WIM_MSG_WARNING, QStringLiteral("/src/a.txt"), 17}};
    startExport(destination);
    const auto calls = m_on.prompts->calls();
    QCOMPARE(calls.size(), 3);
    QVERIFY(calls[1].text.startsWith(kDone));
    QCOMPARE(calls[2].kind, Kind::Dialog);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QStringLiteral("警告: /src/a.txt [err = 17]")), qPrintable(shown[0]));
    QVERIFY(!shown[0].contains(QStringLiteral("/earlier")));
}

QTEST_MAIN(TestExport)
#include "tst_export.moc"
