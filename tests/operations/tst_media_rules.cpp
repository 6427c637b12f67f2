// The rules behind ESD files and split sets in the window: the form of an
// export's new destination, the part size typed, the names of a set's parts,
// the refusals, and what a verify reports; then split, verify and optimize
// refused or failing on real archives, run on a recording host.
#include "fault_injecting_imaging.h"
#include "imaging/split_parts.h"
#include "operations/export_operation.h"
#include "operations/optimize_operation.h"
#include "operations/split_operation.h"
#include "operations/verify_operation.h"
#include "ops_fixture.h"
#include "support/file_filter.h"
#include "support/widget_prompts.h"
#include "test_archives.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestMediaRules : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exportTarget_data();
    void exportTarget();
    void partSize_data();
    void partSize();
    void firstMissingPart();
    void oversizedQuestion_data();
    void oversizedQuestion();
    void refusals_data();
    void refusals();
    void verifyReport_data();
    void verifyReport();
    void chosenTypeGivesTheExtension_data();
    void chosenTypeGivesTheExtension();
    void operationRefusedOrFailing_data();
    void operationRefusedOrFailing();

private:
    QTemporaryDir m_dir;  // a.wim (about 1.8 MB), a.esd and the set a.swm, a2.swm made of it by wimlib-imagex
};

void TestMediaRules::initTestCase()
{
    QVERIFY2(testarchives::haveTool(QStringLiteral("wimlib-imagex")),
             "wimlib-imagex (package wimtools, installed by scripts/install.sh) is needed to make test archives");
    QString why;
    QVERIFY2(opsfixture::makeMediaArchives(m_dir.path(), 6, {QStringLiteral("esd"), QStringLiteral("swm")}, &why),
             qPrintable(why));
}

void TestMediaRules::exportTarget_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("source");  // the open archive's compression
    QTest::addColumn<uint>("flags");
    QTest::addColumn<uint>("compression");
    QTest::newRow("wim from LZX") << QStringLiteral("/a/x.wim") << 2 << 0u << WIM_COMPRESS_LZX;
    QTest::newRow("wim from XPRESS keeps it") << QStringLiteral("/a/x.wim") << 1 << 0u << WIM_COMPRESS_XPRESS;
    QTest::newRow("wim from none keeps it") << QStringLiteral("/a/x.wim") << 0 << 0u << WIM_COMPRESS_NONE;
    QTest::newRow("wim from ESD") << QStringLiteral("/a/x.wim") << 3 << 0u << WIM_COMPRESS_LZX;
    QTest::newRow("esd from LZX") << QStringLiteral("/a/x.esd") << 2 << WIM_FLAG_SOLID << WIM_COMPRESS_LZMS;
    QTest::newRow("ESD in capitals") << QStringLiteral("/a/X.ESD") << 1 << WIM_FLAG_SOLID << WIM_COMPRESS_LZMS;
    QTest::newRow("esd folder, wim file") << QStringLiteral("/a.esd/x.wim") << 3 << 0u << WIM_COMPRESS_LZX;
    QTest::newRow("no extension") << QStringLiteral("/a/x") << 1 << 0u << WIM_COMPRESS_XPRESS;
    QTest::newRow("swm is a wim") << QStringLiteral("/a/x.swm") << 3 << 0u << WIM_COMPRESS_LZX;
}

void TestMediaRules::exportTarget()
{
    QFETCH(QString, destination);
    QFETCH(int, source);
    QFETCH(uint, flags);
    QFETCH(uint, compression);
    QCOMPARE(ExportTargetFor(destination, qint16(source)), (ExportTarget{flags, compression}));
}

void TestMediaRules::partSize_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint64>("megabytes");
    QTest::newRow("default") << QStringLiteral("4000") << true << quint64(4000);
    QTest::newRow("blanks and MB") << QStringLiteral(" 700 MB ") << true << quint64(700);
    QTest::newRow("smallest") << QStringLiteral("1") << true << quint64(1);
    QTest::newRow("largest") << QStringLiteral("1048576") << true << quint64(1048576);
    QTest::newRow("too large") << QStringLiteral("1048577") << false << quint64(0);
    QTest::newRow("overflowing") << QStringLiteral("99999999999999999999") << false << quint64(0);
    QTest::newRow("zero") << QStringLiteral("0") << false << quint64(0);
    QTest::newRow("negative") << QStringLiteral("-5") << false << quint64(0);
    QTest::newRow("fraction") << QStringLiteral("1.5") << false << quint64(0);
    QTest::newRow("GB") << QStringLiteral("4GB") << false << quint64(0);
    QTest::newRow("empty") << QString() << false << quint64(0);
    QTest::newRow("full-width digits") << QStringLiteral("４０００") << false << quint64(0);
}

void TestMediaRules::partSize()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(quint64, megabytes);
    uint64_t parsed = 0;
    QCOMPARE(ParsePartSizeMb(text, &parsed), valid);
    QCOMPARE(quint64(parsed), megabytes);
}

void TestMediaRules::firstMissingPart()
{
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("install.swm"));
    for (const QString &name :
         {QStringLiteral("install.swm"), QStringLiteral("install2.swm"), QStringLiteral("install4.swm")}) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QCOMPARE(splitparts::firstMissingPart(first), dir.filePath(QStringLiteral("install3.swm")));
}

void TestMediaRules::oversizedQuestion_data()
{
    QTest::addColumn<uint64_t>("partMb");
    QTest::addColumn<int>("files");
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<QStringList>("doesNotSay");
    const QStringList part3{QStringLiteral("第 3 个分卷：映像 2 中的 /sources/big.cab（5120.5 MB）"),
                            QStringLiteral("（20 MB）"), QStringLiteral("是否仍要继续拆分？")};
    QTest::newRow("a size of the user's")
        << uint64_t(20) << 1 << part3 << QStringList{QStringLiteral("FAT32"), QStringLiteral("另有")};
    QTest::newRow("the FAT32 default") << kDefaultPartSizeMb << 1 << QStringList{QStringLiteral("无法存放在 FAT32 上")}
                                       << QStringList();
    QTest::newRow("many files") << uint64_t(20) << 12 << QStringList{QStringLiteral("……另有 2 个文件")}
                                << QStringList{QStringLiteral("第 13 个分卷")};
}

void TestMediaRules::oversizedQuestion()
{
    QFETCH(uint64_t, partMb);
    QFETCH(int, files);
    QFETCH(QStringList, says);
    QFETCH(QStringList, doesNotSay);
    QList<ImagingOversizedFile> list;
    for (int i = 0; i < files; ++i)
        list.append({uint32_t(i + 3), (5120ull << 20) + (1 << 19), 2, QStringLiteral("/sources/big.cab")});
    const QString text = SplitOversizedQuestion(list, partMb << 20);
    for (const QString &part : says)
        QVERIFY2(text.contains(part), qPrintable(text));
    for (const QString &part : doesNotSay)
        QVERIFY2(!text.contains(part), qPrintable(text));
}

void TestMediaRules::refusals_data()
{
    QTest::addColumn<uint>("compression");
    QTest::addColumn<int>("parts");
    QTest::addColumn<int>("access");
    QTest::addColumn<QString>("split");  // start of the message; "" when allowed
    QTest::addColumn<QString>("optimize");
    const QString set = QStringLiteral("当前文件已经是分卷映像");
    const QString readOnly = QStringLiteral("当前文件只能读取");
    QTest::newRow("wim") << WIM_COMPRESS_LZX << 1 << 2 << QString() << QString();
    QTest::newRow("esd") << WIM_COMPRESS_LZMS << 1 << 2 << QStringLiteral("ESD") << QString();
    QTest::newRow("split set") << WIM_COMPRESS_LZX << 3 << 1 << set << QStringLiteral("分卷映像文件不能优化");
    QTest::newRow("split set of an esd") << WIM_COMPRESS_LZMS << 2 << 1 << set
                                         << QStringLiteral("分卷映像文件不能优化");
    QTest::newRow("read only") << WIM_COMPRESS_XPRESS << 1 << 1 << QString() << readOnly;
    QTest::newRow("no rights") << WIM_COMPRESS_NONE << 1 << 0 << QString() << readOnly;
}

void TestMediaRules::refusals()
{
    QFETCH(uint, compression);
    QFETCH(int, parts);
    QFETCH(int, access);
    QFETCH(QString, split);
    QFETCH(QString, optimize);
    WIM_INFO info{};
    info.CompressionType = compression;
    info.PartNumber = 1;
    info.TotalParts = uint16_t(parts);
    const QString splitRefusal = SplitRefusal(info);
    const QString optimizeRefusal = OptimizeRefusal(info, qint16(access));
    QCOMPARE(splitRefusal.isEmpty(), split.isEmpty());
    QVERIFY2(splitRefusal.startsWith(split), qPrintable(splitRefusal));
    QCOMPARE(optimizeRefusal.isEmpty(), optimize.isEmpty());
    QVERIFY2(optimizeRefusal.startsWith(optimize), qPrintable(optimizeRefusal));
}

void TestMediaRules::verifyReport_data()
{
    QTest::addColumn<bool>("whole");
    QTest::addColumn<QList<ImagingDamagedFile>>("damaged");
    QTest::addColumn<QStringList>("other");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("verdict");
    QTest::newRow("whole") << true << QList<ImagingDamagedFile>{} << QStringList{} << QStringList{}
                           << QStringLiteral("校验通过，映像文件完好无损。");
    QTest::newRow("files and a tree") << false
                                      << QList<ImagingDamagedFile>{{1, QStringLiteral("/Windows/notepad.exe")},
                                                                   {1, QStringLiteral("/硬链接.exe")},
                                                                   {3, QString()}}
                                      << QStringList{QStringLiteral("the integrity table does not match")}
                                      << QStringList{QStringLiteral("损坏: 映像 1 /Windows/notepad.exe"),
                                                     QStringLiteral("损坏: 映像 1 /硬链接.exe"),
                                                     QStringLiteral("损坏: 映像 3 的目录结构"),
                                                     QStringLiteral("问题: the integrity table does not match")}
                                      << QStringLiteral("映像文件已损坏：3 个文件的数据有误，详见随后的输出信息。");
    QTest::newRow("no file to name") << false << QList<ImagingDamagedFile>{}
                                     << QStringList{QStringLiteral("damaged data that no image's file holds")}
                                     << QStringList{QStringLiteral("问题: damaged data that no image's file holds")}
                                     << QStringLiteral("映像文件已损坏，详见随后的输出信息。");
}

void TestMediaRules::verifyReport()
{
    QFETCH(bool, whole);
    QFETCH(QList<ImagingDamagedFile>, damaged);
    QFETCH(QStringList, other);
    QFETCH(QStringList, lines);
    QFETCH(QString, verdict);
    ImagingVerifyResult result;
    result.whole = whole;
    result.damaged = damaged;
    result.otherDamage = other;
    QCOMPARE(VerifyReportLines(result), lines);
    QCOMPARE(VerifyVerdict(result), verdict);
}

void TestMediaRules::chosenTypeGivesTheExtension_data()
{
    QTest::addColumn<int>("type");  // the type chosen in the chooser
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("wim, no extension typed") << 0 << QStringLiteral("x") << QStringLiteral("x.wim");
    QTest::newRow("esd, no extension typed") << 1 << QStringLiteral("x") << QStringLiteral("x.esd");
    QTest::newRow("esd type, wim typed") << 1 << QStringLiteral("x.wim") << QStringLiteral("x.wim");
    QTest::newRow("esd, then wim") << 2 << QStringLiteral("x") << QStringLiteral("x.wim");
}

void TestMediaRules::chosenTypeGivesTheExtension()
{
    QFETCH(int, type);
    QFETCH(QString, typed);
    QFETCH(QString, chosen);
    QCOMPARE(suffixOfNameFilter(QStringLiteral("ESD镜像(*.esd)")), QStringLiteral("esd"));
    QCOMPARE(suffixOfNameFilter(QStringLiteral("映像文件(*.wim *.esd *.swm)")), QString());

    // The real chooser: the user picks a type, types a name and saves.
    QTemporaryDir dir;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(types && name);
        dialog->setDirectory(dir.path());
        for (int step : type == 2 ? QList<int>{1, 0} : QList<int>{type}) {
            types->setCurrentIndex(step);
            emit types->textActivated(types->itemText(step));
        }
        name->setText(typed);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    FileChooser chooser;
    chooser.filter = QStringLiteral("Wim镜像(*.wim)|*.wim|ESD镜像(*.esd)|*.esd||");
    chooser.defaultExtension = QStringLiteral("wim");
    WidgetPrompts prompts;
    QCOMPARE(prompts.saveFile(nullptr, chooser), dir.filePath(chosen));
}

void TestMediaRules::operationRefusedOrFailing_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("access");
    QTest::addColumn<QString>("kind");     // the open archive's extension
    QTest::addColumn<QString>("message");  // its start
    QTest::newRow("split ESD") << "split" << 2 << "esd" << QStringLiteral("ESD（LZMS 压缩）映像文件不能拆分");
    QTest::newRow("split a set") << "split" << 1 << "swm" << QStringLiteral("当前文件已经是分卷映像");
    QTest::newRow("split fails") << "split" << 2 << "wim" << QStringLiteral("映像文件拆分失败！");
    QTest::newRow("verify fails") << "verify" << 2 << "wim" << QStringLiteral("无法校验映像文件！");
    QTest::newRow("optimize read only") << "optimize" << 1 << "wim" << QStringLiteral("当前文件只能读取，不能优化！");
    QTest::newRow("optimize a set") << "optimize" << 1 << "swm" << QStringLiteral("分卷映像文件不能优化！");
    QTest::newRow("optimize fails") << "optimize" << 2 << "wim" << QStringLiteral("映像文件优化失败，原文件保持不变！");
}

// A refusal comes before anything is asked; a failure of the library is
// shown with its cause, and the operation still ends as operations end.
// Either way every file is as it was and nothing is added beside them.
void TestMediaRules::operationRefusedOrFailing()
{
    using Fault = FaultInjectingImaging::Call;
    QFETCH(QString, operation);
    QFETCH(int, access);
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString opened = m_dir.filePath(u"a."_qs + kind);
    const QMap<QString, QByteArray> before = testarchives::readTree(m_dir.path());

    opsfixture::HostOnArchive h(opened, 0, access == 2 ? WIM_GENERIC_READ_WRITE : WIM_GENERIC_READ);
    QVERIFY(h.wim);
    for (Fault call : {Fault::SplitFile, Fault::VerifyFile, Fault::OptimizeFile})
        h.faults.failOn(call);
    h.prompts.answerSaveFile(m_dir.filePath(u"out.swm"_qs));
    h.prompts.answerInput(u"1"_qs);
    if (operation == u"split")
        h.run(std::make_unique<SplitOperation>(h.wim, opened));
    else if (operation == u"verify")
        h.run(std::make_unique<VerifyOperation>(h.wim));
    else
        h.run(std::make_unique<OptimizeOperation>(h.wim, qint16(access)));

    const QStringList texts = h.prompts.messageTexts();
    QVERIFY2(texts.size() == 1 && texts[0].startsWith(message), qPrintable(texts.join(u'\n')));
    if (message.contains(u"失败"_qs) || message.startsWith(u"无法"_qs)) {
        QVERIFY(h.prompts.messageDetails()[0].contains(u"injected failure"_qs));
        QCOMPARE(h.host.calls().mid(h.host.calls().size() - 2), (QStringList{u"ReportFinished"_qs, u"ShowLog"_qs}));
    } else {
        QCOMPARE(h.prompts.calls().size(), 1);
        QVERIFY(!h.host.calls().contains(u"BeginBusy"_qs));
    }
    QCOMPARE(h.finish(), QString());
    const QMap<QString, QByteArray> after = testarchives::readTree(m_dir.path());
    QCOMPARE(after.keys(), before.keys());
    QVERIFY(after == before);
}

QTEST_MAIN(TestMediaRules)
#include "tst_media_rules.moc"
