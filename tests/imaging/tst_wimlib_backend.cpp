// The wimlib backend on real archives made in temporary folders, checked
// against wimlib-imagex, which our code did not write.
#include "imaging/wimlib_backend.h"
#include "imaging/wimlib_xml.h"
#include "imaging_test_support.h"
#include "message_recorder.h"
#include "test_archives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(ImagingError::Kind)

using namespace imagingtest;
using testarchives::readTree;
using testarchives::runTool;
using testarchives::wimInfo;
using testarchives::wimVerify;

namespace {

const QString kImagex = QStringLiteral("wimlib-imagex");

ino_t inodeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// Registers a recorder with a backend for one scope.
class Recording
{
public:
    explicit Recording(ImagingLibrary &lib) : m_lib(lib)
    {
        m_ok = lib.WIMRegisterMessageCallback(nullptr, MessageRecorder::callback, &recorder) != INVALID_CALLBACK_VALUE;
    }
    ~Recording() { m_lib.WIMUnregisterMessageCallback(nullptr, MessageRecorder::callback); }
    bool ok() const { return m_ok; }
    MessageRecorder recorder;

private:
    ImagingLibrary &m_lib;
    bool m_ok = false;
};

QString elementOf(ImagingLibrary &lib, HWIM wim, uint32_t index)
{
    WimHandle image(lib, lib.WIMLoadImage(wim, index));
    QString xml;
    if (!image || !lib.WIMGetImageInformation(image.get(), &xml, nullptr))
        return QString();
    return xml;
}

QString texts(const QString &name, const QString &description = QString())
{
    return QStringLiteral("<IMAGE INDEX=\"1\"><NAME>%1</NAME><DESCRIPTION>%2</DESCRIPTION></IMAGE>")
        .arg(name.toHtmlEscaped(), description.toHtmlEscaped());
}

bool setTexts(ImagingLibrary &lib, HWIM wim, uint32_t index, const QString &xml)
{
    WimHandle image(lib, lib.WIMLoadImage(wim, index));
    return image && lib.WIMSetImageInformation(image.get(), xml, uint32_t(xml.size() * 2));
}

// An archive of `images` images of a small tree, named "one", "two", ...
bool makeArchive(ImagingLibrary &lib, const QString &wimPath, const QString &source, int images)
{
    static const char *const names[] = {"one", "two", "three", "four"};
    WimHandle wim(lib, createWim(lib, wimPath));
    if (!wim)
        return false;
    for (int i = 0; i < images; ++i) {
        WimHandle image(lib, lib.WIMCaptureImage(wim.get(), source, 0));
        if (!image)
            return false;
        const QString xml = texts(QLatin1String(names[i]));
        if (!lib.WIMSetImageInformation(image.get(), xml, uint32_t(xml.size() * 2)))
            return false;
    }
    return true;
}

}  // namespace

class TestWimlibBackend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void createAlwaysWritesAnEmptyArchiveAtOnce();
    void openAlwaysCreatesOnlyWithTheFirstChange();
    void unusableFilesGiveNullHandles_data();
    void unusableFilesGiveNullHandles();
    void readOnlyFileRefusesEveryChange();
    void opensAnArchiveMadeByWimlibImagex();
    void imageInformationIsCurrentAfterEveryChange();
    void setImageInformation_data();
    void setImageInformation();
    void deleteAndBootIndexSurviveReopening();
    void exportAddsTheImageAgainWithAFreeName();
    void exportKeepsTheSourceAliveAfterItsHandlesClose();
    void keepFlagExcludesPaths();
    void abortLeavesTheArchiveAsItWas_data();
    void abortLeavesTheArchiveAsItWas();
    void abortStopsApplyAndExport();
    void filesThatCannotBeCapturedAreReportedAndLeftOut();
    void ownArchiveIsNeverCaptured();
    void progressNeverGoesBackAndEndsAt100_data();
    void progressNeverGoesBackAndEndsAt100();
    void callbacksRunOnTheCallingThread();
    void callbacksMayReadButNotChangeTheBusyArchive();
    void anotherHandlesChangesAreNotLost();
    void handlesCloseInAnyOrder();
    void callbackRegistration();
    void temporaryPath_data();
    void temporaryPath();
    void outOfRangeIndicesAreRefused();

private:
    QTemporaryDir m_dir;
    QString m_sample;
};

void TestWimlibBackend::initTestCase()
{
    if (!testarchives::haveTool(kImagex))
        QSKIP("wimlib-imagex (package wimtools) is needed to check what the backend writes");
    QVERIFY(m_dir.isValid());
    m_sample = m_dir.filePath(QStringLiteral("sample"));
    QVERIFY(makeSampleTree(m_sample));
}

void TestWimlibBackend::roundTrip_data()
{
    QTest::addColumn<uint32_t>("compression");
    QTest::addColumn<QString>("imagexName");
    QTest::newRow("none") << WIM_COMPRESS_NONE << QStringLiteral("None");
    QTest::newRow("xpress") << WIM_COMPRESS_XPRESS << QStringLiteral("XPRESS");
    QTest::newRow("lzx") << WIM_COMPRESS_LZX << QStringLiteral("LZX");
    QTest::newRow("lzms") << WIM_COMPRESS_LZMS << QStringLiteral("LZMS");
}

void TestWimlibBackend::roundTrip()
{
    QFETCH(uint32_t, compression);
    QFETCH(QString, imagexName);
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("round.wim"));
    {
        WimHandle wim(lib, createWim(lib, wimPath, compression));
        QVERIFY2(wim, qPrintable(lib.LastErrorText()));
        WimHandle image(lib, lib.WIMCaptureImage(wim.get(), m_sample, 0));
        QVERIFY2(image, qPrintable(lib.LastErrorText()));
        WIM_INFO info{};
        QVERIFY(lib.WIMGetAttributes(wim.get(), &info, sizeof info));
        QCOMPARE(info.ImageCount, 1u);
        QCOMPARE(info.CompressionType, compression);
        QCOMPARE(QString::fromUtf16(info.WimPath), QFileInfo(wimPath).absoluteFilePath());
    }
    QString output;
    QVERIFY2(wimVerify(wimPath, &output), qPrintable(output));
    const auto peer = wimInfo(wimPath);
    QVERIFY2(peer.ok, qPrintable(peer.raw));
    QCOMPARE(peer.imageCount, 1);
    QCOMPARE(peer.compression, imagexName);

    const QString target = dir.filePath(QStringLiteral("applied"));
    QVERIFY(QDir().mkpath(target));
    {
        WimHandle wim(lib, openWim(lib, wimPath, WIM_GENERIC_READ));
        QVERIFY2(wim, qPrintable(lib.LastErrorText()));
        WimHandle image(lib, lib.WIMLoadImage(wim.get(), 1));
        QVERIFY(image);
        QVERIFY2(lib.WIMApplyImage(image.get(), target, WIM_FLAG_VERIFY | WIM_FLAG_INDEX),
                 qPrintable(lib.LastErrorText()));
    }
    const auto original = treeOf(m_sample);
    QVERIFY(original.contains(QStringLiteral("中文目录/文件名.txt")));
    QCOMPARE(original.value(QStringLiteral("a/readme symlink")), QByteArray("-> ../readme.txt"));
    QCOMPARE(treeOf(target), original);
    QCOMPARE(inodeOf(target + QStringLiteral("/readme.txt")),
             inodeOf(target + QStringLiteral("/a/readme hard link.txt")));
    QVERIFY(QFileInfo(target + QStringLiteral("/a/readme symlink")).isSymLink());
}

void TestWimlibBackend::createAlwaysWritesAnEmptyArchiveAtOnce()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("new.wim"));
    QFile garbage(wimPath);
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write("not an archive at all");
    garbage.close();

    uint32_t result = 99;
    WimHandle wim(
        lib, lib.WIMCreateFile(wimPath, WIM_GENERIC_READ_WRITE, WIM_CREATE_ALWAYS, 0, WIM_COMPRESS_XPRESS, &result));
    QVERIFY2(wim, qPrintable(lib.LastErrorText()));
    QCOMPARE(result, WIM_CREATED_NEW);
    // Valid on disk while the handle is still open.
    const auto peer = wimInfo(wimPath);
    QVERIFY2(peer.ok, qPrintable(peer.raw));
    QCOMPARE(peer.imageCount, 0);
    QCOMPARE(peer.compression, QStringLiteral("XPRESS"));
    QCOMPARE(imageCount(lib, wim.get()), 0u);
    // No temporary file is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("new.wim")});

    QVERIFY(!lib.WIMCreateFile(dir.filePath(QStringLiteral("no/such/folder.wim")), WIM_GENERIC_READ_WRITE,
                               WIM_CREATE_ALWAYS, 0, WIM_COMPRESS_LZX, nullptr));
    QVERIFY(!lib.WIMCreateFile(dir.filePath(QStringLiteral("bad.wim")), WIM_GENERIC_READ_WRITE, WIM_CREATE_ALWAYS, 0, 7,
                               nullptr));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("bad.wim"))));
}

void TestWimlibBackend::openAlwaysCreatesOnlyWithTheFirstChange()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("target.wim"));
    uint32_t result = 99;
    {
        WimHandle wim(
            lib, lib.WIMCreateFile(wimPath, WIM_GENERIC_READ_WRITE, WIM_OPEN_ALWAYS, 0, WIM_COMPRESS_LZMS, &result));
        QVERIFY2(wim, qPrintable(lib.LastErrorText()));
        QCOMPARE(result, WIM_CREATED_NEW);
        WIM_INFO info{};
        QVERIFY(lib.WIMGetAttributes(wim.get(), &info, sizeof info));
        QCOMPARE(info.CompressionType, WIM_COMPRESS_LZMS);
        QCOMPARE(info.ImageCount, 0u);
    }
    QVERIFY2(!QFile::exists(wimPath), "nothing to write, nothing written");

    {
        WimHandle wim(
            lib, lib.WIMCreateFile(wimPath, WIM_GENERIC_READ_WRITE, WIM_OPEN_ALWAYS, 0, WIM_COMPRESS_LZMS, &result));
        QVERIFY(wim);
        WimHandle image(lib, lib.WIMCaptureImage(wim.get(), m_sample, 0));
        QVERIFY2(image, qPrintable(lib.LastErrorText()));
        QVERIFY(QFile::exists(wimPath));
    }
    {
        WimHandle wim(
            lib, lib.WIMCreateFile(wimPath, WIM_GENERIC_READ_WRITE, WIM_OPEN_ALWAYS, 0, WIM_COMPRESS_NONE, &result));
        QVERIFY(wim);
        QCOMPARE(result, WIM_OPENED_EXISTING);
        WIM_INFO info{};
        QVERIFY(lib.WIMGetAttributes(wim.get(), &info, sizeof info));
        QCOMPARE(info.ImageCount, 1u);
        QCOMPARE(info.CompressionType, WIM_COMPRESS_LZMS);
    }
    QVERIFY(wimVerify(wimPath));
}

void TestWimlibBackend::unusableFilesGiveNullHandles_data()
{
    using Kind = ImagingError::Kind;
    QTest::addColumn<QString>("kind");
    QTest::addColumn<Kind>("failure");
    QTest::addColumn<int>("systemError");
    QTest::newRow("missing") << QStringLiteral("missing") << Kind::NotFound << ENOENT;
    QTest::newRow("empty file") << QStringLiteral("empty") << Kind::NotAnArchive << 0;
    QTest::newRow("garbage") << QStringLiteral("garbage") << Kind::NotAnArchive << 0;
    QTest::newRow("short text") << QStringLiteral("text") << Kind::NotAnArchive << 0;
    QTest::newRow("truncated archive") << QStringLiteral("truncated") << Kind::DamagedHeader << 0;
    QTest::newRow("header only") << QStringLiteral("header") << Kind::DamagedHeader << 0;
    QTest::newRow("folder") << QStringLiteral("folder") << Kind::Other << EISDIR;
    QTest::newRow("named pipe (must not block)") << QStringLiteral("fifo") << Kind::NotAnArchive << 0;
}

void TestWimlibBackend::unusableFilesGiveNullHandles()
{
    QFETCH(QString, kind);
    QFETCH(ImagingError::Kind, failure);
    QFETCH(int, systemError);
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.wim"));
    if (kind == QLatin1String("truncated") || kind == QLatin1String("header")) {
        const QString good = dir.filePath(QStringLiteral("good.wim"));
        QVERIFY(makeArchive(lib, good, m_sample, 1));
        const QByteArray bytes = fileBytes(good);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes.left(kind == QLatin1String("header") ? 208 : bytes.size() / 2));
    } else if (kind == QLatin1String("empty") || kind == QLatin1String("garbage") || kind == QLatin1String("text")) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        if (kind == QLatin1String("garbage"))
            f.write(noise(5000, 7));
        if (kind == QLatin1String("text"))
            f.write("hello\n");
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == QLatin1String("fifo")) {
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
    }
    const QByteArray before = QFileInfo(path).isFile() ? fileBytes(path) : QByteArray();

    for (uint32_t access : {WIM_GENERIC_READ_WRITE, WIM_GENERIC_READ, 0u}) {
        QVERIFY(!openWim(lib, path, access));
        QVERIFY(!lib.LastErrorText().isEmpty());
        // Why, as the window words it.
        QCOMPARE(lib.LastError().kind, failure);
        QCOMPARE(lib.LastError().systemError, systemError);
    }
    if (QFileInfo(path).isFile())
        QCOMPARE(fileBytes(path), before);
}

void TestWimlibBackend::readOnlyFileRefusesEveryChange()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("ro.wim"));
    QVERIFY(makeArchive(lib, wimPath, m_sample, 2));
    QVERIFY(QFile::setPermissions(wimPath, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    const QByteArray before = fileBytes(wimPath);

    QVERIFY(!openWim(lib, wimPath, WIM_GENERIC_READ_WRITE));
    // Root too is told what anyone else would be.
    QCOMPARE(lib.LastError().kind, ImagingError::Kind::AccessDenied);
    for (uint32_t access : {WIM_GENERIC_READ, 0u}) {
        WimHandle wim(lib, openWim(lib, wimPath, access));
        QVERIFY2(wim, qPrintable(lib.LastErrorText()));
        QCOMPARE(imageCount(lib, wim.get()), 2u);
        QCOMPARE(imageName(lib, wim.get(), 2), QStringLiteral("two"));
        QVERIFY(!WimHandle(lib, lib.WIMCaptureImage(wim.get(), m_sample, 0)));
        QCOMPARE(lib.LastError().kind, ImagingError::Kind::ArchiveReadOnly);
        QVERIFY(!setTexts(lib, wim.get(), 1, texts(QStringLiteral("renamed"))));
        QVERIFY(!lib.WIMDeleteImage(wim.get(), 1));
        QVERIFY(!lib.WIMSetBootImage(wim.get(), 1));
        // ... and is no destination for an export either.
        WimHandle other(lib, createWim(lib, dir.filePath(QStringLiteral("other.wim"))));
        WimHandle otherImage(lib, lib.WIMCaptureImage(other.get(), m_sample, 0));
        QVERIFY(otherImage);
        QVERIFY(!lib.WIMExportImage(otherImage.get(), wim.get(), WIM_EXPORT_ALLOW_DUPLICATES));
    }
    QCOMPARE(fileBytes(wimPath), before);
}

void TestWimlibBackend::opensAnArchiveMadeByWimlibImagex()
{
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("peer.wim"));
    auto run = [](const QStringList &args) { return runTool(kImagex, args); };
    auto r = run(
        {QStringLiteral("capture"), m_sample, wimPath, QStringLiteral("first"), QStringLiteral("--compress=XPRESS")});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    r = run({QStringLiteral("append"), m_sample, wimPath, QStringLiteral("第二")});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    r = run({QStringLiteral("append"), m_sample, wimPath, QStringLiteral("A & B")});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    r = run({QStringLiteral("info"), wimPath, QStringLiteral("2"), QStringLiteral("--boot")});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));

    WimlibBackend lib;
    WimHandle wim(lib, openWim(lib, wimPath));
    QVERIFY2(wim, qPrintable(lib.LastErrorText()));
    WIM_INFO info{};
    QVERIFY(lib.WIMGetAttributes(wim.get(), &info, sizeof info));
    QCOMPARE(info.ImageCount, 3u);
    QCOMPARE(info.BootIndex, 2u);
    QCOMPARE(info.CompressionType, WIM_COMPRESS_XPRESS);
    QCOMPARE(imageName(lib, wim.get(), 1), QStringLiteral("first"));
    QCOMPARE(imageName(lib, wim.get(), 2), QStringLiteral("第二"));
    QCOMPARE(imageName(lib, wim.get(), 3), QStringLiteral("A & B"));
    QVERIFY(elementOf(lib, wim.get(), 3).contains(QStringLiteral("<NAME>A &amp; B</NAME>")));
}

void TestWimlibBackend::imageInformationIsCurrentAfterEveryChange()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("info.wim"));
    WimHandle wim(lib, createWim(lib, wimPath));
    WimHandle image(lib, lib.WIMCaptureImage(wim.get(), m_sample, 0));
    QVERIFY(image);

    QString xml;
    uint32_t bytes = 0;
    QVERIFY(lib.WIMGetImageInformation(image.get(), &xml, &bytes));
    QCOMPARE(xml.at(0), QChar(0xFEFF));
    QCOMPARE(bytes, uint32_t(xml.size() * 2));
    QVERIFY(xml.mid(1).startsWith(QStringLiteral("<IMAGE INDEX=\"1\">")));
    QVERIFY(xml.endsWith(QStringLiteral("</IMAGE>")));
    const auto tree = readTree(m_sample);
    const auto folders =
        std::count_if(tree.keyBegin(), tree.keyEnd(), [](const QString &k) { return k.endsWith(u'/'); });
    const auto field = [&](const QString &name) {
        const int start = xml.indexOf(QStringLiteral("<%1>").arg(name));
        const int end = xml.indexOf(QStringLiteral("</%1>").arg(name));
        return start < 0 || end < 0 ? QString() : xml.mid(start + name.size() + 2, end - start - name.size() - 2);
    };
    // The root counts as a folder; a hard link's second name counts as a file, and its bytes as hard-link bytes.
    QCOMPARE(field(QStringLiteral("DIRCOUNT")), QString::number(folders + 1));
    QCOMPARE(field(QStringLiteral("FILECOUNT")), QString::number(tree.size() - folders));
    qint64 dataBytes = 0;
    for (auto it = tree.begin(); it != tree.end(); ++it)
        dataBytes += it.value().startsWith("-> ") ? 0 : it.value().size();
    const qint64 linked = QFileInfo(m_sample + QStringLiteral("/readme.txt")).size();
    QCOMPARE(field(QStringLiteral("HARDLINKBYTES")), QString::number(linked));
    QVERIFY(field(QStringLiteral("TOTALBYTES")).toLongLong() >= dataBytes);
    QVERIFY(!field(QStringLiteral("CREATIONTIME")).isEmpty());

    // Changed through the same handle: the next read shows it.
    QVERIFY(lib.WIMSetImageInformation(image.get(), texts(QStringLiteral("now")), 200));
    QVERIFY(lib.WIMGetImageInformation(image.get(), &xml, nullptr));
    QCOMPARE(field(QStringLiteral("NAME")), QStringLiteral("now"));
    // A second capture through the archive handle: its image is there at once.
    WimHandle second(lib, lib.WIMCaptureImage(wim.get(), m_sample + QStringLiteral("/a"), 0));
    QVERIFY(second);
    QVERIFY(lib.WIMGetImageInformation(second.get(), &xml, nullptr));
    QVERIFY(xml.contains(QStringLiteral("<IMAGE INDEX=\"2\">")));
    QCOMPARE(field(QStringLiteral("DIRCOUNT")), QStringLiteral("3"));  // a, a/b and a/b/c
}

void TestWimlibBackend::setImageInformation_data()
{
    QTest::addColumn<QString>("xml");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");

    QTest::newRow("ampersand and angle brackets")
        << texts(QStringLiteral("A&B <x>"), QStringLiteral("1 < 2 & 3 > 2")) << true << QStringLiteral("A&B <x>")
        << QStringLiteral("1 < 2 & 3 > 2");
    QTest::newRow("chinese") << texts(QStringLiteral("系统映像"), QStringLiteral("专业版")) << true
                             << QStringLiteral("系统映像") << QStringLiteral("专业版");
    QTest::newRow("character references and CDATA") << QStringLiteral(
        "\uFEFF<IMAGE><NAME>&#x4E2D;&#25991;</NAME><DESCRIPTION><![CDATA[a<b]]></DESCRIPTION></IMAGE>")
                                                    << true << QStringLiteral("中文") << QStringLiteral("a<b");
    QTest::newRow("missing elements mean empty")
        << QStringLiteral("<IMAGE INDEX=\"1\"></IMAGE>") << true << QString() << QString();
    QTest::newRow("clashing name") << texts(QStringLiteral("two")) << false << QStringLiteral("one") << QString();
    QTest::newRow("unescaped ampersand") << QStringLiteral("<IMAGE><NAME>A&B</NAME></IMAGE>") << false
                                         << QStringLiteral("one") << QString();
    QTest::newRow("unclosed") << QStringLiteral("<IMAGE><NAME>x</NAME>") << false << QStringLiteral("one") << QString();
    QTest::newRow("another root") << QStringLiteral("<WIM><NAME>x</NAME></WIM>") << false << QStringLiteral("one")
                                  << QString();
    QTest::newRow("empty text") << QString() << false << QStringLiteral("one") << QString();
}

void TestWimlibBackend::setImageInformation()
{
    QFETCH(QString, xml);
    QFETCH(bool, accepted);
    QFETCH(QString, name);
    QFETCH(QString, description);
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("texts.wim"));
    QVERIFY(makeArchive(lib, wimPath, m_sample + QStringLiteral("/a"), 2));
    const QByteArray before = fileBytes(wimPath);
    {
        WimHandle wim(lib, openWim(lib, wimPath));
        QCOMPARE(setTexts(lib, wim.get(), 1, xml), accepted);
        if (!accepted)
            QVERIFY(!lib.LastErrorText().isEmpty());
    }
    if (!accepted)
        QCOMPARE(fileBytes(wimPath), before);

    WimHandle wim(lib, openWim(lib, wimPath, WIM_GENERIC_READ));
    const auto read = wimxml::editableTexts(elementOf(lib, wim.get(), 1));
    QVERIFY(read);
    QCOMPARE(read->name, name);
    QCOMPARE(read->description, description);
    QCOMPARE(imageName(lib, wim.get(), 2), QStringLiteral("two"));
    const auto peer = wimInfo(wimPath);
    QVERIFY2(peer.ok, qPrintable(peer.raw));
    QCOMPARE(peer.names.value(0), name);
    QVERIFY(wimVerify(wimPath));
}

void TestWimlibBackend::deleteAndBootIndexSurviveReopening()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("edit.wim"));
    QVERIFY(makeArchive(lib, wimPath, m_sample, 3));
    {
        WimHandle wim(lib, openWim(lib, wimPath));
        QVERIFY(lib.WIMSetBootImage(wim.get(), 3));
        QCOMPARE(bootIndex(lib, wim.get()), 3u);
    }
    const qint64 sizeBefore = QFileInfo(wimPath).size();
    {
        WimHandle wim(lib, openWim(lib, wimPath));
        QCOMPARE(bootIndex(lib, wim.get()), 3u);
        QVERIFY2(lib.WIMDeleteImage(wim.get(), 2), qPrintable(lib.LastErrorText()));
        QCOMPARE(imageCount(lib, wim.get()), 2u);
        QCOMPARE(bootIndex(lib, wim.get()), 2u);  // the boot image moved up one place
    }
    // A soft delete: nothing was rewritten, so nothing shrank.
    QVERIFY(QFileInfo(wimPath).size() >= sizeBefore);
    {
        WimHandle wim(lib, openWim(lib, wimPath));
        QCOMPARE(imageCount(lib, wim.get()), 2u);
        QCOMPARE(imageName(lib, wim.get(), 1), QStringLiteral("one"));
        QCOMPARE(imageName(lib, wim.get(), 2), QStringLiteral("three"));
        QCOMPARE(bootIndex(lib, wim.get()), 2u);
        QVERIFY(lib.WIMSetBootImage(wim.get(), 1));
    }
    auto peer = wimInfo(wimPath);
    QCOMPARE(peer.imageCount, 2);
    QCOMPARE(peer.bootIndex, 1);
    QCOMPARE(peer.names, (QStringList{QStringLiteral("one"), QStringLiteral("three")}));
    QVERIFY(wimVerify(wimPath));
    {
        WimHandle wim(lib, openWim(lib, wimPath));
        QVERIFY(lib.WIMSetBootImage(wim.get(), 0));
        QVERIFY(lib.WIMDeleteImage(wim.get(), 1));
        QVERIFY(lib.WIMDeleteImage(wim.get(), 1));
        QCOMPARE(imageCount(lib, wim.get()), 0u);
    }
    peer = wimInfo(wimPath);
    QCOMPARE(peer.imageCount, 0);
    QCOMPARE(peer.bootIndex, 0);
}

void TestWimlibBackend::exportAddsTheImageAgainWithAFreeName()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.wim"));
    const QString target = dir.filePath(QStringLiteral("target.wim"));
    QVERIFY(makeArchive(lib, source, m_sample, 2));
    const QByteArray sourceBefore = fileBytes(source);

    for (int round = 0; round < 3; ++round) {
        WimHandle wim(lib, openWim(lib, source, WIM_GENERIC_READ));
        WimHandle image(lib, lib.WIMLoadImage(wim.get(), 2));
        uint32_t created = 99;
        WimHandle destination(
            lib, lib.WIMCreateFile(target, WIM_GENERIC_READ_WRITE, WIM_OPEN_ALWAYS, 0, WIM_COMPRESS_XPRESS, &created));
        QVERIFY2(destination, qPrintable(lib.LastErrorText()));
        QCOMPARE(created, round == 0 ? WIM_CREATED_NEW : WIM_OPENED_EXISTING);
        QVERIFY2(lib.WIMExportImage(image.get(), destination.get(), WIM_EXPORT_ALLOW_DUPLICATES),
                 qPrintable(lib.LastErrorText()));
        QCOMPARE(imageCount(lib, destination.get()), uint32_t(round + 1));
    }
    QCOMPARE(fileBytes(source), sourceBefore);
    const auto peer = wimInfo(target);
    QVERIFY2(peer.ok, qPrintable(peer.raw));
    QCOMPARE(peer.compression, QStringLiteral("XPRESS"));
    QCOMPARE(peer.names, (QStringList{QStringLiteral("two"), QStringLiteral("two (2)"), QStringLiteral("two (3)")}));
    QString output;
    QVERIFY2(wimVerify(target, &output), qPrintable(output));

    // Without WIM_EXPORT_ALLOW_DUPLICATES a clashing name is refused, and nothing changes.
    const QByteArray targetBefore = fileBytes(target);
    WimHandle wim(lib, openWim(lib, source, WIM_GENERIC_READ));
    WimHandle image(lib, lib.WIMLoadImage(wim.get(), 2));
    WimHandle destination(lib, openWim(lib, target));
    QVERIFY(!lib.WIMExportImage(image.get(), destination.get(), 0));
    QCOMPARE(imageCount(lib, destination.get()), 3u);
    QCOMPARE(fileBytes(target), targetBefore);

    // The exported image applies to the same tree.
    WimHandle exported(lib, lib.WIMLoadImage(destination.get(), 3));
    const QString applied = dir.filePath(QStringLiteral("applied"));
    QVERIFY(QDir().mkpath(applied));
    QVERIFY(lib.WIMApplyImage(exported.get(), applied, 6));
    QCOMPARE(treeOf(applied), treeOf(m_sample));
}

void TestWimlibBackend::exportKeepsTheSourceAliveAfterItsHandlesClose()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.wim"));
    const QString target = dir.filePath(QStringLiteral("target.wim"));
    QVERIFY(makeArchive(lib, source, m_sample, 1));

    WimHandle wim(lib, openWim(lib, source, WIM_GENERIC_READ));
    WimHandle image(lib, lib.WIMLoadImage(wim.get(), 1));
    WimHandle destination(
        lib, lib.WIMCreateFile(target, WIM_GENERIC_READ_WRITE, WIM_OPEN_ALWAYS, 0, WIM_COMPRESS_LZX, nullptr));
    QVERIFY(wim && image && destination);
    QVERIFY(wim.close());  // the image keeps the source's data alive
    QVERIFY2(lib.WIMExportImage(image.get(), destination.get(), WIM_EXPORT_ALLOW_DUPLICATES),
             qPrintable(lib.LastErrorText()));
    // The order the program uses: the image first, then the destination; and the other way round.
    QVERIFY(image.close());
    QVERIFY(destination.close());
    QVERIFY(wimVerify(target));

    wim.reset(lib, openWim(lib, source, WIM_GENERIC_READ));
    image.reset(lib, lib.WIMLoadImage(wim.get(), 1));
    destination.reset(lib, openWim(lib, target));
    QVERIFY(wim.close());
    QVERIFY(lib.WIMExportImage(image.get(), destination.get(), WIM_EXPORT_ALLOW_DUPLICATES));
    // The source image serves again after an export.
    QString xml;
    QVERIFY(lib.WIMGetImageInformation(image.get(), &xml, nullptr));
    QVERIFY(xml.contains(QStringLiteral("<NAME>one</NAME>")));
    QVERIFY(lib.WIMExportImage(image.get(), destination.get(), WIM_EXPORT_ALLOW_DUPLICATES));
    QVERIFY(destination.close());
    QVERIFY(image.close());
    QCOMPARE(wimInfo(target).names,
             (QStringList{QStringLiteral("one"), QStringLiteral("one (2)"), QStringLiteral("one (3)")}));
    QVERIFY(wimVerify(target));
}

void TestWimlibBackend::keepFlagExcludesPaths()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("excl.wim"));
    Recording rec(lib);
    QVERIFY(rec.ok());
    rec.recorder.exclude = [this](const QString &path) {
        return path == m_sample + QStringLiteral("/a/b") || path == m_sample + QStringLiteral("/中文目录/文件名.txt")
               || path == m_sample;  // asking to drop the root itself changes nothing
    };
    {
        WimHandle wim(lib, createWim(lib, wimPath));
        WimHandle image(lib, lib.WIMCaptureImage(wim.get(), m_sample, 0));
        QVERIFY2(image, qPrintable(lib.LastErrorText()));
    }
    const QStringList asked = rec.recorder.paths(WIM_MSG_PROCESS);
    QVERIFY(!asked.isEmpty());
    QCOMPARE(asked.first(), m_sample);
    QVERIFY(asked.contains(m_sample + QStringLiteral("/emoji 😀.txt")));
    QVERIFY(asked.contains(m_sample + QStringLiteral("/a/b")));
    // Nothing below an excluded folder is even asked about.
    QVERIFY(!asked.contains(m_sample + QStringLiteral("/a/b/c")));

    const QStringList inImage = testarchives::wimDir(wimPath, 1);
    QVERIFY(inImage.contains(QStringLiteral("/a")));
    QVERIFY(inImage.contains(QStringLiteral("/中文目录")));
    QVERIFY(inImage.contains(QStringLiteral("/readme.txt")));
    QVERIFY(!inImage.contains(QStringLiteral("/a/b")));
    QVERIFY(!inImage.contains(QStringLiteral("/a/b/c/deep.dat")));
    QVERIFY(!inImage.contains(QStringLiteral("/中文目录/文件名.txt")));
}

void TestWimlibBackend::abortLeavesTheArchiveAsItWas_data()
{
    QTest::addColumn<int>("abortAtProcess");
    QTest::addColumn<bool>("afterProgress");
    QTest::addColumn<uint32_t>("disposition");
    QTest::newRow("at the root") << 1 << false << WIM_OPEN_EXISTING;
    QTest::newRow("in the scan") << 5 << false << WIM_OPEN_EXISTING;
    QTest::newRow("while writing") << 0 << true << WIM_OPEN_EXISTING;
    QTest::newRow("while writing a new archive") << 0 << true << WIM_OPEN_ALWAYS;
}

void TestWimlibBackend::abortLeavesTheArchiveAsItWas()
{
    QFETCH(int, abortAtProcess);
    QFETCH(bool, afterProgress);
    QFETCH(uint32_t, disposition);
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    QVERIFY(makeDataTree(data, 40, 4 << 20));
    const QString wimPath = dir.filePath(QStringLiteral("abort.wim"));
    const bool existing = disposition == WIM_OPEN_EXISTING;
    if (existing)
        QVERIFY(makeArchive(lib, wimPath, m_sample, 2));
    const QByteArray before = fileBytes(wimPath);

    Recording rec(lib);
    rec.recorder.abortAtProcess = abortAtProcess;
    rec.recorder.abortAfterProgress = afterProgress;
    {
        WimHandle wim(lib,
                      lib.WIMCreateFile(wimPath, WIM_GENERIC_READ_WRITE, disposition, 0, WIM_COMPRESS_LZX, nullptr));
        QVERIFY(wim);
        QVERIFY(!WimHandle(lib, lib.WIMCaptureImage(wim.get(), data, 0)));
        QVERIFY(!lib.LastErrorText().isEmpty());
        QCOMPARE(imageCount(lib, wim.get()), existing ? 2u : 0u);
    }
    if (afterProgress)
        QVERIFY2(!rec.recorder.progress().isEmpty(), "the abort came in the write phase");
    if (!existing) {
        QVERIFY2(!QFile::exists(wimPath), "an interrupted new archive leaves no file");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        return;
    }
    QCOMPARE(fileBytes(wimPath), before);
    QVERIFY(wimVerify(wimPath));
    WimHandle wim(lib, openWim(lib, wimPath));
    QCOMPARE(imageCount(lib, wim.get()), 2u);
}

void TestWimlibBackend::abortStopsApplyAndExport()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    QVERIFY(makeDataTree(data, 40, 4 << 20));
    const QString source = dir.filePath(QStringLiteral("source.wim"));
    {
        WimHandle wim(lib, createWim(lib, source));
        QVERIFY(WimHandle(lib, lib.WIMCaptureImage(wim.get(), data, 0)));
    }
    const QString target = dir.filePath(QStringLiteral("target.wim"));
    QVERIFY(makeArchive(lib, target, m_sample, 1));
    const QByteArray targetBefore = fileBytes(target);

    Recording rec(lib);
    rec.recorder.abortAfterProgress = true;
    WimHandle wim(lib, openWim(lib, source, WIM_GENERIC_READ));
    WimHandle image(lib, lib.WIMLoadImage(wim.get(), 1));
    const QString applied = dir.filePath(QStringLiteral("applied"));
    QVERIFY(QDir().mkpath(applied));
    QVERIFY(!lib.WIMApplyImage(image.get(), applied, 6));
    QVERIFY(!rec.recorder.progress().isEmpty());
    QVERIFY(!rec.recorder.progress().contains(100));

    WimHandle destination(lib, openWim(lib, target));
    QVERIFY(!lib.WIMExportImage(image.get(), destination.get(), WIM_EXPORT_ALLOW_DUPLICATES));
    QCOMPARE(imageCount(lib, destination.get()), 1u);
    QCOMPARE(fileBytes(target), targetBefore);
}

void TestWimlibBackend::filesThatCannotBeCapturedAreReportedAndLeftOut()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString tree = dir.filePath(QStringLiteral("odd"));
    QVERIFY(makeDataTree(tree, 3, 3000));
    // A name that is not UTF-8, and a named pipe, which an image cannot hold.
    const QByteArray badName = QFile::encodeName(tree)
                               + "/bad\xff"
                                 "name";
    const int fd = ::open(badName.constData(), O_WRONLY | O_CREAT, 0644);
    QVERIFY(fd >= 0);
    ::close(fd);
    QVERIFY(::mkfifo(QFile::encodeName(tree + QStringLiteral("/pipe")).constData(), 0644) == 0);

    Recording rec(lib);
    const QString wimPath = dir.filePath(QStringLiteral("odd.wim"));
    {
        WimHandle wim(lib, createWim(lib, wimPath));
        QVERIFY2(WimHandle(lib, lib.WIMCaptureImage(wim.get(), tree, 0)), qPrintable(lib.LastErrorText()));
    }
    const auto messages = rec.recorder.messages();
    bool sawBadName = false;
    bool sawPipe = false;
    for (const auto &m : messages) {
        if (m.id == WIM_MSG_ERROR && m.path.startsWith(tree + QStringLiteral("/bad")) && m.value == EILSEQ)
            sawBadName = true;
        if (m.id == WIM_MSG_WARNING && m.path == tree + QStringLiteral("/pipe") && m.value == EOPNOTSUPP)
            sawPipe = true;
    }
    QVERIFY(sawBadName);
    QVERIFY(sawPipe);
    const QStringList inImage = testarchives::wimDir(wimPath, 1);
    QCOMPARE(inImage.filter(QStringLiteral(".bin")).size(), 3);
    QVERIFY(!inImage.contains(QStringLiteral("/pipe")));

    // A capture root that does not exist is a failure, not an empty image.
    WimHandle wim(lib, openWim(lib, wimPath));
    QVERIFY(!WimHandle(lib, lib.WIMCaptureImage(wim.get(), dir.filePath(QStringLiteral("nowhere")), 0)));
    QCOMPARE(imageCount(lib, wim.get()), 1u);
    ::unlink(badName.constData());  // QDir cannot name it to remove it
}

void TestWimlibBackend::ownArchiveIsNeverCaptured()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString tree = dir.filePath(QStringLiteral("tree"));
    QVERIFY(makeDataTree(tree, 4, 200000));
    const QString wimPath = tree + QStringLiteral("/inside.wim");
    QVERIFY(makeArchive(lib, wimPath, m_sample, 1));
    {
        WimHandle wim(lib, openWim(lib, wimPath));
        QVERIFY2(WimHandle(lib, lib.WIMCaptureImage(wim.get(), tree, 0)), qPrintable(lib.LastErrorText()));
    }
    const QStringList inImage = testarchives::wimDir(wimPath, 2);
    QCOMPARE(inImage.filter(QStringLiteral(".bin")).size(), 4);
    QVERIFY(!inImage.contains(QStringLiteral("/inside.wim")));
    QVERIFY(wimVerify(wimPath));
}

void TestWimlibBackend::progressNeverGoesBackAndEndsAt100_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("capture") << QStringLiteral("capture");
    QTest::newRow("apply") << QStringLiteral("apply");
    QTest::newRow("export") << QStringLiteral("export");
}

void TestWimlibBackend::progressNeverGoesBackAndEndsAt100()
{
    QFETCH(QString, operation);
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    QVERIFY(makeDataTree(data, 30, 3 << 20));
    // Duplicated content makes wimlib's byte total shrink while it writes.
    QVERIFY(QFile::copy(data + QStringLiteral("/d0/f0.bin"), data + QStringLiteral("/copy of f0.bin")));
    const QString wimPath = dir.filePath(QStringLiteral("p.wim"));
    WimHandle wim(lib, createWim(lib, wimPath));
    std::unique_ptr<Recording> rec;
    if (operation == QLatin1String("capture"))
        rec = std::make_unique<Recording>(lib);
    WimHandle image(lib, lib.WIMCaptureImage(wim.get(), data, 0));
    QVERIFY(image);
    if (operation == QLatin1String("apply")) {
        rec = std::make_unique<Recording>(lib);
        QVERIFY(lib.WIMApplyImage(image.get(), dir.path() + QStringLiteral("/out"), 6) == false);  // must exist
        QVERIFY(QDir().mkpath(dir.path() + QStringLiteral("/out")));
        QVERIFY(lib.WIMApplyImage(image.get(), dir.path() + QStringLiteral("/out"), 6));
        // An abort can take effect at every step: a process message follows each.
        QVERIFY(rec->recorder.count(WIM_MSG_PROCESS) >= rec->recorder.progress().size() - 1);
    } else if (operation == QLatin1String("export")) {
        rec = std::make_unique<Recording>(lib);
        WimHandle destination(lib, lib.WIMCreateFile(dir.filePath(QStringLiteral("e.wim")), WIM_GENERIC_READ_WRITE,
                                                     WIM_OPEN_ALWAYS, 0, WIM_COMPRESS_XPRESS, nullptr));
        QVERIFY(lib.WIMExportImage(image.get(), destination.get(), WIM_EXPORT_ALLOW_DUPLICATES));
    }
    const QList<int> progress = rec->recorder.progress();
    QVERIFY(progress.size() >= 5);
    for (int i = 0; i < progress.size(); ++i) {
        QVERIFY(progress[i] >= 0 && progress[i] <= 100);
        if (i > 0)
            QVERIFY2(progress[i] > progress[i - 1], qPrintable(QStringLiteral("step %1").arg(i)));
    }
    QCOMPARE(progress.last(), 100);
}

void TestWimlibBackend::callbacksRunOnTheCallingThread()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    Recording rec(lib);
    Qt::HANDLE worker = nullptr;
    bool captured = false;
    std::thread thread([&] {
        worker = QThread::currentThreadId();
        WimHandle wim(lib, createWim(lib, dir.filePath(QStringLiteral("t.wim"))));
        captured = bool(WimHandle(lib, lib.WIMCaptureImage(wim.get(), m_sample, 0)));
    });
    thread.join();
    QVERIFY(captured);
    QCOMPARE(rec.recorder.threads(), QList<Qt::HANDLE>{worker});
}

void TestWimlibBackend::callbacksMayReadButNotChangeTheBusyArchive()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("q.wim"));
    QVERIFY(makeArchive(lib, wimPath, m_sample, 1));
    WimHandle wim(lib, openWim(lib, wimPath));
    Recording rec(lib);
    int answered = 0;
    // What the window does while an operation runs: read the list.
    int refused = 0;
    rec.recorder.duringProcess = [&] {
        if (imageCount(lib, wim.get()) == 1 && imageName(lib, wim.get(), 1) == QLatin1String("one"))
            ++answered;
        // A change from inside the running call would wait for itself: refused at once.
        if (!lib.WIMSetBootImage(wim.get(), 1) && lib.LastErrorText().contains(QStringLiteral("busy")))
            ++refused;
    };
    QVERIFY(WimHandle(lib, lib.WIMCaptureImage(wim.get(), m_sample + QStringLiteral("/a"), 0)));
    QVERIFY(answered > 0);
    QCOMPARE(refused, answered);
    QCOMPARE(imageCount(lib, wim.get()), 2u);
    QCOMPARE(bootIndex(lib, wim.get()), 0u);
}

void TestWimlibBackend::anotherHandlesChangesAreNotLost()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("shared.wim"));
    QVERIFY(makeArchive(lib, wimPath, m_sample, 1));
    WimHandle first(lib, openWim(lib, wimPath));
    WimHandle second(lib, openWim(lib, wimPath));
    WimHandle other(lib, createWim(lib, dir.filePath(QStringLiteral("other.wim"))));
    WimHandle otherImage(lib, lib.WIMCaptureImage(other.get(), m_sample + QStringLiteral("/a"), 0));
    QVERIFY(lib.WIMExportImage(otherImage.get(), second.get(), WIM_EXPORT_ALLOW_DUPLICATES));
    // The first handle's view is older than the second one's write: refused,
    // and read again, so that its caller chooses again from what is there.
    QVERIFY(!lib.WIMSetBootImage(first.get(), 1));
    QCOMPARE(int(lib.LastError().kind), int(ImagingError::Kind::ChangedOnDisk));
    QCOMPARE(imageCount(lib, first.get()), 2u);
    // From that view the change goes through, and the exported image stays.
    QVERIFY(lib.WIMSetBootImage(first.get(), 1));
    const auto peer = wimInfo(wimPath);
    QCOMPARE(peer.imageCount, 2);
    QCOMPARE(peer.bootIndex, 1);
}

void TestWimlibBackend::handlesCloseInAnyOrder()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("order.wim"));
    QVERIFY(makeArchive(lib, wimPath, m_sample, 2));
    WimHandle wim(lib, openWim(lib, wimPath));
    WimHandle one(lib, lib.WIMLoadImage(wim.get(), 1));
    WimHandle two(lib, lib.WIMLoadImage(wim.get(), 2));
    QVERIFY(wim && one && two);
    const HWIM closed = wim.get();
    QVERIFY(wim.close());
    QVERIFY(!WimHandle(lib, closed).close());  // twice is an error, not a crash
    QString xml;
    QVERIFY(lib.WIMGetImageInformation(two.get(), &xml, nullptr));
    QVERIFY(lib.WIMSetImageInformation(one.get(), texts(QStringLiteral("renamed")), 200));
    QVERIFY(one.close());
    QVERIFY(two.close());
    // The backend's own answer to no handle at all (an owner never passes one).
    QVERIFY(!lib.WIMCloseHandle(nullptr));
    QCOMPARE(wimInfo(wimPath).names.value(0), QStringLiteral("renamed"));

    // Handles of the wrong kind are refused.
    wim.reset(lib, openWim(lib, wimPath));
    one.reset(lib, lib.WIMLoadImage(wim.get(), 1));
    QVERIFY(!lib.WIMLoadImage(one.get(), 1));
    QVERIFY(!lib.WIMGetImageInformation(wim.get(), &xml, nullptr));
    QVERIFY(!lib.WIMDeleteImage(one.get(), 1));
    QVERIFY(!lib.WIMExportImage(wim.get(), wim.get(), 1));
    QVERIFY(one.close());
    QVERIFY(wim.close());
}

void TestWimlibBackend::callbackRegistration()
{
    WimlibBackend lib;
    MessageRecorder recorder;
    QTemporaryDir dir;
    WimHandle wim(lib, createWim(lib, dir.filePath(QStringLiteral("c.wim"))));
    QCOMPARE(lib.WIMRegisterMessageCallback(wim.get(), MessageRecorder::callback, &recorder), INVALID_CALLBACK_VALUE);
    QCOMPARE(lib.WIMRegisterMessageCallback(nullptr, nullptr, &recorder), INVALID_CALLBACK_VALUE);
    QVERIFY(!lib.WIMUnregisterMessageCallback(nullptr, MessageRecorder::callback));
    QVERIFY(lib.WIMRegisterMessageCallback(nullptr, MessageRecorder::callback, &recorder) != INVALID_CALLBACK_VALUE);
    QVERIFY(!lib.WIMUnregisterMessageCallback(wim.get(), MessageRecorder::callback));
    QVERIFY(lib.WIMUnregisterMessageCallback(nullptr, MessageRecorder::callback));
    // Once unregistered it hears nothing.
    QVERIFY(WimHandle(lib, lib.WIMCaptureImage(wim.get(), m_sample, 0)));
    QVERIFY(recorder.messages().isEmpty());
}

void TestWimlibBackend::temporaryPath_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("existing folder") << QStringLiteral("tmp") << true;
    QTest::newRow("missing folder") << QStringLiteral("missing") << false;
    QTest::newRow("a file") << QStringLiteral("file") << false;
    QTest::newRow("empty") << QString() << false;
}

void TestWimlibBackend::temporaryPath()
{
    QFETCH(QString, relative);
    QFETCH(bool, accepted);
    WimlibBackend lib;
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("tmp"))));
    QFile file(dir.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    WimHandle wim(lib, createWim(lib, dir.filePath(QStringLiteral("t.wim"))));
    QCOMPARE(lib.WIMSetTemporaryPath(wim.get(), relative.isEmpty() ? QString() : dir.filePath(relative)), accepted);
}

void TestWimlibBackend::outOfRangeIndicesAreRefused()
{
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("r.wim"));
    QVERIFY(makeArchive(lib, wimPath, m_sample, 2));
    const QByteArray before = fileBytes(wimPath);
    WimHandle wim(lib, openWim(lib, wimPath));
    QVERIFY(!lib.WIMLoadImage(wim.get(), 0));
    QVERIFY(!lib.WIMLoadImage(wim.get(), 3));
    QVERIFY(!lib.WIMDeleteImage(wim.get(), 0));
    QVERIFY(!lib.WIMDeleteImage(wim.get(), 3));
    QVERIFY(!lib.WIMSetBootImage(wim.get(), 3));
    WIM_INFO info{};
    QVERIFY(!lib.WIMGetAttributes(wim.get(), &info, sizeof info - 1));
    QCOMPARE(fileBytes(wimPath), before);
}

QTEST_GUILESS_MAIN(TestWimlibBackend)
#include "tst_wimlib_backend.moc"
