// Opening, listing and creating real archives in the main window: archives
// made by wimlib-imagex (which our code did not write) in a temporary folder,
// and archives our code creates, checked with wimlib-imagex.
#include "app/ctarnbox_dlg.h"
#include "fault_injecting_imaging.h"
#include "imaging/imaging_library.h"
#include "imaging/wimlib_backend.h"
#include "recording_prompts.h"
#include "test_archives.h"
#include "window_view.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using testarchives::runTool;
using windowview::closeArchive;
using windowview::dialogsRun;
using windowview::labelText;
using windowview::rows;

namespace {

// The status fields without the working directory.
QStringList status(const CTarnboxDlg &dlg)
{
    return windowview::status(dlg).mid(0, 4);
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Runs wimlib-imagex and says what went wrong when it fails.
bool wimlib(const QStringList &arguments, QString *why)
{
    const testarchives::ToolResult r = runTool(QStringLiteral("wimlib-imagex"), arguments);
    if (r.exitCode == 0)
        return true;
    *why = QStringLiteral("wimlib-imagex %1: %2").arg(arguments.join(QLatin1Char(' ')), r.output);
    return false;
}

// A read-only bind mount of a folder, undone when it goes out of scope.
class ReadOnlyMount
{
public:
    ReadOnlyMount(const QString &source, const QString &target) : m_target(target)
    {
        QDir().mkpath(target);
        auto r = runTool(QStringLiteral("mount"), {QStringLiteral("--bind"), source, target}, 30000);
        if (r.exitCode != 0) {
            m_error = r.output;
            return;
        }
        m_mounted = true;
        r = runTool(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,bind,ro"), target}, 30000);
        if (r.exitCode != 0)
            m_error = r.output;
    }
    ~ReadOnlyMount()
    {
        if (m_mounted)
            runTool(QStringLiteral("umount"), {m_target}, 30000);
    }
    bool ok() const { return m_mounted && m_error.isEmpty(); }
    QString error() const { return m_error; }

private:
    QString m_target;
    QString m_error;
    bool m_mounted = false;
};

}  // namespace

class TestArchiveFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listsArchiveOfAnotherTool();
    void compressionOfAnotherTool_data();
    void compressionOfAnotherTool();
    void readOnlyFileOnReadOnlyMount();
    void readOnlyByRefusedWriteAccess();
    void listingFailures_data();
    void listingFailures();
    void notAnArchive_data();
    void notAnArchive();
    void damagedArchiveNeverCrashes();
    void workDirRefused();
    void newArchiveReplacesFile_data();
    void newArchiveReplacesFile();
    void newArchiveOverTheOpenArchive();

private:
    // The three-image archive: boot image 2, Chinese names, a name with "&".
    QString makeThreeImageArchive();
    QString makeThreeImageArchiveOnce();
    void open(CTarnboxDlg &dlg, const QString &path);

    std::unique_ptr<QTemporaryDir> m_dir;
    QTemporaryDir m_shared;
    QString m_three;  // the archive of makeThreeImageArchive, in m_shared
    std::unique_ptr<RecordingPrompts> m_prompts;
};

void TestArchiveFiles::initTestCase()
{
    QVERIFY2(testarchives::haveTool(QStringLiteral("wimlib-imagex")),
             "wimlib-imagex (package wimtools, installed by scripts/install.sh) is needed to make test archives");
}

void TestArchiveFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_prompts = std::make_unique<RecordingPrompts>();
}

void TestArchiveFiles::cleanup()
{
    m_prompts.reset();
    m_dir.reset();
}

QString TestArchiveFiles::makeThreeImageArchive()
{
    // Made once by wimlib-imagex, copied into each test's own folder.
    const QString copy = m_dir->path() + QStringLiteral("/three.wim");
    if (m_three.isEmpty())
        m_three = makeThreeImageArchiveOnce();
    if (m_three.isEmpty() || !(QFile::exists(copy) || QFile::copy(m_three, copy)))
        return {};
    return copy;
}

QString TestArchiveFiles::makeThreeImageArchiveOnce()
{
    const QString root = m_shared.path();
    const QString wim = root + QStringLiteral("/three.wim");
    // Image 1: 3 MiB. Image 2: 1 MiB with a hard link to it (expanded 1 MiB).
    // Image 3: 1536 bytes.
    writeFile(root + QStringLiteral("/t1/data.bin"), QByteArray(3 << 20, 'a'));
    writeFile(root + QStringLiteral("/t2/one.bin"), QByteArray(1 << 20, 'b'));
    if (::link(QFile::encodeName(root + QStringLiteral("/t2/one.bin")).constData(),
               QFile::encodeName(root + QStringLiteral("/t2/two.bin")).constData())
        != 0)
        return {};
    writeFile(root + QStringLiteral("/t3/small.bin"), QByteArray(1536, 'c'));

    QString why;
    const bool made =
        wimlib({QStringLiteral("capture"), root + QStringLiteral("/t1"), wim, QStringLiteral("系统一"),
                QStringLiteral("第一个 映像"), QStringLiteral("--flags=Professional"),
                QStringLiteral("--image-property"), QStringLiteral("DISPLAYNAME=显示 一"),
                QStringLiteral("--image-property"), QStringLiteral("DISPLAYDESCRIPTION=显示说明一")},
               &why)
        && wimlib({QStringLiteral("append"), root + QStringLiteral("/t2"), wim, QStringLiteral("A&B"),
                   QStringLiteral("x < y & z"), QStringLiteral("--image-property"),
                   QStringLiteral("DISPLAYNAME=<b>粗体</b>")},
                  &why)
        && wimlib({QStringLiteral("append"), root + QStringLiteral("/t3"), wim, QStringLiteral("第三")}, &why)
        && wimlib({QStringLiteral("info"), wim, QStringLiteral("2"), QStringLiteral("--boot")}, &why);
    if (!made) {
        qWarning("%s", qPrintable(why));
        return {};
    }
    return wim;
}

void TestArchiveFiles::open(CTarnboxDlg &dlg, const QString &path)
{
    m_prompts->answerOpenFile(path);
    dlg.OpenArchive();
}

void TestArchiveFiles::listsArchiveOfAnotherTool()
{
    const QString wim = makeThreeImageArchive();
    QVERIFY(!wim.isEmpty());
    // What the test relies on, as wimlib-imagex sees it.
    const testarchives::WimInfo info = testarchives::wimInfo(wim);
    QCOMPARE(info.imageCount, 3);
    QCOMPARE(info.bootIndex, 2);
    QVERIFY2(info.raw.contains(QStringLiteral("Hard Link Bytes:        1048576")), qPrintable(info.raw));

    CTarnboxDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    open(dlg, wim);

    QVERIFY2(m_prompts->messages().isEmpty(), qPrintable(m_prompts->messageTexts().join(QLatin1Char('\n'))));
    QCOMPARE(rows(dlg),
             (QStringList{QStringLiteral("显示 一|显示说明一|系统一|第一个 映像|Professional|3MB|否"),
                          QStringLiteral("<b>粗体</b>||A&B|x < y & z||1024KB|是"), QStringLiteral("||第三|||1KB|否")}));
    QCOMPARE(status(dlg),
             (QStringList{QStringLiteral("最大压缩"), QStringLiteral("3"), wim, QStringLiteral("读取和写入")}));
    QCOMPARE(dlg.m_nAccess, qint16(2));
    QCOMPARE(dlg.SelectedRow(), 0);
    QCOMPARE(dlg.m_List->selectionModel()->selectedRows().size(), 1);
    QVERIFY(dlg.m_List->hasFocus());
    QCOMPARE(dlg.m_strArchiveOnDisk, QFileInfo(wim).canonicalFilePath());
    QCOMPARE(dlg.ContextMenuIndex(), 0);

    const QString out = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    if (!out.isEmpty())
        QVERIFY(dlg.grab().save(out + QStringLiteral("/archive-listed.png")));
    closeArchive(dlg);
}

void TestArchiveFiles::compressionOfAnotherTool_data()
{
    QTest::addColumn<QString>("compress");
    QTest::addColumn<QString>("label");
    QTest::newRow("none") << "none" << QStringLiteral("无压缩");
    QTest::newRow("XPRESS") << "fast" << QStringLiteral("快速压缩");
    QTest::newRow("LZX") << "maximum" << QStringLiteral("最大压缩");
    // Its own label, not the one shown before (an uncompressed archive).
    QTest::newRow("LZMS") << "lzms" << QStringLiteral("LZMS压缩");
    QTest::newRow("solid ESD") << "lzms --solid" << QStringLiteral("LZMS压缩");
}

void TestArchiveFiles::compressionOfAnotherTool()
{
    QFETCH(QString, compress);
    QFETCH(QString, label);
    const QString root = m_dir->path();
    QVERIFY(writeFile(root + QStringLiteral("/tree/f.txt"), "text"));
    const QString before = root + QStringLiteral("/before.wim");
    const QString wim = root + QStringLiteral("/c.wim");
    QString why;
    QVERIFY2(
        wimlib({QStringLiteral("capture"), root + QStringLiteral("/tree"), before, QStringLiteral("--compress=none")},
               &why),
        qPrintable(why));
    const QStringList options = compress.split(QLatin1Char(' '));
    QVERIFY2(wimlib(QStringList{QStringLiteral("capture"), root + QStringLiteral("/tree"), wim, QStringLiteral("名"),
                                QStringLiteral("--compress=") + options[0]}
                        + options.mid(1),
                    &why),
             qPrintable(why));
    CTarnboxDlg dlg;
    open(dlg, before);
    QCOMPARE(labelText(dlg, "IDC_1003"), QStringLiteral("无压缩"));
    open(dlg, wim);
    QVERIFY(m_prompts->messages().isEmpty());
    QCOMPARE(labelText(dlg, "IDC_1003"), label);
    QCOMPARE(rows(dlg), QStringList{QStringLiteral("||名|||0KB|否")});
    closeArchive(dlg);
}

void TestArchiveFiles::readOnlyFileOnReadOnlyMount()
{
    // Tests run as root, who may write any file; a read-only mount refuses even root.
    const QString wim = makeThreeImageArchive();
    QVERIFY(!wim.isEmpty());
    const QString source = m_dir->path() + QStringLiteral("/ro-source");
    QVERIFY(QDir().mkpath(source));
    QVERIFY(QFile::copy(wim, source + QStringLiteral("/three.wim")));
    const QString target = m_dir->path() + QStringLiteral("/ro");
    ReadOnlyMount mount(source, target);
    if (!mount.ok())
        QSKIP(qPrintable(QStringLiteral("a read-only bind mount is not possible here: ") + mount.error()));
    const QString path = target + QStringLiteral("/three.wim");
    QFile probe(path);
    QVERIFY(!probe.open(QIODevice::ReadWrite));

    CTarnboxDlg dlg;
    open(dlg, path);
    QVERIFY2(m_prompts->messages().isEmpty(), qPrintable(m_prompts->messageTexts().join(QLatin1Char('\n'))));
    QCOMPARE(dlg.m_nAccess, qint16(1));
    QCOMPARE(status(dlg),
             (QStringList{QStringLiteral("最大压缩"), QStringLiteral("3"), path, QStringLiteral("仅读取")}));
    QCOMPARE(dlg.m_List->rowCount(), 3);
    QCOMPARE(dlg.m_List->item(1, 2)->text(), QStringLiteral("A&B"));
    closeArchive(dlg);
}

void TestArchiveFiles::readOnlyByRefusedWriteAccess()
{
    const QString wim = makeThreeImageArchive();
    QVERIFY(!wim.isEmpty());
    WimlibBackend real;
    FaultInjectingImaging faults(real);
    ScopedImaging use(&faults);
    faults.failOn(FaultInjectingImaging::Call::CreateFile);  // the read-write open

    CTarnboxDlg dlg;
    open(dlg, wim);
    QVERIFY(m_prompts->messages().isEmpty());
    QCOMPARE(faults.uses(FaultInjectingImaging::Call::CreateFile), 2);
    QCOMPARE(dlg.m_nAccess, qint16(1));
    QCOMPARE(labelText(dlg, "IDC_1006"), QStringLiteral("仅读取"));
    QCOMPARE(dlg.m_List->rowCount(), 3);
    QCOMPARE(dlg.m_strArchiveOnDisk, QFileInfo(wim).canonicalFilePath());
    closeArchive(dlg);
}

void TestArchiveFiles::listingFailures_data()
{
    QTest::addColumn<int>("call");
    QTest::addColumn<int>("nth");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("recordsRead");
    QTest::newRow("attributes") << int(FaultInjectingImaging::Call::GetAttributes) << 1
                                << QStringLiteral("无法正常获取文件信息！") << 0;
    QTest::newRow("information of image 2") << int(FaultInjectingImaging::Call::GetImageInformation) << 2
                                            << QStringLiteral("无法获取信息，文件打开失败！") << 1;
    QTest::newRow("loading image 3") << int(FaultInjectingImaging::Call::LoadImage) << 3
                                     << QStringLiteral("无法获取信息，文件打开失败！") << 2;
}

void TestArchiveFiles::listingFailures()
{
    QFETCH(int, call);
    QFETCH(int, nth);
    QFETCH(QString, message);
    QFETCH(int, recordsRead);
    const QString wim = makeThreeImageArchive();
    QVERIFY(!wim.isEmpty());
    QVERIFY(writeFile(m_dir->path() + QStringLiteral("/small/f.txt"), "x"));
    const QString small = m_dir->path() + QStringLiteral("/small.wim");
    QString why;
    QVERIFY2(wimlib({QStringLiteral("capture"), m_dir->path() + QStringLiteral("/small"), small, QStringLiteral("小"),
                     QStringLiteral("--compress=none")},
                    &why),
             qPrintable(why));

    WimlibBackend real;
    FaultInjectingImaging faults(real);
    ScopedImaging use(&faults);
    CTarnboxDlg dlg;
    dlg.show();
    open(dlg, small);
    const QStringList shownStatus = status(dlg);
    QCOMPARE(shownStatus.at(0), QStringLiteral("无压缩"));

    faults.failOn(FaultInjectingImaging::Call(call), nth);
    open(dlg, wim);
    const auto messages = m_prompts->messages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages[0].text, message);
    QCOMPARE(messages[0].caption, QCoreApplication::applicationName());
    QCOMPARE(messages[1].text, QStringLiteral("文件无法打开！"));
    QCOMPARE(messages[1].caption, QStringLiteral("错误提示"));
    QCOMPARE(faults.failures(FaultInjectingImaging::Call(call)), 1);
    // The archive stays open with an empty list; the fields still show the previous one.
    QVERIFY(dlg.m_hWim);
    QCOMPARE(dlg.m_nAccess, qint16(2));
    QCOMPARE(dlg.m_List->rowCount(), 0);
    QCOMPARE(dlg.m_Images.count, recordsRead);
    QCOMPARE(status(dlg), shownStatus);
    // Every image handle was closed: the archive is the only one left, and it closes.
    closeArchive(dlg);
    QCOMPARE(faults.uses(FaultInjectingImaging::Call::CloseHandle),
             faults.uses(FaultInjectingImaging::Call::LoadImage) - (call == int(FaultInjectingImaging::Call::LoadImage))
                 + 2);
}

void TestArchiveFiles::notAnArchive_data()
{
    QTest::addColumn<QByteArray>("contents");  // "<dir>": a folder, "<none>": no file at all
    QTest::newRow("text") << QByteArray("这不是映像文件\n");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("zeros") << QByteArray(4096, '\0');
    QTest::newRow("wim magic only") << QByteArray("MSWIM\0\0\0", 8);
    QTest::newRow("folder") << QByteArray("<dir>");
    QTest::newRow("missing") << QByteArray("<none>");
}

void TestArchiveFiles::notAnArchive()
{
    QFETCH(QByteArray, contents);
    const QString wim = makeThreeImageArchive();
    QVERIFY(!wim.isEmpty());
    const QString bad = m_dir->path() + QStringLiteral("/bad.wim");
    if (contents == "<dir>")
        QVERIFY(QDir().mkpath(bad));
    else if (contents != "<none>")
        QVERIFY(writeFile(bad, contents));

    CTarnboxDlg dlg;
    dlg.show();
    open(dlg, wim);
    const QStringList shownRows = rows(dlg);
    const QStringList shownStatus = status(dlg);
    QCOMPARE(shownRows.size(), 3);

    open(dlg, bad);
    const auto messages = m_prompts->messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("文件无法打开！"));
    QCOMPARE(messages[0].caption, QStringLiteral("错误提示"));
    QVERIFY(!dlg.m_hWim);
    QCOMPARE(dlg.m_nAccess, qint16(-1));
    QVERIFY(dlg.m_strArchiveOnDisk.isEmpty());
    QCOMPARE(rows(dlg), shownRows);
    QCOMPARE(status(dlg), shownStatus);
    // The file was not touched.
    if (contents != "<dir>" && contents != "<none>") {
        QFile f(bad);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), contents);
    }
    QCOMPARE(QFileInfo::exists(bad), contents != "<none>");
    closeArchive(dlg);
}

void TestArchiveFiles::damagedArchiveNeverCrashes()
{
    const QString wim = makeThreeImageArchive();
    QVERIFY(!wim.isEmpty());
    QFile f(wim);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray whole = f.readAll();
    // Cut at several places, and with the metadata overwritten at the end.
    QList<QByteArray> damaged{whole.left(100), whole.left(208), whole.left(whole.size() / 2),
                              whole.left(whole.size() - 300)};
    QByteArray scribbled = whole;
    for (qsizetype i = scribbled.size() - 2000; i < scribbled.size(); i += 7)
        scribbled[i] = char(0xA5);
    damaged << scribbled;

    for (int i = 0; i < damaged.size(); ++i) {
        const QString path = m_dir->path() + QStringLiteral("/damaged%1.wim").arg(i);
        QVERIFY(writeFile(path, damaged[i]));
        m_prompts->clear();
        CTarnboxDlg dlg;
        open(dlg, path);
        const QStringList texts = m_prompts->messageTexts();
        if (texts.isEmpty()) {
            // Opened and listed: every row is backed by a record.
            QCOMPARE(dlg.m_List->rowCount(), dlg.m_Images.count);
        } else {
            QCOMPARE(texts.last(), QStringLiteral("文件无法打开！"));
            QCOMPARE(dlg.m_List->rowCount(), 0);
        }
        closeArchive(dlg);
    }
}

void TestArchiveFiles::workDirRefused()
{
    const QString wim = makeThreeImageArchive();
    QVERIFY(!wim.isEmpty());
    CTarnboxDlg dlg;
    dlg.m_strWorkDir = m_dir->path() + QStringLiteral("/no such folder");
    open(dlg, wim);
    QCOMPARE(m_prompts->messageTexts(), QStringList{QStringLiteral("无法设置临时目录，请手动设置！")});
    QCOMPARE(m_prompts->messages().at(0).caption, QStringLiteral("错误提示"));
    QCOMPARE(dlg.m_strWorkDir, QString());
    QCOMPARE(labelText(dlg, "IDC_1008"), QString());
    QCOMPARE(dlg.m_List->rowCount(), 3);

    m_prompts->clear();
    dlg.m_strWorkDir = m_dir->path() + QStringLiteral("/still missing");
    m_prompts->answerSaveFile(m_dir->path() + QStringLiteral("/new.wim"));
    dlg.NewArchive();
    QCOMPARE(m_prompts->messageTexts(), QStringList{QStringLiteral("临时文件设置失败！")});
    QCOMPARE(m_prompts->messages().at(0).caption, QStringLiteral("错误提示"));
    QCOMPARE(dlg.m_strWorkDir, QString());
    QVERIFY(dlg.m_hWim);
    QCOMPARE(labelText(dlg, "IDC_1005"), m_dir->path() + QStringLiteral("/new.wim"));
    closeArchive(dlg);
}

void TestArchiveFiles::newArchiveReplacesFile_data()
{
    QTest::addColumn<bool>("existingIsArchive");
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("over a text file") << false << false;
    QTest::newRow("over an archive") << true << false;
    QTest::newRow("through a linked folder") << true << true;
}

void TestArchiveFiles::newArchiveReplacesFile()
{
    QFETCH(bool, existingIsArchive);
    QFETCH(bool, throughLink);
    const QString three = makeThreeImageArchive();
    QVERIFY(!three.isEmpty());
    const QString realDir = m_dir->path() + QStringLiteral("/real");
    QVERIFY(QDir().mkpath(realDir));
    const QString realPath = realDir + QStringLiteral("/新映像.wim");
    if (existingIsArchive)
        QVERIFY(QFile::copy(three, realPath));
    else
        QVERIFY(writeFile(realPath, "not an archive"));
    QString chosen = realPath;
    if (throughLink) {
        QVERIFY(QFile::link(realDir, m_dir->path() + QStringLiteral("/link")));
        chosen = m_dir->path() + QStringLiteral("/link/新映像.wim");
    }

    CTarnboxDlg dlg;
    dlg.show();
    open(dlg, three);
    QCOMPARE(dlg.m_List->rowCount(), 3);
    m_prompts->answerSaveFile(chosen);
    dlg.NewArchive();

    QVERIFY2(m_prompts->messages().isEmpty(), qPrintable(m_prompts->messageTexts().join(QLatin1Char('\n'))));
    QVERIFY(dlg.m_hWim);
    QCOMPARE(dlg.m_List->rowCount(), 0);
    QCOMPARE(dlg.m_Images.count, 0);
    QCOMPARE(status(dlg),
             (QStringList{QStringLiteral("最大压缩"), QStringLiteral("0"), chosen, QStringLiteral("读取和写入")}));
    QCOMPARE(dlg.m_strArchiveOnDisk, QFileInfo(realPath).canonicalFilePath());
    QVERIFY(!dlg.m_strArchiveOnDisk.contains(QStringLiteral("/link/")));
    QCOMPARE(dlg.ContextMenuIndex(), 1);
    // It went straight on to the capture dialog; cancelled, the new archive stays open and empty.
    QCOMPARE(dialogsRun(*m_prompts), QStringList{QStringLiteral("CWIM_Image_Info")});

    // An independent reader agrees: a valid, empty LZX archive.
    const testarchives::WimInfo info = testarchives::wimInfo(realPath);
    QVERIFY2(info.ok, qPrintable(info.raw));
    QCOMPARE(info.imageCount, 0);
    QCOMPARE(info.compression, QStringLiteral("LZX"));
    QVERIFY(testarchives::wimVerify(realPath));
    // The archive we opened before is untouched.
    QCOMPARE(testarchives::wimInfo(three).imageCount, 3);
    closeArchive(dlg);
}

void TestArchiveFiles::newArchiveOverTheOpenArchive()
{
    const QString three = makeThreeImageArchive();
    QVERIFY(!three.isEmpty());
    CTarnboxDlg dlg;
    open(dlg, three);
    QCOMPARE(dlg.m_List->rowCount(), 3);
    m_prompts->answerSaveFile(three);
    dlg.NewArchive();
    QVERIFY2(m_prompts->messages().isEmpty(), qPrintable(m_prompts->messageTexts().join(QLatin1Char('\n'))));
    QCOMPARE(dlg.m_List->rowCount(), 0);
    closeArchive(dlg);
    // Replaced by a valid empty archive, and it opens again.
    const testarchives::WimInfo info = testarchives::wimInfo(three);
    QVERIFY2(info.ok, qPrintable(info.raw));
    QCOMPARE(info.imageCount, 0);
    CTarnboxDlg again;
    open(again, three);
    QVERIFY(again.m_hWim);
    QCOMPARE(labelText(again, "IDC_1004"), QStringLiteral("0"));
    closeArchive(again);
}

QTEST_MAIN(TestArchiveFiles)
#include "tst_archive_files.moc"
