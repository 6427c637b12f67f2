// ESD files and split sets in the main window: opening them, converting by
// export, splitting, verifying and optimizing, on archives made here by
// wimlib-imagex and by our code, checked with wimlib-imagex.
#include "app/ctarnbox_dlg.h"
#include "fake_clock.h"
#include "held_operation.h"
#include "ops_fixture.h"
#include "resources/resource_ids.h"
#include "test_archives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace opsfixture;
using testarchives::fileBytes;
using Fault = FaultInjectingImaging::Call;
using Kind = RecordingPrompts::Kind;

class TestMediaWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void opensMedia_data();
    void opensMedia();
    void missingPartNamed();
    void exportConverts_data();
    void exportConverts();
    void splitIntoParts();
    void splitAsksBeforeALargerPart();
    void refusedOrFailing_data();
    void refusedOrFailing();
    void verifyWholeAndDamaged_data();
    void verifyWholeAndDamaged();
    void optimizeShrinks();
    void closeAbortsAndLeavesNothing_data();
    void closeAbortsAndLeavesNothing();

private:
    // A folder of `files` incompressible files of `size` bytes under the test's folder.
    QString tree(const QString &name, int files, int size);
    // A copy in the test's folder of makeMediaArchives' a.wim of `files`
    // files (its tree is m_tree), or of a.esd or the set a.swm made of it;
    // its path. Made by the first call for that kind and size.
    QString archive(const QString &kind, int files = 6);
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // Runs a window command and waits for the operation it started.
    void run(int command);
    // Message texts, the completion message without its time.
    QStringList messages() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeClock> m_clock;
    std::unique_ptr<WindowOnArchive> m_w;
    QStringList m_shown;  // what the output dialogs showed
    QString m_tree;
    QTemporaryDir m_made;  // what archive() made, by kind and size
};

void TestMediaWindow::initTestCase()
{
    QVERIFY2(testarchives::haveTool(QStringLiteral("wimlib-imagex")),
             "wimlib-imagex (package wimtools, installed by scripts/install.sh) is needed to make test archives");
}

void TestMediaWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_clock = std::make_unique<FakeClock>();
    m_shown.clear();
}

void TestMediaWindow::cleanup()
{
    QVERIFY(waitForOperations());
    const QString handles = m_w ? m_w->finish() : QString();
    m_w.reset();
    m_clock.reset();
    m_dir.reset();
    QVERIFY2(handles.isEmpty(), qPrintable(handles));
}

QString TestMediaWindow::tree(const QString &name, int files, int size)
{
    QMap<QString, QByteArray> contents{{QStringLiteral("说明.txt"), name.toUtf8()}};
    for (int i = 0; i < files; ++i)
        contents.insert(QStringLiteral("data/f%1.bin").arg(i),
                        testarchives::noise(size, quint32(qHash(name)) + quint32(i)));
    const QString root = path(name);
    testarchives::writeTree(root, contents);
    return root;
}

QString TestMediaWindow::archive(const QString &kind, int files)
{
    // Made once for each kind and size (a solid export takes a while) and copied.
    const QString made = m_made.filePath(QStringLiteral("%1-%2").arg(kind).arg(files));
    m_tree = made + QStringLiteral("/t");
    QString why;
    if (!QFileInfo::exists(made) && !makeMediaArchives(made, files, {kind}, &why))
        qFatal("%s", qPrintable(why));
    for (const QString &name : QDir(made).entryList({QStringLiteral("a.*"), QStringLiteral("a*.swm")}, QDir::Files)) {
        if (!QFile::copy(made + QLatin1Char('/') + name, path(name)))
            qFatal("cannot copy %s", qPrintable(name));
    }
    return path(QStringLiteral("a.") + kind);
}

void TestMediaWindow::run(int command)
{
    m_w->prompts.onDialog([this](QDialog &d) {
        auto *edit = d.findChild<QPlainTextEdit *>(QStringLiteral("IDC_OUTPUT_TEXT"));
        m_shown << (edit ? edit->toPlainText() : QStringLiteral("<no text>"));
        return int(QDialog::Accepted);
    });
    m_w->dlg->OnCommand(command);
    QVERIFY(waitForOperations());
    QVERIFY(!m_w->dlg->IsBusy());
}

QStringList TestMediaWindow::messages() const
{
    return shownMessages(m_w->prompts);
}

void TestMediaWindow::opensMedia_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("compression");
    QTest::addColumn<QString>("access");
    QTest::newRow("ESD") << QStringLiteral("esd") << QStringLiteral("LZMS压缩") << QStringLiteral("读取和写入");
    // A split set says so, and of how many parts.
    QTest::newRow("split set") << QStringLiteral("swm") << QStringLiteral("最大压缩")
                               << QStringLiteral("仅读取（2 个分卷）");
}

void TestMediaWindow::opensMedia()
{
    QFETCH(QString, kind);
    QFETCH(QString, compression);
    QFETCH(QString, access);
    // The ESD of exportConverts (made once); the set needs more files for two parts.
    const QString opened = archive(kind, kind == u"esd" ? 3 : 6);
    m_w = std::make_unique<WindowOnArchive>(opened);
    const QStringList status = windowview::status(*m_w->dlg);
    QCOMPARE(status[0], compression);
    QCOMPARE(status[3], access);
    QCOMPARE(column(*m_w->dlg, 2), QStringList{QStringLiteral("一")});
}

void TestMediaWindow::missingPartNamed()
{
    const QString first = archive(QStringLiteral("swm"), 8);
    QVERIFY(QFile::exists(path(QStringLiteral("a3.swm"))));
    QVERIFY(QFile::remove(path(QStringLiteral("a2.swm"))));
    m_w = std::make_unique<WindowOnArchive>(path(QStringLiteral("a.wim")));
    openInWindow(*m_w->dlg, first);
    QCOMPARE(m_w->prompts.messageTexts(), QStringList{QStringLiteral("文件无法打开！")});
    const QString detail = m_w->prompts.messageDetails().value(0);
    QVERIFY2(detail.contains(QStringLiteral("a2.swm")) && detail.contains(QStringLiteral("a.swm")), qPrintable(detail));
    QVERIFY(!m_w->dlg->m_hWim);
}

void TestMediaWindow::exportConverts_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("compression");  // as wimlib-imagex prints it
    QTest::addColumn<QString>("created");      // flags and compression given to WIMCreateFile
    QTest::newRow("ESD to WIM") << QStringLiteral("esd") << QStringLiteral("out.wim") << QStringLiteral("LZX")
                                << QStringLiteral("0 2");
    QTest::newRow("WIM to ESD") << QStringLiteral("wim") << QStringLiteral("out.ESD") << QStringLiteral("LZMS")
                                << QStringLiteral("%1 3").arg(WIM_FLAG_SOLID);
}

void TestMediaWindow::exportConverts()
{
    QFETCH(QString, kind);
    QFETCH(QString, destination);
    QFETCH(QString, compression);
    QFETCH(QString, created);
    m_w = std::make_unique<WindowOnArchive>(archive(kind, 3));
    const QString out = path(destination);
    m_w->prompts.answerSaveFile(out);
    run(res::ID_EXPORT_IMAGE);

    QCOMPARE(messages(), QStringList{kDone});
    QCOMPARE(m_w->library.callsStartingWith(QStringLiteral("CreateFile")),
             QStringList{QStringLiteral("CreateFile %1 c0000000 4 %2").arg(out, created)});
    const auto info = testarchives::wimInfo(out);
    QCOMPARE(info.compression, compression);
    // Version 3584 is the solid (ESD) form.
    QCOMPARE(info.raw.contains(QRegularExpression(QStringLiteral("Version:\\s+3584"))), compression == u"LZMS");
    QString why;
    QVERIFY2(testarchives::wimVerify(out, &why), qPrintable(why));
    QVERIFY2(wimlib({QStringLiteral("apply"), out, QStringLiteral("1"), path(QStringLiteral("applied"))}, &why),
             qPrintable(why));
    QCOMPARE(testarchives::readTree(path(QStringLiteral("applied"))), testarchives::readTree(m_tree));
}

void TestMediaWindow::splitIntoParts()
{
    // The archive by wimlib-imagex, the parts by the window, read back by both.
    m_w = std::make_unique<WindowOnArchive>(archive(QStringLiteral("wim")));
    const QStringList rowsBefore = rows(*m_w->dlg);
    QVERIFY(QDir().mkpath(path(QStringLiteral("parts"))));
    m_w->prompts.answerSaveFile(path(QStringLiteral("parts/install.swm")));
    m_w->prompts.answerInput(QStringLiteral("0"));  // refused, asked again
    m_w->prompts.answerInput(QStringLiteral(" 1 MB"));
    run(res::ID_SPLIT_FILE);

    const auto calls = m_w->prompts.calls();
    QCOMPARE(calls.size(), 5);
    QCOMPARE(calls[0].chooser.filter, QStringLiteral("分卷映像(*.swm)|*.swm||"));
    QCOMPARE(calls[0].chooser.initialName, path(QStringLiteral("a")));
    QCOMPARE(calls[1].input, QStringLiteral("4000"));
    QVERIFY(calls[2].text.startsWith(QStringLiteral("分卷大小无效")));
    QCOMPARE(calls[3].input, QStringLiteral("0"));  // what the user typed stays in the box
    QVERIFY(calls[4].text.startsWith(kDone));
    QVERIFY(m_shown.isEmpty());

    const QStringList parts = QDir(path(QStringLiteral("parts"))).entryList(QDir::Files);
    QVERIFY2(parts.size() >= 2 && parts.contains(QStringLiteral("install2.swm")), qPrintable(parts.join(u' ')));
    for (const QString &part : parts)
        QVERIFY(QFileInfo(path(QStringLiteral("parts/") + part)).size() <= 1024 * 1024 + 64 * 1024);

    openInWindow(*m_w->dlg, path(QStringLiteral("parts/install.swm")));
    QCOMPARE(windowview::status(*m_w->dlg)[3], QStringLiteral("仅读取（%1 个分卷）").arg(parts.size()));
    QCOMPARE(rows(*m_w->dlg), rowsBefore);
    QString why;
    QVERIFY2(
        wimlib({QStringLiteral("apply"), path(QStringLiteral("parts/install.swm")), QStringLiteral("1"),
                path(QStringLiteral("applied")), QStringLiteral("--ref=") + path(QStringLiteral("parts/install*.swm"))},
               &why),
        qPrintable(why));
    QCOMPARE(testarchives::readTree(path(QStringLiteral("applied"))), testarchives::readTree(m_tree));
}

void TestMediaWindow::splitAsksBeforeALargerPart()
{
    const QString big = tree(QStringLiteral("big"), 1, 1600000);
    QString why;
    QVERIFY2(makeArchive(path(QStringLiteral("b.wim")), {big}, {QStringLiteral("大")}, &why), qPrintable(why));
    m_w = std::make_unique<WindowOnArchive>(path(QStringLiteral("b.wim")));
    QVERIFY(QDir().mkpath(path(QStringLiteral("parts"))));
    m_w->prompts.answerSaveFile(path(QStringLiteral("parts/b.swm")));
    m_w->prompts.answerInput(QStringLiteral("1"));
    m_w->prompts.answerMessage(IDCANCEL);
    run(res::ID_SPLIT_FILE);

    const auto calls = m_w->prompts.calls();
    QCOMPARE(calls.size(), 3);
    QVERIFY2(calls[2].text.contains(QStringLiteral("映像 1 中的 /data/f0.bin（1.5 MB）"))
                 && calls[2].text.endsWith(QStringLiteral("是否仍要继续拆分？")),
             qPrintable(calls[2].text));
    QCOMPARE(QDir(path(QStringLiteral("parts"))).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestMediaWindow::refusedOrFailing_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");  // its start
    // One failure of each operation through the window; their refusals are
    // run on a recording host (tst_media_rules).
    QTest::newRow("split fails") << int(res::ID_SPLIT_FILE) << QStringLiteral("wim")
                                 << QStringLiteral("映像文件拆分失败！");
    QTest::newRow("verify fails") << int(res::ID_VERIFY_FILE) << QStringLiteral("wim")
                                  << QStringLiteral("无法校验映像文件！");
    QTest::newRow("optimize fails") << int(res::ID_OPTIMIZE_FILE) << QStringLiteral("wim")
                                    << QStringLiteral("映像文件优化失败，原文件保持不变！");
    // The write commands on a split set, with why (nothing is asked first).
    const QString unwritable = QStringLiteral("文件无法写入");
    QTest::newRow("add to a set") << int(res::ID_ADD_IMAGE) << QStringLiteral("swm") << unwritable;
    QTest::newRow("delete in a set") << int(res::ID_DELETE_IMAGE) << QStringLiteral("swm") << unwritable;
    QTest::newRow("boot flag in a set") << int(res::ID_SET_BOOT_IMAGE) << QStringLiteral("swm") << unwritable;
    QTest::newRow("edit in a set") << int(res::ID_EDIT_IMAGE) << QStringLiteral("swm") << unwritable;
}

void TestMediaWindow::refusedOrFailing()
{
    QFETCH(int, command);
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString opened = archive(kind);
    const QByteArray bytes = fileBytes(opened);
    const QStringList files = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
    m_w = std::make_unique<WindowOnArchive>(opened);
    for (Fault call : {Fault::SplitFile, Fault::VerifyFile, Fault::OptimizeFile})
        m_w->faults.failOn(call);
    m_w->prompts.answerSaveFile(path(QStringLiteral("out.swm")));
    m_w->prompts.answerInput(QStringLiteral("1"));
    run(command);

    const QStringList texts = messages();
    QVERIFY2(!texts.isEmpty() && texts[0].startsWith(message), qPrintable(texts.join(u'\n')));
    if (message.contains(QStringLiteral("失败")) || message.startsWith(QStringLiteral("无法"))) {
        // The library's failure, with its cause, then the end of the operation.
        QCOMPARE(texts, (QStringList{message, kDone}));
        QVERIFY(m_w->prompts.messageDetails()[0].contains(QStringLiteral("injected failure")));
    } else {
        // Refused before anything is asked.
        QCOMPARE(m_w->prompts.calls().size(), 1);
    }
    if (message == u"文件无法写入")
        QCOMPARE(m_w->prompts.messageDetails()[0], QStringLiteral("分卷映像只能读取，请先导出为单个映像文件"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), files);
    QCOMPARE(fileBytes(opened), bytes);
}

void TestMediaWindow::verifyWholeAndDamaged_data()
{
    QTest::addColumn<bool>("damage");
    QTest::newRow("whole") << false;
    QTest::newRow("damaged") << true;
}

void TestMediaWindow::verifyWholeAndDamaged()
{
    QFETCH(bool, damage);
    // Uncompressed, so that the victim's bytes can be found in the file.
    const QByteArray marker = "victim-" + QByteArray::number(QRandomGenerator::global()->generate());
    const QString t = tree(QStringLiteral("t"), 2, 100000);
    testarchives::writeTree(t, {{QStringLiteral("sub/victim.bin"), marker.repeated(4000)}});
    const QString wim = path(QStringLiteral("a.wim"));
    QString why;
    QVERIFY2(makeArchive(wim, {t}, {QStringLiteral("一")}, &why, QStringLiteral("none")), qPrintable(why));
    if (damage) {
        QFile f(wim);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const qsizetype at = f.readAll().indexOf(marker);
        QVERIFY(at > 0 && f.seek(at + 5000) && f.write("#", 1) == 1);
    }
    m_w = std::make_unique<WindowOnArchive>(wim);
    run(res::ID_VERIFY_FILE);

    if (!damage) {
        QCOMPARE(messages(), (QStringList{QStringLiteral("校验通过，映像文件完好无损。"), kDone}));
        QVERIFY(m_shown.isEmpty());
        return;
    }
    QCOMPARE(messages(),
             (QStringList{QStringLiteral("映像文件已损坏：1 个文件的数据有误，详见随后的输出信息。"), kDone}));
    QCOMPARE(m_w->prompts.messages()[0].caption, QStringLiteral("警告"));
    QCOMPARE(m_shown.size(), 1);
    QVERIFY2(m_shown[0].contains(QStringLiteral("损坏: 映像 1 /sub/victim.bin")), qPrintable(m_shown[0]));
    QVERIFY(!m_shown[0].contains(QStringLiteral("f0.bin")));
}

void TestMediaWindow::optimizeShrinks()
{
    QString why;
    const QString wim = path(QStringLiteral("a.wim"));
    QVERIFY2(makeArchive(wim, {tree(QStringLiteral("t"), 2, 300000), tree(QStringLiteral("u"), 4, 300000)},
                         {QStringLiteral("一"), QStringLiteral("二")}, &why),
             qPrintable(why));
    m_w = std::make_unique<WindowOnArchive>(wim);
    m_w->dlg->SelectAndFocusRow(1);
    m_w->prompts.answerMessage(IDYES);
    m_w->dlg->OnCommand(res::ID_DELETE_IMAGE);
    QCOMPARE(m_w->dlg->m_List->rowCount(), 1);
    const qint64 before = QFileInfo(wim).size();
    const QStringList rowsBefore = rows(*m_w->dlg);
    m_w->library.clear();
    m_w->prompts.clear();  // the delete's question
    run(res::ID_OPTIMIZE_FILE);

    QCOMPARE(messages(), QStringList{kDone});
    const qint64 after = QFileInfo(wim).size();
    QVERIFY2(after < before - 1000000, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
    QVERIFY2(testarchives::wimVerify(wim, &why), qPrintable(why));
    QCOMPARE(testarchives::wimInfo(wim).names, QStringList{QStringLiteral("一")});
    // The list was read again from the rebuilt archive, and the window goes on with it.
    QVERIFY(!m_w->library.callsStartingWith(QStringLiteral("LoadImage 1")).isEmpty());
    QCOMPARE(rows(*m_w->dlg), rowsBefore);
    m_w->dlg->SelectAndFocusRow(0);
    m_w->dlg->OnCommand(res::ID_SET_BOOT_IMAGE);
    QCOMPARE(testarchives::wimInfo(wim).bootIndex, 1);
}

void TestMediaWindow::closeAbortsAndLeavesNothing_data()
{
    QTest::addColumn<int>("command");
    QTest::newRow("split") << res::ID_SPLIT_FILE;
    QTest::newRow("optimize") << res::ID_OPTIMIZE_FILE;
}

void TestMediaWindow::closeAbortsAndLeavesNothing()
{
    QFETCH(int, command);
    const QString wim = archive(QStringLiteral("wim"), 12);
    const QByteArray bytes = fileBytes(wim);
    const QStringList filesBefore = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
    m_w = std::make_unique<WindowOnArchive>(wim);
    HeldOperation held(m_w->library, HeldOperation::Phase::ArchiveFile);
    ScopedImaging scoped(&held);
    m_w->prompts.answerSaveFile(path(QStringLiteral("install.swm")));
    m_w->prompts.answerInput(QStringLiteral("1"));
    m_w->dlg->OnCommand(command);
    QVERIFY(held.waitUntilHeld());
    QVERIFY(m_w->dlg->IsBusy());

    const QString ask = QStringLiteral("当前正在处理中，你确定要关闭应用程序？");
    m_w->prompts.answerMessage(IDOK);
    m_w->dlg->CloseApp();
    QVERIFY(QTest::qWaitFor([this, &ask] { return m_w->prompts.messageTexts().contains(ask); }, 20000));
    QVERIFY(m_w->dlg->isVisible());  // the close waits for the operation
    held.release();
    QVERIFY(QTest::qWaitFor([this] { return !m_w->dlg->isVisible(); }, 60000));
    QVERIFY(waitForOperations());

    QCOMPARE(m_w->prompts.messageTexts().last(), ask);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), filesBefore);
    QCOMPARE(fileBytes(wim), bytes);
    m_w->finish();
    m_w.reset();
}

QTEST_MAIN(TestMediaWindow)
#include "tst_media_window.moc"
