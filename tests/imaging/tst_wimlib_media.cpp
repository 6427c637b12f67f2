// Split sets, ESD conversion, split, verify and optimize of the wimlib backend,
// on archives made here by our code and by wimlib-imagex, checked with
// wimlib-imagex.
#include "imaging/wimlib_backend.h"
#include "imaging/wimlib_split_set.h"
#include "imaging/wimlib_xml.h"
#include "imaging_test_support.h"
#include "message_recorder.h"
#include "test_archives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace imagingtest;
using testarchives::runTool;
using testarchives::wimVerify;
using Kind = ImagingError::Kind;

namespace {

const QString kImagex = QStringLiteral("wimlib-imagex");

bool imagex(const QStringList &args)
{
    const auto r = runTool(kImagex, args);
    if (r.exitCode != 0)
        qWarning("%s", qPrintable(r.output));
    return r.exitCode == 0;
}

// "Version" and "Compression" as wimlib-imagex info prints them.
QString headerField(const QString &wim, const QString &field)
{
    const auto match =
        QRegularExpression(QStringLiteral("^%1:\\s*(\\S+)").arg(field), QRegularExpression::MultilineOption)
            .match(runTool(kImagex, {QStringLiteral("info"), wim}).output);
    return match.hasMatch() ? match.captured(1) : QString();
}

// Captures `tree` into a new LZX archive through our backend, `images` times.
bool captureWith(ImagingLibrary &lib, const QString &wim, const QString &tree, int images)
{
    WimHandle archive(lib, createWim(lib, wim));
    for (int i = 0; archive && i < images; ++i) {
        WimHandle image(lib, lib.WIMCaptureImage(archive.get(), tree, 0));
        const QString xml = QStringLiteral("<IMAGE><NAME>image %1</NAME></IMAGE>").arg(i + 1);
        if (!image || !lib.WIMSetImageInformation(image.get(), xml, uint32_t(xml.size() * 2)))
            return false;
    }
    return bool(archive);
}

bool applyWith(ImagingLibrary &lib, const QString &wim, uint32_t index, const QString &target)
{
    WimHandle archive(lib, openWim(lib, wim, WIM_GENERIC_READ));
    WimHandle image(lib, archive ? lib.WIMLoadImage(archive.get(), index) : nullptr);
    return image && QDir().mkpath(target) && lib.WIMApplyImage(image.get(), target, 0);
}

QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

}  // namespace

class TestWimlibMedia : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void partNamesAreWimlibs_data();
    void partNamesAreWimlibs();
    void conversion_data();
    void conversion();
    void splitSetOpensListsAndApplies_data();
    void splitSetOpensListsAndApplies();
    void brokenSplitSetNamesThePart_data();
    void brokenSplitSetNamesThePart();
    void splitRefusals_data();
    void splitRefusals();
    void splitAbortLeavesNoPart();
    void verify_data();
    void verify();
    void verifyAbort();
    void optimizeShrinksAfterADelete();
    void optimizeAbortOrFullDiskLeavesTheArchive_data();
    void optimizeAbortOrFullDiskLeavesTheArchive();
    void optimizeKilledLeavesTheArchive();
    void optimizeRefusals_data();
    void optimizeRefusals();
    void oversizedFilesAreTheLargerParts_data();
    void oversizedFilesAreTheLargerParts();
    void writesIntoAFolderThatRefusesSayWhy_data();
    void writesIntoAFolderThatRefusesSayWhy();

private:
    // An archive in `dir` of m_tree: "ours" (a copy of m_ours), or by
    // wimlib-imagex "check" (with an integrity table) or "swm" (m_ours split
    // into 1 MiB parts; the first part's path); or "esd", m_smallTree
    // captured solid by wimlib-imagex.
    QString makeSource(const QString &kind, const QTemporaryDir &dir);

    WimlibBackend m_lib;
    QTemporaryDir m_dir;
    QString m_tree;                     // about 3 MB: noise files, a hard-linked victim, the sample tree
    QString m_victim;                   // the file the verify tests damage
    QString m_ours;                     // m_tree twice, LZX, by our code
    QString m_smallTree;                // four noise files of 150 KiB
    QString m_small;                    // m_smallTree by wimlib-imagex
    QMap<QString, QString> m_captured;  // makeSource's captures by wimlib-imagex, by kind
};

void TestWimlibMedia::initTestCase()
{
    if (!testarchives::haveTool(kImagex))
        QSKIP("wimlib-imagex (package wimtools) is needed to make and check archives");
    QVERIFY(m_dir.isValid());
    m_tree = m_dir.filePath(QStringLiteral("tree"));
    QVERIFY(makeSampleTree(m_tree));
    QVERIFY(makeDataTree(m_tree + QStringLiteral("/data"), 12, 3 << 20));
    m_victim = m_tree + QStringLiteral("/victim.bin");
    QFile victim(m_victim);
    QVERIFY(victim.open(QIODevice::WriteOnly) && victim.write(noise(300000, 7)) == 300000);
    victim.close();
    QCOMPARE(::link(QFile::encodeName(m_victim).constData(),
                    QFile::encodeName(m_tree + QStringLiteral("/data/victim hard link.bin")).constData()),
             0);
    m_ours = m_dir.filePath(QStringLiteral("ours.wim"));
    QVERIFY(captureWith(m_lib, m_ours, m_tree, 2));
    m_smallTree = m_dir.filePath(QStringLiteral("small"));
    m_small = m_dir.filePath(QStringLiteral("small.wim"));
    QVERIFY(makeDataTree(m_smallTree, 4, 600 * 1024) && imagex({QStringLiteral("capture"), m_smallTree, m_small}));
}

QString TestWimlibMedia::makeSource(const QString &kind, const QTemporaryDir &dir)
{
    const QString path =
        dir.filePath(QStringLiteral("source.") + (kind == QLatin1String("swm") ? kind : QStringLiteral("wim")));
    bool made = false;
    if (kind == QLatin1String("ours"))
        made = QFile::copy(m_ours, path);
    else if (kind == QLatin1String("swm")) {
        // Split once and copied part by part.
        const QString parts = m_dir.filePath(QStringLiteral("swm"));
        made = QFileInfo::exists(parts)
               || (QDir().mkpath(parts)
                   && imagex(
                       {QStringLiteral("split"), m_ours, parts + QStringLiteral("/source.swm"), QStringLiteral("1")}));
        for (const QString &part : QDir(parts).entryList({QStringLiteral("source*.swm")}, QDir::Files))
            made &= QFile::copy(parts + QLatin1Char('/') + part, dir.filePath(part));
    } else {
        // Captured once and copied; solid, the smaller tree (LZMS costs by the byte).
        QString &capture = m_captured[kind];
        if (capture.isEmpty()) {
            const bool solid = kind == QLatin1String("esd");
            const QString once = m_dir.filePath(kind + QStringLiteral(".wim"));
            if (imagex({QStringLiteral("capture"), solid ? m_smallTree : m_tree, once, QStringLiteral("source"),
                        solid ? QStringLiteral("--solid") : QStringLiteral("--check")}))
                capture = once;
        }
        made = !capture.isEmpty() && QFile::copy(capture, path);
    }
    return made ? path : QString();
}

void TestWimlibMedia::partNamesAreWimlibs_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("others");
    QTest::newRow("extension") << "install.swm"
                               << "install2.swm install3.swm";
    QTest::newRow("two dots") << "a.b.swm"
                              << "a.b2.swm a.b3.swm";
    QTest::newRow("no extension") << "d.x/noext"
                                  << "d.x/noext2 d.x/noext3";
    QTest::newRow("only an extension") << ".swm"
                                       << "2.swm 3.swm";
}

void TestWimlibMedia::partNamesAreWimlibs()
{
    QFETCH(QString, first);
    QFETCH(QString, others);
    QTemporaryDir dir;
    const QString path = dir.filePath(first);
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QVERIFY(imagex({QStringLiteral("split"), m_small, path, QStringLiteral("0.25")}));
    QCOMPARE(wimsplit::partPath(path, 1), path);
    for (unsigned number = 2; number <= 3; ++number) {
        QCOMPARE(wimsplit::partPath(path, number),
                 dir.filePath(others.section(u' ', int(number) - 2, int(number) - 2)));
        QVERIFY(QFile::exists(wimsplit::partPath(path, number)));
    }
}

void TestWimlibMedia::conversion_data()
{
    QTest::addColumn<bool>("toSolid");
    QTest::newRow("ESD made by wimlib-imagex to WIM") << false;
    QTest::newRow("WIM made by us to ESD") << true;
}

void TestWimlibMedia::conversion()
{
    QFETCH(bool, toSolid);
    QTemporaryDir dir;
    // A small tree of its own: LZMS and LZX cost by the byte, and what matters
    // here is what comes through, not how much.
    const QString tree = dir.filePath(QStringLiteral("tree"));
    QVERIFY(makeSampleTree(tree) && makeDataTree(tree + QStringLiteral("/data"), 3, 300000));
    QCOMPARE(::link(QFile::encodeName(tree + QStringLiteral("/data/d0/f0.bin")).constData(),
                    QFile::encodeName(tree + QStringLiteral("/f0 hard link.bin")).constData()),
             0);
    const QString source = dir.filePath(QStringLiteral("source.wim"));
    QVERIFY(toSolid ? captureWith(m_lib, source, tree, 2)
                    : imagex({QStringLiteral("capture"), tree, source, QStringLiteral("source"),
                              QStringLiteral("--solid")}));
    const QString dest = dir.filePath(toSolid ? QStringLiteral("dest.esd") : QStringLiteral("dest.wim"));
    const auto exportInto = [&](bool solid) {
        WimHandle from(m_lib, openWim(m_lib, source, WIM_GENERIC_READ));
        WimHandle image(m_lib, from ? m_lib.WIMLoadImage(from.get(), 1) : nullptr);
        WimHandle to(m_lib,
                     m_lib.WIMCreateFile(dest, WIM_GENERIC_READ_WRITE, WIM_OPEN_ALWAYS, solid ? WIM_FLAG_SOLID : 0,
                                         solid ? WIM_COMPRESS_LZMS : WIM_COMPRESS_LZX, nullptr));
        return image && to && m_lib.WIMExportImage(image.get(), to.get(), WIM_EXPORT_ALLOW_DUPLICATES);
    };
    QVERIFY2(exportInto(toSolid), qPrintable(m_lib.LastErrorText()));

    // A second export with the other choice keeps the form the destination has.
    QVERIFY2(exportInto(!toSolid), qPrintable(m_lib.LastErrorText()));
    QString output;
    QVERIFY2(wimVerify(dest, &output), qPrintable(output));
    QCOMPARE(headerField(dest, QStringLiteral("Version")) == QLatin1String("3584"), toSolid);
    QCOMPARE(headerField(dest, QStringLiteral("Compression")),
             toSolid ? QStringLiteral("LZMS") : QStringLiteral("LZX"));
    QCOMPARE(testarchives::wimInfo(dest).imageCount, 2);
    {
        WimHandle wim(m_lib, openWim(m_lib, dest, WIM_GENERIC_READ));
        WIM_INFO info{};
        QVERIFY(wim && m_lib.WIMGetAttributes(wim.get(), &info, sizeof info));
        QCOMPARE(info.CompressionType, toSolid ? WIM_COMPRESS_LZMS : WIM_COMPRESS_LZX);
    }
    for (uint32_t index : {1u, 2u}) {
        const QString target = dir.filePath(QStringLiteral("applied%1").arg(index));
        QVERIFY2(applyWith(m_lib, dest, index, target), qPrintable(m_lib.LastErrorText()));
        QCOMPARE(treeOf(target), treeOf(tree));
    }
}

void TestWimlibMedia::splitSetOpensListsAndApplies_data()
{
    QTest::addColumn<bool>("byUs");
    QTest::newRow("split by us") << true;
    QTest::newRow("split by wimlib-imagex") << false;
}

void TestWimlibMedia::splitSetOpensListsAndApplies()
{
    QFETCH(bool, byUs);
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("install.swm"));
    if (byUs) {
        WimHandle wim(m_lib, openWim(m_lib, m_ours, WIM_GENERIC_READ));
        ScopedRecording recording(m_lib);
        QVERIFY(wim && recording.ok());
        QVERIFY2(m_lib.WIMSplitFile(wim.get(), first, 1 << 20, 0), qPrintable(m_lib.LastErrorText()));
        const QList<int> progress = recording.recorder.progress();
        QVERIFY(progress.size() > 3);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        QCOMPARE(progress.last(), 100);
    } else {
        QVERIFY(imagex({QStringLiteral("split"), m_ours, first, QStringLiteral("1")}));
    }
    const QStringList parts = leftovers(dir.path());
    QVERIFY2(parts.size() >= 3 && parts.first() == QLatin1String("install.swm")
                 && parts.contains(QStringLiteral("install2.swm")),
             qPrintable(parts.join(u' ')));
    QString output;
    QVERIFY2(wimVerify(first, &output)
                 || imagex({QStringLiteral("verify"), first, QStringLiteral("--ref=%1/install*.swm").arg(dir.path())}),
             qPrintable(output));

    WimHandle wim(m_lib, openWim(m_lib, first, WIM_GENERIC_READ));
    QVERIFY2(wim, qPrintable(m_lib.LastErrorText()));
    WIM_INFO info{};
    QVERIFY(m_lib.WIMGetAttributes(wim.get(), &info, sizeof info));
    QCOMPARE(info.PartNumber, uint16_t(1));
    QCOMPARE(info.TotalParts, uint16_t(parts.size()));
    QCOMPARE(info.ImageCount, 2u);
    QCOMPARE(imageName(m_lib, wim.get(), 2), QStringLiteral("image 2"));
    const QString target = dir.filePath(QStringLiteral("applied"));
    QVERIFY2(applyWith(m_lib, first, 2, target), qPrintable(m_lib.LastErrorText()));
    QCOMPARE(treeOf(target), treeOf(m_tree));
    // Read-only: a write access open is refused, and so is a change.
    QVERIFY(!openWim(m_lib, first, WIM_GENERIC_READ_WRITE));
    QVERIFY(!m_lib.WIMDeleteImage(wim.get(), 1));
}

void TestWimlibMedia::brokenSplitSetNamesThePart_data()
{
    QTest::addColumn<QString>("breakage");
    QTest::addColumn<QString>("opened");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("named");
    QTest::newRow("part 2 missing") << "missing"
                                    << "source.swm" << int(Kind::NotFound) << "source2.swm";
    QTest::newRow("part 3 of another set") << "foreign"
                                           << "source.swm" << int(Kind::Other) << "source3.swm";
    QTest::newRow("not the first part") << ""
                                        << "source2.swm" << int(Kind::Other) << "first part";
}

void TestWimlibMedia::brokenSplitSetNamesThePart()
{
    QFETCH(QString, breakage);
    QFETCH(QString, opened);
    QFETCH(int, kind);
    QFETCH(QString, named);
    QTemporaryDir dir;
    QTemporaryDir other;
    QVERIFY(!makeSource(QStringLiteral("swm"), dir).isEmpty());
    if (breakage == QLatin1String("missing"))
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("source2.swm"))));
    if (breakage == QLatin1String("foreign")) {
        // The same files split again: a set of its own (another GUID).
        const QString copy = makeSource(QStringLiteral("check"), other);
        QVERIFY(imagex({QStringLiteral("split"), copy, other.filePath(QStringLiteral("o.swm")), QStringLiteral("1")}));
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("source3.swm"))));
        QVERIFY(QFile::copy(other.filePath(QStringLiteral("o3.swm")), dir.filePath(QStringLiteral("source3.swm"))));
    }
    QVERIFY(!openWim(m_lib, dir.filePath(opened), WIM_GENERIC_READ));
    const ImagingError error = m_lib.LastError();
    QCOMPARE(int(error.kind), kind);
    QVERIFY2(error.text.contains(named), qPrintable(error.text));
}

void TestWimlibMedia::splitRefusals_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("ontoItself");
    QTest::addColumn<int>("kind");
    QTest::newRow("solid ESD") << "esd" << false << int(Kind::Unsupported);
    QTest::newRow("a split set") << "swm" << false << int(Kind::Unsupported);
    QTest::newRow("first part is the archive") << "ours" << true << int(Kind::WouldOverwriteArchive);
}

void TestWimlibMedia::splitRefusals()
{
    QFETCH(QString, source);
    QFETCH(bool, ontoItself);
    QFETCH(int, kind);
    QTemporaryDir dir;
    const QString wimPath = makeSource(source, dir);
    QVERIFY(!wimPath.isEmpty());
    const QStringList before = leftovers(dir.path());
    const QByteArray bytes = fileBytes(wimPath);
    WimHandle wim(m_lib, openWim(m_lib, wimPath, WIM_GENERIC_READ));
    QVERIFY(wim);
    const QString first = ontoItself ? wimPath : dir.filePath(QStringLiteral("out.swm"));
    QVERIFY(!m_lib.WIMSplitFile(wim.get(), first, 1 << 20, 0));
    QCOMPARE(int(m_lib.LastError().kind), kind);
    QCOMPARE(leftovers(dir.path()), before);
    QVERIFY(fileBytes(wimPath) == bytes);
}

void TestWimlibMedia::splitAbortLeavesNoPart()
{
    QTemporaryDir dir;
    // A file that a part would replace stays as it was.
    const QString existing = dir.filePath(QStringLiteral("p2.swm"));
    QFile file(existing);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old") == 3);
    file.close();
    WimHandle wim(m_lib, openWim(m_lib, m_ours, WIM_GENERIC_READ));
    ScopedRecording recording(m_lib);
    recording.recorder.abortAtPercent = 60;
    QVERIFY(!m_lib.WIMSplitFile(wim.get(), dir.filePath(QStringLiteral("p.swm")), 1 << 20, 0));
    QCOMPARE(int(m_lib.LastError().kind), int(Kind::Aborted));
    QVERIFY(recording.recorder.progress().last() >= 60);
    QCOMPARE(leftovers(dir.path()), QStringList{QStringLiteral("p2.swm")});
    QCOMPARE(fileBytes(existing), QByteArray("old"));
}

void TestWimlibMedia::verify_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<bool>("integrity");
    QTest::newRow("whole, two images by us") << "ours" << false << false;
    QTest::newRow("whole, integrity table") << "check" << false << true;
    QTest::newRow("whole ESD") << "esd" << false << false;
    QTest::newRow("whole split set") << "swm" << false << false;
    QTest::newRow("damaged, two images by us") << "ours" << true << false;
    QTest::newRow("damaged, integrity table") << "check" << true << true;
}

void TestWimlibMedia::verify()
{
    QFETCH(QString, kind);
    QFETCH(bool, damaged);
    QFETCH(bool, integrity);
    QTemporaryDir dir;
    const QString wimPath = makeSource(kind, dir);
    QVERIFY(!wimPath.isEmpty());
    if (damaged) {
        QVERIFY(damageStoredCopy(wimPath, m_victim));
        QVERIFY(!wimVerify(wimPath));
    }
    WimHandle wim(m_lib, openWim(m_lib, wimPath, WIM_GENERIC_READ));
    ScopedRecording recording(m_lib);
    ImagingVerifyResult result;
    QVERIFY2(m_lib.WIMVerifyFile(wim.get(), &result), qPrintable(m_lib.LastErrorText()));
    QCOMPARE(result.whole, !damaged);
    QCOMPARE(result.integrityChecked, integrity);
    QList<ImagingDamagedFile> expected;
    for (uint32_t image = 1; damaged && image <= (kind == QLatin1String("ours") ? 2u : 1u); ++image)
        expected << ImagingDamagedFile{image, QStringLiteral("/data/victim hard link.bin")}
                 << ImagingDamagedFile{image, QStringLiteral("/victim.bin")};
    QCOMPARE(result.damaged, expected);
    // A damaged integrity table is damage no file accounts for.
    QCOMPARE(result.otherDamage.size(), damaged && integrity ? 1 : 0);
    QCOMPARE(recording.recorder.progress().last(), 100);
    for (const QString &scratch : {QDir::tempPath(), QStringLiteral("/dev/shm")})
        QVERIFY(QDir(scratch).entryList({QStringLiteral(".pellwick-verify-*")}, QDir::Dirs | QDir::Hidden).isEmpty());
}

void TestWimlibMedia::verifyAbort()
{
    WimHandle wim(m_lib, openWim(m_lib, m_ours, WIM_GENERIC_READ));
    ScopedRecording recording(m_lib);
    recording.recorder.abortAfterProgress = true;
    ImagingVerifyResult result;
    QVERIFY(!m_lib.WIMVerifyFile(wim.get(), &result));
    QCOMPARE(int(m_lib.LastError().kind), int(Kind::Aborted));
}

void TestWimlibMedia::optimizeShrinksAfterADelete()
{
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("x.wim"));
    const QString more = dir.filePath(QStringLiteral("more"));
    QVERIFY(makeDataTree(more, 4, 2 << 20));
    QVERIFY(QFile::copy(m_ours, wimPath));
    QVERIFY(::chmod(QFile::encodeName(wimPath).constData(), 0640) == 0);
    QVERIFY(imagex({QStringLiteral("append"), more, wimPath, QStringLiteral("more")}));
    const QString guid = headerField(wimPath, QStringLiteral("GUID"));

    WimHandle wim(m_lib, openWim(m_lib, wimPath));
    QVERIFY(m_lib.WIMDeleteImage(wim.get(), 3));
    const qint64 before = QFileInfo(wimPath).size();
    QVERIFY2(m_lib.WIMOptimizeFile(wim.get()), qPrintable(m_lib.LastErrorText()));
    QVERIFY2(QFileInfo(wimPath).size() < before - (2 << 20), qPrintable(QString::number(QFileInfo(wimPath).size())));
    QVERIFY(wimVerify(wimPath));
    QCOMPARE(headerField(wimPath, QStringLiteral("GUID")), guid);
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(wimPath).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, 0640u);
    // The handle goes on with the rebuilt archive.
    QCOMPARE(imageCount(m_lib, wim.get()), 2u);
    QCOMPARE(imageName(m_lib, wim.get(), 2), QStringLiteral("image 2"));
    QVERIFY(leftovers(dir.path()) == QStringList{QStringLiteral("x.wim")});
}

void TestWimlibMedia::optimizeAbortOrFullDiskLeavesTheArchive_data()
{
    QTest::addColumn<bool>("fullDisk");
    QTest::newRow("abort") << false;
    QTest::newRow("full disk") << true;
}

void TestWimlibMedia::optimizeAbortOrFullDiskLeavesTheArchive()
{
    QFETCH(bool, fullDisk);
    QTemporaryDir dir;
    QString folder = dir.path();
    if (fullDisk) {
        // Room for the archive and 1 MiB: the rebuild needs about as much again.
        folder = dir.filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(folder));
        const QByteArray options = "size=" + QByteArray::number(QFileInfo(m_ours).size() + (1 << 20));
        if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) != 0)
            QSKIP("mounting a small tmpfs needs root (CAP_SYS_ADMIN)");
    }
    const auto unmount = qScopeGuard([&] {
        if (fullDisk)
            ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
    });
    const QString wimPath = folder + QStringLiteral("/x.wim");
    QVERIFY(QFile::copy(m_ours, wimPath));
    const QByteArray bytes = fileBytes(wimPath);
    {
        WimHandle wim(m_lib, openWim(m_lib, wimPath));
        ScopedRecording recording(m_lib);
        recording.recorder.abortAtPercent = fullDisk ? 101 : 30;
        QVERIFY(!m_lib.WIMOptimizeFile(wim.get()));
        QCOMPARE(int(m_lib.LastError().kind), int(fullDisk ? Kind::NoSpace : Kind::Aborted));
        QCOMPARE(imageCount(m_lib, wim.get()), 2u);
    }
    QVERIFY(fileBytes(wimPath) == bytes);
    QCOMPARE(leftovers(folder), QStringList{QStringLiteral("x.wim")});
}

void TestWimlibMedia::optimizeKilledLeavesTheArchive()
{
    QTemporaryDir dir;
    const QString wimPath = dir.filePath(QStringLiteral("x.wim"));
    QVERIFY(QFile::copy(m_ours, wimPath));
    const QByteArray bytes = fileBytes(wimPath);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        // Killed halfway through writing the new file.
        WimlibBackend lib;
        const HWIM wim = openWim(lib, wimPath);
        lib.WIMRegisterMessageCallback(
            nullptr,
            [](uint32_t id, uintptr_t wParam, intptr_t, void *) -> uint32_t {
                if (id == WIM_MSG_PROGRESS && wParam >= 50)
                    ::raise(SIGKILL);
                return WIM_MSG_SUCCESS;
            },
            nullptr);
        lib.WIMOptimizeFile(wim);
        ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    QVERIFY(fileBytes(wimPath) == bytes);
    QVERIFY(wimVerify(wimPath));
}

void TestWimlibMedia::optimizeRefusals_data()
{
    QTest::addColumn<bool>("split");
    QTest::newRow("read-only handle") << false;
    QTest::newRow("split set") << true;
}

void TestWimlibMedia::optimizeRefusals()
{
    QFETCH(bool, split);
    QTemporaryDir dir;
    const QString wimPath = split ? makeSource(QStringLiteral("swm"), dir) : m_ours;
    const QByteArray bytes = fileBytes(wimPath);
    WimHandle wim(m_lib, openWim(m_lib, wimPath, WIM_GENERIC_READ));
    QVERIFY(wim);
    QVERIFY(!m_lib.WIMOptimizeFile(wim.get()));
    QVERIFY(fileBytes(wimPath) == bytes);
}

void TestWimlibMedia::oversizedFilesAreTheLargerParts_data()
{
    QTest::addColumn<int>("partKiB");
    QTest::addColumn<bool>("some");  // whether any part is larger than asked
    QTest::newRow("parts larger than every file") << 1024 << false;
    QTest::newRow("parts smaller than the noise files") << 200 << true;
    QTest::newRow("parts smaller than the metadata") << 4 << true;
}

// The parts named before a split are exactly those the split makes larger.
void TestWimlibMedia::oversizedFilesAreTheLargerParts()
{
    QFETCH(int, partKiB);
    QFETCH(bool, some);
    const uint64_t partSize = uint64_t(partKiB) * 1024;
    WimHandle wim(m_lib, openWim(m_lib, m_ours, WIM_GENERIC_READ));
    QList<ImagingOversizedFile> files;
    QVERIFY2(m_lib.WIMSplitOversizedFiles(wim.get(), partSize, &files), qPrintable(m_lib.LastErrorText()));
    QCOMPARE(!files.isEmpty(), some);
    QSet<uint32_t> larger;
    for (const ImagingOversizedFile &file : files) {
        QVERIFY(file.bytes > partSize);
        QVERIFY2(file.path.isEmpty() == (file.image == 0), qPrintable(file.path));
        if (!file.path.isEmpty())
            QVERIFY2(QFileInfo(m_tree + file.path).size() > qint64(partSize) - 1024, qPrintable(file.path));
        larger.insert(file.part);
    }
    QCOMPARE(larger.size(), files.size());

    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("p.swm"));
    QVERIFY(m_lib.WIMSplitFile(wim.get(), first, partSize, 0));
    const uint32_t parts = uint32_t(QDir(dir.path()).entryList({QStringLiteral("*.swm")}, QDir::Files).size());
    for (uint32_t part = 1; part <= parts; ++part) {
        // Each part holds a header and tables beside its data.
        const qint64 size = QFileInfo(wimsplit::partPath(first, part)).size();
        QVERIFY2((size > qint64(partSize) + 4096) == larger.contains(part),
                 qPrintable(QStringLiteral("part %1 of %2: %3 bytes").arg(part).arg(parts).arg(size)));
    }
}

void TestWimlibMedia::writesIntoAFolderThatRefusesSayWhy_data()
{
    QTest::addColumn<bool>("optimize");  // else a split into the folder
    QTest::addColumn<bool>("readOnly");  // a read-only file system; else a folder the user may not write in
    QTest::addColumn<int>("kind");
    QTest::newRow("split onto a read-only file system") << false << true << int(Kind::ReadOnlyFileSystem);
    QTest::newRow("split without permission") << false << false << int(Kind::AccessDenied);
    QTest::newRow("optimize on a read-only file system") << true << true << int(Kind::ReadOnlyFileSystem);
    QTest::newRow("optimize without permission") << true << false << int(Kind::AccessDenied);
}

void TestWimlibMedia::writesIntoAFolderThatRefusesSayWhy()
{
    QFETCH(bool, optimize);
    QFETCH(bool, readOnly);
    QFETCH(int, kind);
    if (::geteuid() != 0)
        QSKIP("needs root, to mount a read-only tmpfs and to write as another user");
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                  | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                                  | QFileDevice::ReadOther | QFileDevice::ExeOther));
    const QString folder = dir.filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkdir(folder));
    auto disk = ScopedMount::tmpfs(folder, "size=16m,mode=0755");
    if (!disk.mounted())
        QSKIP("cannot mount a tmpfs here (no CAP_SYS_ADMIN in this container?)");
    const QString wimPath = folder + QStringLiteral("/a.wim");
    QVERIFY(QFile::copy(m_ours, wimPath));
    // Anyone may change the archive, but only root may write in its folder.
    QVERIFY(QFile::setPermissions(wimPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther
                                               | QFileDevice::WriteOther));
    const QByteArray bytes = fileBytes(wimPath);
    WimHandle wim(m_lib, openWim(m_lib, wimPath, optimize ? WIM_GENERIC_READ_WRITE : WIM_GENERIC_READ));
    QVERIFY(wim);
    if (readOnly)
        QCOMPARE(::mount(nullptr, QFile::encodeName(folder).constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    else
        QCOMPARE(::seteuid(65534), 0);  // nobody
    const bool done = optimize ? m_lib.WIMOptimizeFile(wim.get())
                               : m_lib.WIMSplitFile(wim.get(), folder + QStringLiteral("/a.swm"), 1 << 20, 0);
    const ImagingError error = m_lib.LastError();
    QCOMPARE(::seteuid(0), 0);
    QVERIFY(!done);
    QVERIFY2(int(error.kind) == kind, qPrintable(error.text));
    QVERIFY2(error.text.contains(folder), qPrintable(error.text));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("a.wim")});
    QVERIFY(fileBytes(wimPath) == bytes);
}

QTEST_GUILESS_MAIN(TestWimlibMedia)
#include "tst_wimlib_media.moc"
