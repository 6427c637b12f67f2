// The rules behind ESD files and split sets in the window: the form of an
// export's new destination, the part size typed, the names of a set's parts,
// the refusals, and what a verify reports.
#include "imaging/split_parts.h"
#include "operations/export_operation.h"
#include "operations/optimize_operation.h"
#include "operations/split_operation.h"
#include "operations/verify_operation.h"
#include "support/file_filter.h"
#include "support/widget_prompts.h"

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
};

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

QTEST_MAIN(TestMediaRules)
#include "tst_media_rules.moc"
