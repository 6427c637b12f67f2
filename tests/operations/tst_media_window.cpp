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
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace opsfixture;
using Fault = FaultInjectingImaging::Call;
using Kind = RecordingPrompts::Kind;

namespace {

const QString kDone = QStringLiteral("操作完成，一共耗时 ");

QByteArray noise(int size)
{
    QByteArray bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        const quint32 word = QRandomGenerator::global()->generate();
        bytes.append(reinterpret_cast<const char *>(&word), qMin<qsizetype>(4, size - bytes.size()));
    }
    return bytes;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList splitParts(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("*.swm")}, QDir::Files, QDir::Name);
}

}  // namespace

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
    void splitRefusedOrFailing_data();
    void splitRefusedOrFailing();
    void verifyWholeAndDamaged_data();
    void verifyWholeAndDamaged();
    void verifyFailure();
    void optimizeShrinks();
    void optimizeRefusedOrFailing_data();
    void optimizeRefusedOrFailing();
    void closeAbortsAndLeavesNothing_data();
    void closeAbortsAndLeavesNothing();

private:
    // A folder of `files` incompressible files of `size` bytes under the test's folder.
    QString tree(const QString &name, int files, int size);
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // Runs a window command and waits for the operation it started.
    void run(int command);
    // Message texts, the completion message without its time.
    QStringList messages() const;
    // What the output dialogs showed.
    QStringList outputShown() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeClock> m_clock;
    std::unique_ptr<WindowOnArchive> m_w;
    QStringList m_shown;
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
        contents.insert(QStringLiteral("data/f%1.bin").arg(i), noise(size));
    const QString root = path(name);
    testarchives::writeTree(root, contents);
    return root;
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
    QStringList out;
    for (const QString &text : m_w->prompts.messageTexts())
        out << (text.startsWith(kDone) ? kDone : text);
    return out;
}

QStringList TestMediaWindow::outputShown() const
{
    return m_shown;
}

void TestMediaWindow::opensMedia_data()
{
    QTest::addColumn<QStringList>("make");  // wimlib-imagex commands after the capture of "t" into a.wim
    QTest::addColumn<QString>("open");
    QTest::addColumn<QString>("compression");
    QTest::addColumn<QString>("access");
    QTest::newRow("ESD") << QStringList{QStringLiteral("export a.wim all e.esd --solid")} << QStringLiteral("e.esd")
                         << QStringLiteral("LZMS压缩") << QStringLiteral("读取和写入");
    QTest::newRow("split set") << QStringList{QStringLiteral("split a.wim s.swm 1")} << QStringLiteral("s.swm")
                               << QStringLiteral("最大压缩") << QStringLiteral("仅读取");
}

void TestMediaWindow::opensMedia()
{
    QFETCH(QStringList, make);
    QFETCH(QString, open);
    QFETCH(QString, compression);
    QFETCH(QString, access);
    QString why;
    QVERIFY2(makeArchive(path(QStringLiteral("a.wim")), {tree(QStringLiteral("t"), 6, 300000), tree(QStringLiteral("u"), 1, 10)},
                         {QStringLiteral("一"), QStringLiteral("二")}, &why),
             qPrintable(why));
    for (const QString &command : make) {
        QStringList args;
        for (const QString &word : command.split(QLatin1Char(' ')))
            args << (word.contains(QLatin1Char('.')) ? path(word) : word);
        QVERIFY2(wimlib(args, &why), qPrintable(why));
    }
    m_w = std::make_unique<WindowOnArchive>(path(open));
    const QStringList status = windowview::status(*m_w->dlg);
    QCOMPARE(status[0], compression);
    QCOMPARE(status[3], access);
    QCOMPARE(column(*m_w->dlg, 2), (QStringList{QStringLiteral("一"), QStringLiteral("二")}));
}

void TestMediaWindow::missingPartNamed()
{
    QString why;
    QVERIFY2(makeArchive(path(QStringLiteral("a.wim")), {tree(QStringLiteral("t"), 8, 300000)}, {QStringLiteral("一")}, &why),
             qPrintable(why));
    QVERIFY2(wimlib({QStringLiteral("split"), path(QStringLiteral("a.wim")), path(QStringLiteral("install.swm")),
                     QStringLiteral("1")},
                    &why),
             qPrintable(why));
    QVERIFY(splitParts(m_dir->path()).size() >= 3);
    QVERIFY(QFile::remove(path(QStringLiteral("install2.swm"))));

    m_w = std::make_unique<WindowOnArchive>(path(QStringLiteral("a.wim")));
    openInWindow(*m_w->dlg, path(QStringLiteral("install.swm")));
    QCOMPARE(m_w->prompts.messageTexts(), QStringList{QStringLiteral("文件无法打开！")});
    const QString detail = m_w->prompts.messageDetails().value(0);
    QVERIFY2(detail.contains(QStringLiteral("install2.swm")) && detail.contains(QStringLiteral("install.swm")),
             qPrintable(detail));
    QVERIFY(!m_w->dlg->m_hWim);
}

void TestMediaWindow::exportConverts_data()
{
    QTest::addColumn<bool>("fromEsd");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("compression");  // as wimlib-imagex prints it
    QTest::addColumn<QString>("created");      // flags and compression given to WIMCreateFile
    QTest::newRow("ESD to WIM") << true << QStringLiteral("out.wim") << QStringLiteral("LZX") << QStringLiteral("0 2");
    QTest::newRow("WIM to ESD") << false << QStringLiteral("out.ESD") << QStringLiteral("LZMS")
                                << QStringLiteral("%1 3").arg(WIM_FLAG_SOLID);
}

void TestMediaWindow::exportConverts()
{
    QFETCH(bool, fromEsd);
    QFETCH(QString, destination);
    QFETCH(QString, compression);
    QFETCH(QString, created);
    const QString source = path(fromEsd ? QStringLiteral("src.esd") : QStringLiteral("src.wim"));
    const QString t = tree(QStringLiteral("t"), 3, 200000);
    QString why;
    QStringList capture{QStringLiteral("capture"), t, source, QStringLiteral("一")};
    if (fromEsd)
        capture << QStringLiteral("--solid");
    QVERIFY2(wimlib(capture, &why), qPrintable(why));
    m_w = std::make_unique<WindowOnArchive>(source);
    m_w->prompts.answerSaveFile(path(destination));
    run(res::ID_EXPORT_IMAGE);

    QCOMPARE(messages(), QStringList{kDone});
    QCOMPARE(m_w->library.callsStartingWith(QStringLiteral("CreateFile")),
             QStringList{QStringLiteral("CreateFile %1 c0000000 4 %2").arg(path(destination), created)});
    const auto info = testarchives::wimInfo(path(destination));
    QVERIFY2(info.ok, qPrintable(info.raw));
    QCOMPARE(info.compression, compression);
    // Version 3584 is the solid (ESD) form.
    QCOMPARE(info.raw.contains(QRegularExpression(QStringLiteral("Version:\\s+3584"))), !fromEsd);
    QString output;
    QVERIFY2(testarchives::wimVerify(path(destination), &output), qPrintable(output));
    QVERIFY2(wimlib({QStringLiteral("apply"), path(destination), QStringLiteral("1"), path(QStringLiteral("applied"))}, &why),
             qPrintable(why));
    QCOMPARE(testarchives::readTree(path(QStringLiteral("applied"))), testarchives::readTree(t));
}

void TestMediaWindow::splitIntoParts()
{
    // The archive by wimlib-imagex, the parts by the window, read back by both.
    QString why;
    const QString t = tree(QStringLiteral("t"), 6, 400000);
    QVERIFY2(makeArchive(path(QStringLiteral("a.wim")), {t}, {QStringLiteral("一")}, &why), qPrintable(why));
    m_w = std::make_unique<WindowOnArchive>(path(QStringLiteral("a.wim")));
    const QStringList rowsBefore = rows(*m_w->dlg);
    m_w->prompts.answerSaveFile(path(QStringLiteral("parts/install.swm")));
    m_w->prompts.answerInput(QStringLiteral("0"));  // refused, asked again
    m_w->prompts.answerInput(QStringLiteral(" 1 MB"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("parts"))));
    run(res::ID_SPLIT_FILE);

    const auto calls = m_w->prompts.calls();
    QCOMPARE(calls.size(), 5);
    QCOMPARE(calls[0].kind, Kind::SaveFile);
    QCOMPARE(calls[0].chooser.filter, QStringLiteral("分卷映像(*.swm)|*.swm||"));
    QCOMPARE(calls[0].chooser.initialName, path(QStringLiteral("a")));
    QCOMPARE(calls[1].kind, Kind::InputText);
    QCOMPARE(calls[1].input, QStringLiteral("4000"));
    QVERIFY(calls[2].text.startsWith(QStringLiteral("分卷大小无效")));
    QCOMPARE(calls[3].input, QStringLiteral("0"));  // what the user typed stays in the box
    QVERIFY(calls[4].text.startsWith(kDone));
    QVERIFY(outputShown().isEmpty());

    const QStringList parts = splitParts(path(QStringLiteral("parts")));
    QVERIFY2(parts.size() >= 3 && parts.contains(QStringLiteral("install2.swm")), qPrintable(parts.join(u' ')));
    for (const QString &part : parts)
        QVERIFY(QFileInfo(path(QStringLiteral("parts/") + part)).size() <= 1024 * 1024 + 64 * 1024);

    // The set opens read-only from its first part, with the same images.
    openInWindow(*m_w->dlg, path(QStringLiteral("parts/install.swm")));
    QCOMPARE(windowview::status(*m_w->dlg)[3], QStringLiteral("仅读取"));
    QCOMPARE(rows(*m_w->dlg), rowsBefore);
    QVERIFY2(wimlib({QStringLiteral("apply"), path(QStringLiteral("parts/install.swm")), QStringLiteral("1"),
                     path(QStringLiteral("applied")), QStringLiteral("--ref=") + path(QStringLiteral("parts/install*.swm"))},
                    &why),
             qPrintable(why));
    QCOMPARE(testarchives::readTree(path(QStringLiteral("applied"))), testarchives::readTree(t));
}

void TestMediaWindow::splitRefusedOrFailing_data()
{
    QTest::addColumn<QString>("archive");
    QTest::addColumn<bool>("injected");
    QTest::addColumn<QString>("message");
    QTest::newRow("ESD") << QStringLiteral("a.esd") << false << QStringLiteral("ESD（LZMS 压缩）映像文件不能拆分");
    QTest::newRow("split set") << QStringLiteral("a.swm") << false << QStringLiteral("当前文件已经是分卷映像");
    QTest::newRow("library fails") << QStringLiteral("a.wim") << true << QStringLiteral("映像文件拆分失败！");
}

void TestMediaWindow::splitRefusedOrFailing()
{
    QFETCH(QString, archive);
    QFETCH(bool, injected);
    QFETCH(QString, message);
    QString why;
    QVERIFY2(makeArchive(path(QStringLiteral("a.wim")), {tree(QStringLiteral("t"), 6, 300000)}, {QStringLiteral("一")}, &why),
             qPrintable(why));
    if (archive.endsWith(QLatin1String(".esd")))
        QVERIFY2(wimlib({QStringLiteral("export"), path(QStringLiteral("a.wim")), QStringLiteral("all"), path(archive),
                         QStringLiteral("--solid")},
                        &why),
                 qPrintable(why));
    if (archive.endsWith(QLatin1String(".swm")))
        QVERIFY2(wimlib({QStringLiteral("split"), path(QStringLiteral("a.wim")), path(archive), QStringLiteral("1")}, &why),
                 qPrintable(why));
    m_w = std::make_unique<WindowOnArchive>(path(archive));
    const QStringList before = QDir(m_dir->path()).entryList(QDir::Files);
    m_w->faults.failOn(Fault::SplitFile);
    m_w->prompts.answerSaveFile(path(QStringLiteral("out.swm")));
    m_w->prompts.answerInput(QStringLiteral("1"));
    run(res::ID_SPLIT_FILE);

    const QStringList texts = messages();
    QVERIFY2(!texts.isEmpty() && texts[0].startsWith(message), qPrintable(texts.join(u'\n')));
    if (injected) {
        QCOMPARE(texts, (QStringList{message, kDone}));
        QVERIFY(m_w->prompts.messageDetails()[0].contains(QStringLiteral("injected failure")));
    } else {
        // Refused before anything is asked.
        QCOMPARE(m_w->prompts.calls().size(), 1);
    }
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), before);
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
    const QByteArray marker = QByteArrayLiteral("victim-data-") + QByteArray::number(QRandomGenerator::global()->generate());
    const QString t = tree(QStringLiteral("t"), 2, 100000);
    testarchives::writeTree(t, {{QStringLiteral("sub/victim.bin"), marker.repeated(4000)}});
    const QString wim = path(QStringLiteral("a.wim"));
    QString why;
    QVERIFY2(makeArchive(wim, {t}, {QStringLiteral("一")}, &why, QStringLiteral("none")), qPrintable(why));
    if (damage) {
        QFile f(wim);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const qsizetype at = f.readAll().indexOf(marker);
        QVERIFY(at > 0);
        QVERIFY(f.seek(at + 5000) && f.write("#", 1) == 1);
    }
    m_w = std::make_unique<WindowOnArchive>(wim);
    run(res::ID_VERIFY_FILE);

    const QStringList texts = messages();
    if (!damage) {
        QCOMPARE(texts, (QStringList{QStringLiteral("校验通过，映像文件完好无损。"), kDone}));
        QVERIFY(outputShown().isEmpty());
        return;
    }
    QCOMPARE(texts, (QStringList{QStringLiteral("映像文件已损坏：1 个文件的数据有误，详见随后的输出信息。"), kDone}));
    QCOMPARE(m_w->prompts.messages()[0].caption, QStringLiteral("警告"));
    QCOMPARE(outputShown().size(), 1);
    QVERIFY2(outputShown()[0].contains(QStringLiteral("损坏: 映像 1 /sub/victim.bin")), qPrintable(outputShown()[0]));
    QVERIFY(!outputShown()[0].contains(QStringLiteral("f0.bin")));
}

void TestMediaWindow::verifyFailure()
{
    QString why;
    QVERIFY2(makeArchive(path(QStringLiteral("a.wim")), {tree(QStringLiteral("t"), 1, 1000)}, {QStringLiteral("一")}, &why),
             qPrintable(why));
    m_w = std::make_unique<WindowOnArchive>(path(QStringLiteral("a.wim")));
    m_w->faults.failOn(Fault::VerifyFile);
    run(res::ID_VERIFY_FILE);
    QCOMPARE(messages(), (QStringList{QStringLiteral("无法校验映像文件！"), kDone}));
    QVERIFY(m_w->prompts.messageDetails()[0].contains(QStringLiteral("WIMVerifyFile")));
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
    m_w->dlg->OnCommand(res::ID_DELETE_IMAGE);
    QCOMPARE(m_w->dlg->m_List->rowCount(), 1);
    const qint64 before = QFileInfo(wim).size();
    const QStringList rowsBefore = rows(*m_w->dlg);
    m_w->library.clear();
    run(res::ID_OPTIMIZE_FILE);

    QCOMPARE(messages(), QStringList{kDone});
    const qint64 after = QFileInfo(wim).size();
    QVERIFY2(after < before - 1000000, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
    QString output;
    QVERIFY2(testarchives::wimVerify(wim, &output), qPrintable(output));
    QCOMPARE(testarchives::wimInfo(wim).names, QStringList{QStringLiteral("一")});
    // The list was read again from the rebuilt archive.
    QVERIFY(!m_w->library.callsStartingWith(QStringLiteral("LoadImage 1")).isEmpty());
    QCOMPARE(rows(*m_w->dlg), rowsBefore);
    // The window goes on with the rebuilt archive.
    m_w->dlg->SelectAndFocusRow(0);
    m_w->dlg->OnCommand(res::ID_SET_BOOT_IMAGE);
    QCOMPARE(testarchives::wimInfo(wim).bootIndex, 1);
}

void TestMediaWindow::optimizeRefusedOrFailing_data()
{
    QTest::addColumn<QString>("archive");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("message");
    QTest::newRow("read only") << QStringLiteral("a.wim") << true << QStringLiteral("当前文件只能读取，不能优化！");
    QTest::newRow("split set") << QStringLiteral("a.swm") << false << QStringLiteral("分卷映像文件不能优化！");
    QTest::newRow("library fails") << QStringLiteral("a.wim") << false
                                   << QStringLiteral("映像文件优化失败，原文件保持不变！");
}

void TestMediaWindow::optimizeRefusedOrFailing()
{
    QFETCH(QString, archive);
    QFETCH(bool, readOnly);
    QFETCH(QString, message);
    QString why;
    QVERIFY2(makeArchive(path(QStringLiteral("a.wim")), {tree(QStringLiteral("t"), 6, 300000)}, {QStringLiteral("一")}, &why),
             qPrintable(why));
    if (archive.endsWith(QLatin1String(".swm")))
        QVERIFY2(wimlib({QStringLiteral("split"), path(QStringLiteral("a.wim")), path(archive), QStringLiteral("1")}, &why),
                 qPrintable(why));
    const QByteArray bytes = fileBytes(path(archive));
    m_w = std::make_unique<WindowOnArchive>(path(archive), readOnly);
    m_w->faults.failOn(Fault::OptimizeFile);
    run(res::ID_OPTIMIZE_FILE);

    const QStringList texts = messages();
    QVERIFY2(!texts.isEmpty() && texts[0] == message, qPrintable(texts.join(u'\n')));
    QCOMPARE(texts.size(), m_w->faults.failures(Fault::OptimizeFile) == 1 ? 2 : 1);
    QCOMPARE(fileBytes(path(archive)), bytes);
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
    const QString wim = path(QStringLiteral("a.wim"));
    QString why;
    QVERIFY2(makeArchive(wim, {tree(QStringLiteral("t"), 12, 300000)}, {QStringLiteral("一")}, &why), qPrintable(why));
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
