// Reading the edition of a Windows installation from its SOFTWARE hive:
// hives made here, names in any case, malformed values, damaged files, and a
// bounded fuzz run over mutated hives.
#include "capture_settings/edition_detection.h"
#include "hive_builder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include <sys/stat.h>

using testhive::dword;
using testhive::sz;
using Values = QList<testhive::Value>;

Q_DECLARE_METATYPE(testhive::Value)

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool isDigits(const QString &s)
{
    for (QChar c : s) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

}  // namespace

class TestEditionDetection : public QObject
{
    Q_OBJECT

private slots:
    void emptyHiveOpens();
    void readValues_data();
    void readValues();
    void otherKeyPathsReadNothing_data();
    void otherKeyPathsReadNothing();
    void correctedProductName_data();
    void correctedProductName();
    void detectFromFolderTree_data();
    void detectFromFolderTree();
    void detectWithoutInstallation();
    void damagedFilesReadNothing_data();
    void damagedFilesReadNothing();
    void fuzzMutatedHives();
};

void TestEditionDetection::emptyHiveOpens()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("SOFTWARE"));
    QVERIFY(writeFile(path, testhive::emptyHive()));
    QCOMPARE(QFileInfo(path).size(), 8192);
    // A valid hive without the key reads nothing, as opposed to failing to open.
    const EditionValues v = ReadEditionValues(path);
    QVERIFY(!v.productNameRead);
    QVERIFY(!v.editionIdRead);
    QString error;
    QVERIFY2(testhive::writeHive(path, testhive::currentVersionKey(),
                                 {sz(QStringLiteral("ProductName"), QStringLiteral("X"))}, &error),
             qPrintable(error));
    QVERIFY(ReadEditionValues(path).productNameRead);
}

void TestEditionDetection::readValues_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<bool>("productRead");
    QTest::addColumn<QString>("product");
    QTest::addColumn<bool>("editionRead");
    QTest::addColumn<QString>("edition");
    QTest::addColumn<QString>("build");

    const QString pro = QStringLiteral("Windows 10 Pro");
    const QString professional = QStringLiteral("Professional");
    QTest::newRow("all three") << Values{sz(QStringLiteral("ProductName"), pro),
                                         sz(QStringLiteral("EditionID"), professional),
                                         sz(QStringLiteral("CurrentBuildNumber"), QStringLiteral("19045"))}
                               << true << pro << true << professional << QStringLiteral("19045");
    QTest::newRow("names in other letter case")
        << Values{sz(QStringLiteral("PRODUCTNAME"), pro), sz(QStringLiteral("editionid"), professional),
                  sz(QStringLiteral("currentbuildnumber"), QStringLiteral("22631"))}
        << true << pro << true << professional << QStringLiteral("22631");
    QTest::newRow("product name only") << Values{sz(QStringLiteral("ProductName"), pro)} << true << pro << false
                                       << QString() << QString();
    QTest::newRow("edition only") << Values{sz(QStringLiteral("EditionID"), professional)} << false << QString() << true
                                  << professional << QString();
    QTest::newRow("product name as a number is not read")
        << Values{dword(QStringLiteral("ProductName"), 10), sz(QStringLiteral("EditionID"), professional)} << false
        << QString() << true << professional << QString();
    QTest::newRow("expandable string is a string") << Values{{QStringLiteral("ProductName"), 2, sz({}, pro).data}}
                                                   << true << pro << false << QString() << QString();
    QTest::newRow("empty product name is read")
        << Values{sz(QStringLiteral("ProductName"), QString())} << true << QString() << false << QString() << QString();
    QTest::newRow("Chinese text") << Values{sz(QStringLiteral("ProductName"), QStringLiteral("视窗 专业版")),
                                            sz(QStringLiteral("EditionID"), QStringLiteral("专业"))}
                                  << true << QStringLiteral("视窗 专业版") << true << QStringLiteral("专业")
                                  << QString();
    QTest::newRow("259 characters fit") << Values{sz(QStringLiteral("ProductName"), QString(259, QLatin1Char('p')))}
                                        << true << QString(259, QLatin1Char('p')) << false << QString() << QString();
    QTest::newRow("260 characters do not") << Values{sz(QStringLiteral("ProductName"), QString(260, QLatin1Char('p'))),
                                                     sz(QStringLiteral("EditionID"), professional)}
                                           << false << QString() << true << professional << QString();
    QTest::newRow("text ends at its first NUL")
        << Values{sz(QStringLiteral("ProductName"),
                     QStringLiteral("Windows 10 Home") + QChar(0) + QStringLiteral("junk"))}
        << true << QStringLiteral("Windows 10 Home") << false << QString() << QString();
    QTest::newRow("build from CurrentBuild when the number is missing")
        << Values{sz(QStringLiteral("CurrentBuild"), QStringLiteral("22000"))} << false << QString() << false
        << QString() << QStringLiteral("22000");
    QTest::newRow("malformed build number falls back")
        << Values{sz(QStringLiteral("CurrentBuildNumber"), QStringLiteral("22631a")),
                  sz(QStringLiteral("CurrentBuild"), QStringLiteral("19041"))}
        << false << QString() << false << QString() << QStringLiteral("19041");
    QTest::newRow("build numbers that are no numbers")
        << Values{sz(QStringLiteral("CurrentBuildNumber"), QStringLiteral("-22631")),
                  sz(QStringLiteral("CurrentBuild"), QStringLiteral("1234567890"))}
        << false << QString() << false << QString() << QString();
    QTest::newRow("build number as a DWORD is ignored") << Values{dword(QStringLiteral("CurrentBuildNumber"), 22631)}
                                                        << false << QString() << false << QString() << QString();
}

void TestEditionDetection::readValues()
{
    QFETCH(Values, values);
    QFETCH(bool, productRead);
    QFETCH(QString, product);
    QFETCH(bool, editionRead);
    QFETCH(QString, edition);
    QFETCH(QString, build);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("SOFTWARE"));
    QString error;
    QVERIFY2(testhive::writeHive(path, testhive::currentVersionKey(), values, &error), qPrintable(error));
    const EditionValues v = ReadEditionValues(path);
    QCOMPARE(v.productNameRead, productRead);
    QCOMPARE(v.productName, product);
    QCOMPARE(v.editionIdRead, editionRead);
    QCOMPARE(v.editionId, edition);
    QCOMPARE(v.buildNumber, build);
}

void TestEditionDetection::otherKeyPathsReadNothing_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<bool>("read");
    QTest::newRow("the right key, other case")
        << QStringList{QStringLiteral("MICROSOFT"), QStringLiteral("windows nt"), QStringLiteral("currentVERSION")}
        << true;
    QTest::newRow("one level short") << QStringList{QStringLiteral("Microsoft"), QStringLiteral("Windows NT")} << false;
    QTest::newRow("one level deeper") << QStringList{QStringLiteral("Microsoft"), QStringLiteral("Windows NT"),
                                                     QStringLiteral("CurrentVersion"), QStringLiteral("Extra")}
                                      << false;
    QTest::newRow("a sibling") << QStringList{QStringLiteral("Microsoft"), QStringLiteral("Windows"),
                                              QStringLiteral("CurrentVersion")}
                               << false;
}

void TestEditionDetection::otherKeyPathsReadNothing()
{
    QFETCH(QStringList, keys);
    QFETCH(bool, read);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("SOFTWARE"));
    QVERIFY(testhive::writeHive(path, keys,
                                {sz(QStringLiteral("ProductName"), QStringLiteral("Windows 10 Pro")),
                                 sz(QStringLiteral("EditionID"), QStringLiteral("Professional"))}));
    const EditionValues v = ReadEditionValues(path);
    QCOMPARE(v.productNameRead, read);
    QCOMPARE(v.editionIdRead, read);
}

void TestEditionDetection::correctedProductName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("build");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Windows 11 build") << QStringLiteral("Windows 10 Pro") << QStringLiteral("22631")
                                      << QStringLiteral("Windows 11 Pro");
    QTest::newRow("first Windows 11 build") << QStringLiteral("Windows 10 Enterprise") << QStringLiteral("22000")
                                            << QStringLiteral("Windows 11 Enterprise");
    QTest::newRow("last Windows 10 build")
        << QStringLiteral("Windows 10 Pro") << QStringLiteral("21999") << QStringLiteral("Windows 10 Pro");
    QTest::newRow("Windows 10 build") << QStringLiteral("Windows 10 Home") << QStringLiteral("19045")
                                      << QStringLiteral("Windows 10 Home");
    QTest::newRow("no build") << QStringLiteral("Windows 10 Pro") << QStringLiteral("")
                              << QStringLiteral("Windows 10 Pro");
    QTest::newRow("malformed build") << QStringLiteral("Windows 10 Pro") << QStringLiteral("22x31")
                                     << QStringLiteral("Windows 10 Pro");
    QTest::newRow("just the name") << QStringLiteral("Windows 10") << QStringLiteral("26100")
                                   << QStringLiteral("Windows 11");
    QTest::newRow("already 11") << QStringLiteral("Windows 11 Pro") << QStringLiteral("26100")
                                << QStringLiteral("Windows 11 Pro");
    QTest::newRow("server keeps its name") << QStringLiteral("Windows Server 2022 Standard") << QStringLiteral("20348")
                                           << QStringLiteral("Windows Server 2022 Standard");
    QTest::newRow("server on a new build")
        << QStringLiteral("Windows Server 2025 Datacenter") << QStringLiteral("26100")
        << QStringLiteral("Windows Server 2025 Datacenter");
    QTest::newRow("not at the start") << QStringLiteral("Microsoft Windows 10 Pro") << QStringLiteral("22631")
                                      << QStringLiteral("Microsoft Windows 10 Pro");
    QTest::newRow("longer number") << QStringLiteral("Windows 100") << QStringLiteral("22631")
                                   << QStringLiteral("Windows 100");
    QTest::newRow("case matters") << QStringLiteral("windows 10 pro") << QStringLiteral("22631")
                                  << QStringLiteral("windows 10 pro");
}

void TestEditionDetection::correctedProductName()
{
    QFETCH(QString, name);
    QFETCH(QString, build);
    QFETCH(QString, expected);
    QCOMPARE(CorrectedProductName(name, build), expected);
}

void TestEditionDetection::detectFromFolderTree_data()
{
    QTest::addColumn<QString>("hiveRelative");
    QTest::addColumn<QString>("build");
    QTest::addColumn<QString>("expectedProduct");
    QTest::newRow("Windows 10") << QStringLiteral("Windows/System32/config/SOFTWARE") << QStringLiteral("19045")
                                << QStringLiteral("Windows 10 Pro");
    QTest::newRow("Windows 11") << QStringLiteral("Windows/System32/config/SOFTWARE") << QStringLiteral("22631")
                                << QStringLiteral("Windows 11 Pro");
    QTest::newRow("names in other case") << QStringLiteral("windows/SYSTEM32/Config/software")
                                         << QStringLiteral("22000") << QStringLiteral("Windows 11 Pro");
}

void TestEditionDetection::detectFromFolderTree()
{
    QFETCH(QString, hiveRelative);
    QFETCH(QString, build);
    QFETCH(QString, expectedProduct);
    QTemporaryDir dir;
    const QString hive = dir.filePath(hiveRelative);
    QVERIFY(QDir().mkpath(QFileInfo(hive).path()));
    QVERIFY(testhive::writeHive(hive, testhive::currentVersionKey(),
                                {sz(QStringLiteral("ProductName"), QStringLiteral("Windows 10 Pro")),
                                 sz(QStringLiteral("EditionID"), QStringLiteral("Professional")),
                                 sz(QStringLiteral("CurrentBuildNumber"), build)}));
    const EditionValues v = DetectEdition(dir.path());
    QVERIFY(v.productNameRead);
    QCOMPARE(v.productName, expectedProduct);
    QVERIFY(v.editionIdRead);
    QCOMPARE(v.editionId, QStringLiteral("Professional"));
    QCOMPARE(v.buildNumber, build);
}

void TestEditionDetection::detectWithoutInstallation()
{
    QTemporaryDir dir;
    QVERIFY(!DetectEdition(dir.path()).productNameRead);
    QVERIFY(!DetectEdition(QString()).productNameRead);
    QVERIFY(!DetectEdition(dir.filePath(QStringLiteral("missing"))).productNameRead);

    // A Windows folder without a hive, and a hive path that is a folder or a FIFO.
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("a/Windows/System32/config"))));
    QVERIFY(!DetectEdition(dir.filePath(QStringLiteral("a"))).productNameRead);
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("b/Windows/System32/config/SOFTWARE"))));
    QVERIFY(!DetectEdition(dir.filePath(QStringLiteral("b"))).productNameRead);
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("c/Windows/System32/config"))));
    const QString fifo = dir.filePath(QStringLiteral("c/Windows/System32/config/SOFTWARE"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(!ReadEditionValues(fifo).productNameRead);  // and no hang
}

void TestEditionDetection::damagedFilesReadNothing_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("empty file") << QStringLiteral("empty");
    QTest::newRow("truncated to the base block") << QStringLiteral("base");
    QTest::newRow("truncated inside the base block") << QStringLiteral("half");
    QTest::newRow("truncated by one byte") << QStringLiteral("minus1");
    QTest::newRow("random bytes") << QStringLiteral("random");
    QTest::newRow("zeros") << QStringLiteral("zeros");
    QTest::newRow("wrong checksum") << QStringLiteral("checksum");
    QTest::newRow("text file") << QStringLiteral("text");
}

void TestEditionDetection::damagedFilesReadNothing()
{
    QFETCH(QString, damage);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("SOFTWARE"));
    QVERIFY(testhive::writeHive(path, testhive::currentVersionKey(),
                                {sz(QStringLiteral("ProductName"), QStringLiteral("Windows 10 Pro")),
                                 sz(QStringLiteral("EditionID"), QStringLiteral("Professional"))}));
    QByteArray bytes = readFile(path);
    QVERIFY(ReadEditionValues(path).productNameRead);  // the undamaged hive reads

    if (damage == QLatin1String("empty"))
        bytes.clear();
    else if (damage == QLatin1String("base"))
        bytes.truncate(4096);
    else if (damage == QLatin1String("half"))
        bytes.truncate(2048);
    else if (damage == QLatin1String("minus1"))
        bytes.chop(1);
    else if (damage == QLatin1String("random")) {
        QRandomGenerator rng(42);
        for (char &c : bytes)
            c = char(rng.generate() & 0xFF);
    } else if (damage == QLatin1String("zeros"))
        bytes.fill('\0');
    else if (damage == QLatin1String("checksum"))
        bytes[0x1FC] = char(bytes[0x1FC] ^ 0x01);
    else if (damage == QLatin1String("text"))
        bytes = QByteArray("regf is not enough\n").repeated(600);
    QVERIFY(writeFile(path, bytes));

    const EditionValues v = ReadEditionValues(path);
    QVERIFY(!v.productNameRead);
    QVERIFY(!v.editionIdRead);
    QVERIFY(v.buildNumber.isEmpty());
}

void TestEditionDetection::fuzzMutatedHives()
{
    QTemporaryDir dir;
    const QString original = dir.filePath(QStringLiteral("original"));
    QVERIFY(testhive::writeHive(original, testhive::currentVersionKey(),
                                {sz(QStringLiteral("ProductName"), QStringLiteral("Windows 10 Pro")),
                                 sz(QStringLiteral("EditionID"), QStringLiteral("Professional")),
                                 sz(QStringLiteral("CurrentBuildNumber"), QStringLiteral("22631"))}));
    const QByteArray base = readFile(original);
    QVERIFY(base.size() >= 8192);
    QCOMPARE(ReadEditionValues(original).productName, QStringLiteral("Windows 10 Pro"));

    const QString path = dir.filePath(QStringLiteral("SOFTWARE"));
    QRandomGenerator rng(20240611);
    constexpr int kIterations = 3000;
    int stillRead = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kIterations; ++i) {
        QByteArray bytes = base;
        switch (i % 4) {
        case 0: {  // bit flips past the base block, whose checksum would refuse most of them
            const int flips = 1 + int(rng.bounded(8));
            for (int f = 0; f < flips; ++f) {
                const int at = 4096 + int(rng.bounded(bytes.size() - 4096));
                bytes[at] = char(bytes[at] ^ (1 << rng.bounded(8)));
            }
            break;
        }
        case 1:  // truncation
            bytes.truncate(int(rng.bounded(bytes.size())));
            break;
        case 2: {  // a run of random bytes
            const int at = 4096 + int(rng.bounded(bytes.size() - 4096));
            const int len = 1 + int(rng.bounded(64));
            for (int k = at; k < qMin(bytes.size(), at + len); ++k)
                bytes[k] = char(rng.generate() & 0xFF);
            break;
        }
        case 3: {  // size fields and offsets: a random 32-bit word on a 4-byte boundary
            const int at = 4096 + 4 * int(rng.bounded((bytes.size() - 4096) / 4));
            const quint32 word = rng.generate();
            std::memcpy(bytes.data() + at, &word, 4);
            break;
        }
        }
        // A new file each time: rewriting one in place makes the filesystem
        // flush it on every close.
        QFile::remove(path);
        QVERIFY(writeFile(path, bytes));
        const EditionValues v = ReadEditionValues(path);
        // Whatever is read has passed the checks.
        QVERIFY(v.productName.size() <= 259);
        QVERIFY(v.editionId.size() <= 259);
        QVERIFY(v.buildNumber.size() <= 9);
        QVERIFY(isDigits(v.buildNumber));
        if (!v.productNameRead)
            QVERIFY(v.productName.isEmpty());
        if (v.productNameRead)
            ++stillRead;
    }
    // The mutations left some hives readable and damaged others: both paths ran.
    QVERIFY(stillRead > 0);
    QVERIFY(stillRead < kIterations);
    qInfo("%d of %d mutated hives still read, %lld ms", stillRead, kIterations, qint64(timer.elapsed()));
}

QTEST_GUILESS_MAIN(TestEditionDetection)
#include "tst_edition_detection.moc"
