// Browsing an image and extracting chosen paths of it, on archives made by
// wimlib-imagex and compared with what wimlib-imagex dir and extract give.
#include "imaging/staged_extraction.h"
#include "imaging/unwritable_names.h"
#include "imaging/wimlib_backend.h"
#include "imaging_test_support.h"
#include "message_recorder.h"
#include "test_archives.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <thread>

#include <sys/stat.h>

using namespace imagingtest;
using testarchives::runTool;

namespace {

const QString kImagex = QStringLiteral("wimlib-imagex");

bool imagex(const QStringList &args)
{
    return runTool(kImagex, args).exitCode == 0;
}

// Every entry of a folder, hidden ones too.
QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

using Tree = QMap<QString, QByteArray>;

Tree tree(std::initializer_list<std::pair<const char *, const char *>> entries)
{
    Tree out;
    for (const auto &[path, value] : entries)
        out.insert(QString::fromUtf8(path), QByteArray(value));
    return out;
}

ino_t inodeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// Writes a tree where a value "-> target" makes a symbolic link.
bool writeWithLinks(const QString &root, const QMap<QString, QByteArray> &entries)
{
    bool ok = QDir().mkpath(root);
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        const QString path = root + QLatin1Char('/') + it.key();
        ok &= QDir().mkpath(QFileInfo(path).absolutePath());
        if (it.key().endsWith(QLatin1Char('/')))
            ok &= QDir().mkpath(path);
        else if (it.value().startsWith("-> "))
            ok &= QFile::link(QString::fromUtf8(it.value().mid(3)), path);
        else
            testarchives::writeTree(root, {{it.key(), it.value()}});
    }
    return ok;
}

// Renames entries inside the metadata of image 1 of an uncompressed archive,
// each old name to a new one of the same length, and mends the metadata's
// hash: names no capture can make ("..", a "/" inside, two entries of one name).
bool renameInMetadata(const QString &wim, const QList<QPair<QString, QString>> &renames)
{
    const QString info = runTool(kImagex, {QStringLiteral("info"), wim, QStringLiteral("--blobs")}).output;
    QByteArray oldHash;
    qsizetype offset = -1, size = 0;
    for (const QString &block : info.split(QStringLiteral("\n\n"))) {
        if (!block.contains(QLatin1String("WIM_RESHDR_FLAG_METADATA")))
            continue;
        const auto field = [&block](const char *name) {
            const QRegularExpression value(QLatin1String(name) + QStringLiteral("\\s+= (0x)?([0-9a-f]+)"));
            return value.match(block).captured(2);
        };
        oldHash = QByteArray::fromHex(field("Hash").toLatin1());
        offset = field("Offset in WIM").toLongLong();
        size = field("Compressed size").toLongLong();
    }
    QFile file(wim);
    if (oldHash.size() != 20 || offset <= 0 || !file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    QByteArray metadata = bytes.mid(offset, size);
    for (const auto &[from, to] : renames) {
        const QByteArray a(reinterpret_cast<const char *>(from.utf16()), from.size() * 2);
        const QByteArray b(reinterpret_cast<const char *>(to.utf16()), to.size() * 2);
        const qsizetype at = metadata.indexOf(a);
        if (at < 0 || a.size() != b.size())
            return false;
        metadata.replace(at, b.size(), b);
    }
    bytes.replace(offset, size, metadata);
    if (bytes.count(oldHash) != 1)
        return false;
    bytes.replace(oldHash, QCryptographicHash::hash(metadata, QCryptographicHash::Sha1));
    return file.seek(0) && file.write(bytes) == bytes.size();
}

}  // namespace

using namespace Qt::StringLiterals;

class TestWimlibBrowse : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listingEqualsWimlibImagexDir_data();
    void listingEqualsWimlibImagexDir();
    void entriesTellTypeSizeLinkTimeAndHardLinks();
    void visitGivesTheListedEntries_data();
    void visitGivesTheListedEntries();
    void linkTargetsAreWhatExtractionWrites_data();
    void linkTargetsAreWhatExtractionWrites();
    void extractionEqualsWimlibImagexExtract_data();
    void extractionEqualsWimlibImagexExtract();
    void missingPathFailsAndWritesNothing();
    void abortDuringALargeFileLeavesTheDestinationAsItWas();
    void hostileNamesAndLinksStayInside();
    void moveIntoPlace_data();
    void moveIntoPlace();
    void browsingRunsBesideALongCallOnTheArchive();
    void listingFollowsTheArchiveWhenItChanges();
    void namesThatCannotBeWrittenAreLogged_data();
    void namesThatCannotBeWrittenAreLogged();
    void aNameWithASeparatorIsExtracted_data();
    void aNameWithASeparatorIsExtracted();
    void aLongNameIsExtractedUnderAShorterOne();
    void shortenedNamesFit_data();
    void shortenedNamesFit();

private:
    HWIM loadImage(const QString &wim);
    QString freshFolder();
    // An uncompressed archive in `dir` whose folder /d holds "a/b", ".", "..",
    // "back\\slash", a file and a folder (holding "inner.txt") whose names are
    // longer than NAME_MAX and begin alike; "" when it could not be made.
    QString namesArchive(const QTemporaryDir &dir);

    WimlibBackend m_lib;
    QTemporaryDir m_dir;
    QString m_wim;
    QString m_solidWim;
    std::vector<WimHandle> m_handles;  // closed when the test object goes
    int m_folders = 0;
};

HWIM TestWimlibBrowse::loadImage(const QString &wim)
{
    HWIM archive = openWim(m_lib, wim, WIM_GENERIC_READ);
    HWIM image = archive ? m_lib.WIMLoadImage(archive, 1) : nullptr;
    m_handles.emplace_back(m_lib, archive);
    m_handles.emplace_back(m_lib, image);
    return image;
}

QString TestWimlibBrowse::freshFolder()
{
    const QString path = m_dir.filePath(QStringLiteral("out%1").arg(++m_folders));
    QDir().mkpath(path);
    return path;
}

void TestWimlibBrowse::initTestCase()
{
    if (!testarchives::haveTool(kImagex))
        QSKIP("wimlib-imagex (package wimtools) is needed to make the archives and to compare with");
    QVERIFY(m_dir.isValid());
    const QString tree = m_dir.filePath(QStringLiteral("tree"));
    QVERIFY(makeSampleTree(tree));
    QVERIFY(QFile::link(QStringLiteral("/etc/hostname"), tree + QStringLiteral("/absolute link")));
    QVERIFY(QFile::link(QStringLiteral("b"), tree + QStringLiteral("/a/link to folder")));
    // Stored as "\??\C:\readme.txt" (fixed up to the capture root), and one long enough to be compressed.
    QVERIFY(QFile::link(tree + QStringLiteral("/readme.txt"), tree + QStringLiteral("/a/inside link")));
    QVERIFY(QFile::link(QStringLiteral("../long/").repeated(40) + QStringLiteral("end"),
                        tree + QStringLiteral("/long link")));
    m_wim = m_dir.filePath(QStringLiteral("peer.wim"));
    QVERIFY(imagex({QStringLiteral("capture"), tree, m_wim, QStringLiteral("sample")}));
    m_solidWim = m_dir.filePath(QStringLiteral("solid.wim"));
    QVERIFY(imagex({QStringLiteral("capture"), tree, m_solidWim, QStringLiteral("--solid")}));
}

void TestWimlibBrowse::listingEqualsWimlibImagexDir_data()
{
    QTest::addColumn<QString>("path");
    for (const char *path : {"/", "", "/a", "/a/b/", "/中文目录", "/empty folder", "/readme.txt", "/a/readme symlink"})
        QTest::newRow(path) << QString::fromUtf8(path);
}

void TestWimlibBrowse::listingEqualsWimlibImagexDir()
{
    QFETCH(QString, path);
    HWIM image = loadImage(m_wim);
    QVERIFY(image);
    WimDirEntry self;
    QList<WimDirEntry> children;
    QVERIFY2(m_lib.WIMListImageFolder(image, path, &self, &children), qPrintable(m_lib.LastErrorText()));

    // The peer lists the whole subtree: its first line is the path itself, the
    // direct children are the lines one level below it.
    const auto peer = runTool(kImagex, {QStringLiteral("dir"), m_wim, QStringLiteral("1"),
                                        QStringLiteral("--path=") + (path.isEmpty() ? QStringLiteral("/") : path)});
    QCOMPARE(peer.exitCode, 0);
    const QStringList lines = peer.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(self.path, lines.first());
    const QString prefix = self.path == QLatin1String("/") ? self.path : self.path + QLatin1Char('/');
    QStringList expected;
    for (const QString &line : lines.mid(1)) {
        if (!line.mid(prefix.size()).contains(QLatin1Char('/')))
            expected << line;
    }
    QStringList ours;
    for (const WimDirEntry &e : std::as_const(children)) {
        ours << e.path;
        QCOMPARE(e.path, prefix + e.name);
    }
    QCOMPARE(ours, expected);

    // And the command-line driver prints what the peer prints.
    const auto dir = runTool(QStringLiteral(PELLWICK_WIM_TOOL), {QStringLiteral("dir"), m_wim, QStringLiteral("1"),
                                                                 path.isEmpty() ? QStringLiteral("/") : path});
    QCOMPARE(dir.exitCode, 0);
    QCOMPARE(dir.output, peer.output);
}

void TestWimlibBrowse::entriesTellTypeSizeLinkTimeAndHardLinks()
{
    HWIM image = loadImage(m_wim);
    QVERIFY(image);
    const QString tree = m_dir.filePath(QStringLiteral("tree"));
    QMap<QString, WimDirEntry> byPath;
    for (const QString &folder : {QStringLiteral("/"), QStringLiteral("/a")}) {
        QList<WimDirEntry> children;
        QVERIFY(m_lib.WIMListImageFolder(image, folder, nullptr, &children));
        for (const WimDirEntry &e : std::as_const(children))
            byPath.insert(e.path, e);
    }
    const WimDirEntry readme = byPath.value(QStringLiteral("/readme.txt"));
    QCOMPARE(readme.type, WimDirEntry::Type::File);
    QCOMPARE(readme.size, uint64_t(QFileInfo(tree + QStringLiteral("/readme.txt")).size()));
    QCOMPARE(readme.modified.toSecsSinceEpoch(),
             QFileInfo(tree + QStringLiteral("/readme.txt")).lastModified().toSecsSinceEpoch());
    QVERIFY(readme.hardLinkGroup != 0);
    QCOMPARE(byPath.value(QStringLiteral("/a/readme hard link.txt")).hardLinkGroup, readme.hardLinkGroup);
    QCOMPARE(byPath.value(QStringLiteral("/emoji 😀.txt")).hardLinkGroup, uint64_t(0));

    QCOMPARE(byPath.value(QStringLiteral("/a")).type, WimDirEntry::Type::Folder);
    QVERIFY(byPath.value(QStringLiteral("/a")).isDirectory());
    QCOMPARE(byPath.value(QStringLiteral("/a/readme symlink")).type, WimDirEntry::Type::Link);
    QCOMPARE(byPath.value(QStringLiteral("/a/readme symlink")).size, uint64_t(0));
    QCOMPARE(byPath.value(QStringLiteral("/a/inside link")).linkTarget, QStringLiteral("/readme.txt"));

    WimDirEntry self;
    QVERIFY(m_lib.WIMListImageFolder(image, QStringLiteral("/a/readme symlink"), &self, nullptr));
    QCOMPARE(self.linkTarget, QStringLiteral("../readme.txt"));
    QVERIFY(!m_lib.WIMListImageFolder(image, QStringLiteral("/a/nothing here"), &self, nullptr));
    QCOMPARE(m_lib.LastError().kind, ImagingError::Kind::NotFound);
}

void TestWimlibBrowse::visitGivesTheListedEntries_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("stopAfter");  // entries; -1: never
    QTest::addColumn<int>("kind");       // of the failure; -1: none
    QTest::newRow("the whole image") << "/" << -1 << -1;
    QTest::newRow("a folder") << "/a" << -1 << -1;
    QTest::newRow("a file") << "/readme.txt" << -1 << -1;
    QTest::newRow("stopped") << "/" << 3 << int(ImagingError::Kind::Aborted);
    QTest::newRow("missing") << "/a/nothing here" << -1 << int(ImagingError::Kind::NotFound);
}

// A walk shows each entry below a path as listing its folder gives it, in
// the order wimlib-imagex dir prints them.
void TestWimlibBrowse::visitGivesTheListedEntries()
{
    QFETCH(QString, path);
    QFETCH(int, stopAfter);
    QFETCH(int, kind);
    HWIM image = loadImage(m_wim);
    QVERIFY(image);
    QList<WimDirEntry> visited;
    const bool ok = m_lib.WIMVisitImageTree(image, path, [&](const WimDirEntryView &view) {
        visited << view.toEntry();
        return visited.size() != stopAfter;
    });
    QCOMPARE(ok, kind < 0);
    if (!ok) {
        QCOMPARE(int(m_lib.LastError().kind), kind);
        QCOMPARE(visited.size(), qMax(stopAfter, 0));
        return;
    }
    // Depth first in the image's own order, through the listing call.
    QList<WimDirEntry> listed;
    WimDirEntry self;
    QVERIFY(m_lib.WIMListImageFolder(image, path, &self, nullptr));
    const std::function<bool(const WimDirEntry &)> walk = [&](const WimDirEntry &e) {
        listed << e;
        QList<WimDirEntry> children;
        if (!m_lib.WIMListImageFolder(image, e.path, nullptr, &children))
            return false;
        for (const WimDirEntry &child : std::as_const(children)) {
            if (!walk(child))
                return false;
        }
        return true;
    };
    QVERIFY(walk(self));
    QCOMPARE(visited.size(), listed.size());
    for (qsizetype i = 0; i < listed.size(); ++i) {
        const WimDirEntry &v = visited[i], &l = listed[i];
        QCOMPARE(v.path, l.path);
        QCOMPARE(v.name, l.name);
        QCOMPARE(v.type, l.type);
        QCOMPARE(v.size, l.size);
        QCOMPARE(v.attributes, l.attributes);
        QCOMPARE(v.modified, l.modified);
        QCOMPARE(v.hardLinkGroup, l.hardLinkGroup);
    }
    const auto peer =
        runTool(kImagex, {QStringLiteral("dir"), m_wim, QStringLiteral("1"), QStringLiteral("--path=") + path});
    QStringList paths;
    for (const WimDirEntry &e : std::as_const(visited))
        paths << e.path;
    QCOMPARE(paths, peer.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
}

void TestWimlibBrowse::linkTargetsAreWhatExtractionWrites_data()
{
    QTest::addColumn<bool>("solid");
    QTest::newRow("read from the archive") << false;
    QTest::newRow("solid: extracted") << true;
}

void TestWimlibBrowse::linkTargetsAreWhatExtractionWrites()
{
    QFETCH(bool, solid);
    const QString wim = solid ? m_solidWim : m_wim;
    HWIM image = loadImage(wim);
    QVERIFY(image);
    int links = 0;
    for (const QString &folder : {QStringLiteral("/"), QStringLiteral("/a")}) {
        QList<WimDirEntry> children;
        QVERIFY(m_lib.WIMListImageFolder(image, folder, nullptr, &children));
        for (const WimDirEntry &e : std::as_const(children)) {
            if (e.type != WimDirEntry::Type::Link)
                continue;
            const QString out = freshFolder();
            QVERIFY(imagex(
                {QStringLiteral("extract"), wim, QStringLiteral("1"), e.path, QStringLiteral("--dest-dir=") + out}));
            QCOMPARE(e.linkTarget, QFile::symLinkTarget(out + QLatin1Char('/') + e.name).isEmpty()
                                       ? QString()
                                       : QString::fromUtf8(treeOf(out).value(e.name).mid(3)));
            QVERIFY(!e.linkTarget.isEmpty());
            ++links;
        }
    }
    QCOMPARE(links, 5);
}

void TestWimlibBrowse::extractionEqualsWimlibImagexExtract_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::newRow("a file") << QStringList{QStringLiteral("/a/b/c/deep.dat")};
    QTest::newRow("a folder") << QStringList{QStringLiteral("/a")};
    QTest::newRow("a symbolic link") << QStringList{QStringLiteral("/a/readme symlink")};
    QTest::newRow("several, hard links kept")
        << QStringList{QStringLiteral("/readme.txt"), QStringLiteral("/a/readme hard link.txt"),
                       QStringLiteral("/absolute link"), QStringLiteral("/中文目录")};
    QTest::newRow("the root") << QStringList{QStringLiteral("/")};
}

void TestWimlibBrowse::extractionEqualsWimlibImagexExtract()
{
    QFETCH(QStringList, paths);
    HWIM image = loadImage(m_wim);
    QVERIFY(image);
    const QString ours = freshFolder();
    const QString peer = freshFolder();
    QVERIFY2(m_lib.WIMExtractImagePaths(image, paths, ours), qPrintable(m_lib.LastErrorText()));
    QVERIFY(imagex(QStringList{QStringLiteral("extract"), m_wim, QStringLiteral("1")} + paths
                   + QStringList{QStringLiteral("--dest-dir=") + peer}));
    QCOMPARE(treeOf(ours), treeOf(peer));
    QVERIFY(!treeOf(ours).isEmpty());
    QCOMPARE(entriesOf(ours), entriesOf(peer));  // no hidden folder left behind
    if (paths.contains(QStringLiteral("/readme.txt")))
        QCOMPARE(inodeOf(ours + QStringLiteral("/readme.txt")),
                 inodeOf(ours + QStringLiteral("/readme hard link.txt")));
}

void TestWimlibBrowse::missingPathFailsAndWritesNothing()
{
    HWIM image = loadImage(m_wim);
    QVERIFY(image);
    const QString out = freshFolder();
    QVERIFY(!m_lib.WIMExtractImagePaths(image, {QStringLiteral("/readme.txt"), QStringLiteral("/no such file")}, out));
    QCOMPARE(m_lib.LastError().kind, ImagingError::Kind::NotFound);
    QVERIFY(m_lib.LastErrorText().contains(QStringLiteral("/no such file")));
    QCOMPARE(entriesOf(out), QStringList());

    const QString missingDestination = m_dir.filePath(QStringLiteral("not made"));
    const auto tool = runTool(QStringLiteral(PELLWICK_WIM_TOOL),
                              {QStringLiteral("extract"), m_wim, QStringLiteral("1"), missingDestination,
                               QStringLiteral("/readme.txt"), QStringLiteral("/no such file")});
    QVERIFY(tool.exitCode > 0);
    QVERIFY2(tool.output.contains(QStringLiteral("/no such file is not in image 1")), qPrintable(tool.output));
    QVERIFY(!QFileInfo::exists(missingDestination));
}

void TestWimlibBrowse::abortDuringALargeFileLeavesTheDestinationAsItWas()
{
    const QString source = m_dir.filePath(QStringLiteral("large"));
    const QByteArray big = noise(48 << 20, 7);
    testarchives::writeTree(source, {{QStringLiteral("big.bin"), big}, {QStringLiteral("small.txt"), "small"}});
    const QString wim = m_dir.filePath(QStringLiteral("large.wim"));
    QVERIFY(imagex({QStringLiteral("capture"), source, wim, QStringLiteral("--compress=none")}));
    HWIM image = loadImage(wim);
    QVERIFY(image);
    const QString out = freshFolder();
    testarchives::writeTree(out, {{QStringLiteral("big.bin"), "what was here before"}});

    // Stop half-way through the file, after looking at what is being written
    // (wimlib sets a file's full size before it writes its data).
    MessageRecorder recorder;
    int partials = 0;
    recorder.duringProcess = [&] {
        const QList<int> progress = recorder.progress();
        if (recorder.abortAtProcess || progress.isEmpty() || progress.last() < 40)
            return;
        const QDir::Filters hidden = QDir::Dirs | QDir::Hidden;
        for (const QString &staging : QDir(out).entryList({QStringLiteral(".pellwick-extract-*")}, hidden)) {
            const QString staged = out + QLatin1Char('/') + staging + QStringLiteral("/big.bin");
            partials += QFileInfo::exists(staged) && fileBytes(staged) != big;
        }
        recorder.abortAtProcess = 1;
    };
    QVERIFY(m_lib.WIMRegisterMessageCallback(nullptr, MessageRecorder::callback, &recorder) != INVALID_CALLBACK_VALUE);
    const bool ok = m_lib.WIMExtractImagePaths(image, {QStringLiteral("/big.bin"), QStringLiteral("/small.txt")}, out);
    m_lib.WIMUnregisterMessageCallback(nullptr, MessageRecorder::callback);

    QVERIFY(!ok);
    QCOMPARE(m_lib.LastError().kind, ImagingError::Kind::Aborted);
    QCOMPARE(partials, 1);
    QVERIFY(recorder.progress().last() < 100);
    // The partial file went with its hidden folder; what was there stays.
    QCOMPARE(entriesOf(out), QStringList{QStringLiteral("big.bin")});
    QCOMPARE(fileBytes(out + QStringLiteral("/big.bin")), QByteArray("what was here before"));

    // Not aborted, the same call replaces the file whole.
    QVERIFY(m_lib.WIMExtractImagePaths(image, {QStringLiteral("/big.bin")}, out));
    QVERIFY(fileBytes(out + QStringLiteral("/big.bin")) == big);
}

void TestWimlibBrowse::hostileNamesAndLinksStayInside()
{
    // A folder "lnk" and a link "lnk" to a folder outside, then names that
    // climb out; the same rules as an apply keep all of it inside.
    const QString sandbox = m_dir.filePath(QStringLiteral("sandbox"));
    const QString outside = sandbox + QStringLiteral("/outside");
    QVERIFY(QDir().mkpath(outside));
    const QString source = m_dir.filePath(QStringLiteral("hostile"));
    QVERIFY(writeWithLinks(source, {{QStringLiteral("top/lnk"), "-> " + QFile::encodeName(outside)},
                                    {QStringLiteral("top/lnx/pwned"), "written through a link"},
                                    {QStringLiteral("top/zz"), "dot dot"},
                                    {QStringLiteral("top/qqqqqqqqqqqqqqqq"), "climbs out"},
                                    {QStringLiteral("top/sub/AAAA"), "slash inside"},
                                    {QStringLiteral("top/kept.txt"), "kept"}}));
    const QString wim = m_dir.filePath(QStringLiteral("hostile.wim"));
    QVERIFY(imagex({QStringLiteral("capture"), source, wim, QStringLiteral("--compress=none")}));
    QVERIFY(renameInMetadata(wim, {{QStringLiteral("lnx"), QStringLiteral("lnk")},
                                   {QStringLiteral("zz"), QStringLiteral("..")},
                                   {QStringLiteral("qqqqqqqqqqqqqqqq"), QStringLiteral("../../../outside")},
                                   {QStringLiteral("AAAA"), QStringLiteral("a/..")}}));
    HWIM image = loadImage(wim);
    QVERIFY(image);

    QList<WimDirEntry> children;
    QVERIFY(m_lib.WIMListImageFolder(image, QStringLiteral("/top"), nullptr, &children));
    QStringList names;
    for (const WimDirEntry &e : std::as_const(children))
        names << e.name;
    QVERIFY2(names.contains(QStringLiteral("../../../outside")), qPrintable(names.join(u'|')));

    const QString out = sandbox + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(out));
    QVERIFY2(m_lib.WIMExtractImagePaths(image, {QStringLiteral("/top"), QStringLiteral("/")}, out),
             qPrintable(m_lib.LastErrorText()));
    QCOMPARE(fileBytes(out + QStringLiteral("/top/kept.txt")), QByteArray("kept"));
    QCOMPARE(entriesOf(outside), QStringList());
    QCOMPARE(entriesOf(sandbox), (QStringList{QStringLiteral("out"), QStringLiteral("outside")}));
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("outside"))));
    // A name with "/" inside, asked for by its path as listed, lands inside under a safe name.
    const QString alone = sandbox + QStringLiteral("/alone");
    QVERIFY(QDir().mkpath(alone));
    QVERIFY2(m_lib.WIMExtractImagePaths(image, {QStringLiteral("/top/sub/a/..")}, alone),
             qPrintable(m_lib.LastErrorText()));
    QCOMPARE(entriesOf(alone), QStringList{QStringLiteral("a?.. (invalid filename #1)")});
    QCOMPARE(fileBytes(alone + QStringLiteral("/a?.. (invalid filename #1)")), QByteArray("slash inside"));
    QCOMPARE(entriesOf(outside), QStringList());
    QCOMPARE(entriesOf(sandbox),
             (QStringList{QStringLiteral("alone"), QStringLiteral("out"), QStringLiteral("outside")}));
}

void TestWimlibBrowse::moveIntoPlace_data()
{
    // Values "-> target" are links; "outside" is a folder beside the destination.
    QTest::addColumn<Tree>("existing");
    QTest::addColumn<Tree>("staged");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<Tree>("after");       // the destination afterwards (folders end in "/")
    QTest::addColumn<QString>("protect");  // a file never to replace
    QTest::newRow("new names") << tree({}) << tree({{"f", "new"}, {"d/g", "deep"}}) << true
                               << tree({{"f", "new"}, {"d/", ""}, {"d/g", "deep"}}) << QString();
    QTest::newRow("a file replaces a file")
        << tree({{"f", "old"}}) << tree({{"f", "new"}}) << true << tree({{"f", "new"}}) << QString();
    QTest::newRow("a file replaces a link, not its target")
        << tree({{"f", "-> ../outside/victim"}}) << tree({{"f", "new"}}) << true << tree({{"f", "new"}}) << QString();
    QTest::newRow("folders merge") << tree({{"d/keep", "kept"}, {"d/g", "old"}}) << tree({{"d/g", "new"}}) << true
                                   << tree({{"d/", ""}, {"d/keep", "kept"}, {"d/g", "new"}}) << QString();
    QTest::newRow("a folder onto a file: nothing moves")
        << tree({{"d", "file"}}) << tree({{"a", "first"}, {"d/g", "new"}}) << false << tree({{"d", "file"}})
        << QString();
    QTest::newRow("a file onto a folder: nothing moves")
        << tree({{"d/keep", "kept"}}) << tree({{"a", "first"}, {"d", "file"}}) << false
        << tree({{"d/", ""}, {"d/keep", "kept"}}) << QString();
    QTest::newRow("a folder onto a link to a folder: refused, never followed")
        << tree({{"d", "-> ../outside"}}) << tree({{"d/g", "new"}}) << false << tree({{"d", "-> ../outside"}})
        << QString();
    QTest::newRow("never the archive being read")
        << tree({{"a.wim", "archive"}}) << tree({{"a", "first"}, {"a.wim", "new"}}) << false
        << tree({{"a.wim", "archive"}}) << QStringLiteral("a.wim");
}

void TestWimlibBrowse::moveIntoPlace()
{
    QFETCH(Tree, existing);
    QFETCH(Tree, staged);
    QFETCH(bool, ok);
    QFETCH(Tree, after);
    QFETCH(QString, protect);
    const QString root = freshFolder();
    const QString destination = root + QStringLiteral("/dest");
    QVERIFY(QDir().mkpath(root + QStringLiteral("/outside")) && writeWithLinks(destination, existing));
    {
        StagedExtraction staging(destination);
        QVERIFY(!staging.folder().isEmpty());
        if (!protect.isEmpty())
            staging.protect(destination + QLatin1Char('/') + protect);
        QVERIFY(writeWithLinks(staging.folder(), staged));
        QCOMPARE(staging.moveIntoPlace(), ok);
        QCOMPARE(staging.errorText().isEmpty(), ok);
        QCOMPARE(staging.hitProtected(), !protect.isEmpty());
    }
    QCOMPARE(treeOf(destination), after);
    QCOMPARE(entriesOf(root + QStringLiteral("/outside")), QStringList());
}

void TestWimlibBrowse::browsingRunsBesideALongCallOnTheArchive()
{
    HWIM archive = openWim(m_lib, m_wim, WIM_GENERIC_READ);
    m_handles.emplace_back(m_lib, archive);
    HWIM extracting = m_lib.WIMLoadImage(archive, 1);
    HWIM browsing = m_lib.WIMLoadImage(archive, 1);
    m_handles.emplace_back(m_lib, extracting);
    m_handles.emplace_back(m_lib, browsing);
    QVERIFY(extracting && browsing);
    const QString out = freshFolder();

    // While the extraction holds the archive, another thread lists both
    // handles and a second extraction is refused at once.
    MessageRecorder recorder;
    int listed = -1;
    bool secondRefusedAsBusy = false;
    recorder.duringProcess = [&] {
        if (listed >= 0)
            return;
        std::thread other([&] {
            QList<WimDirEntry> a, b;
            listed = m_lib.WIMListImageFolder(browsing, QStringLiteral("/a"), nullptr, &a)
                             && m_lib.WIMListImageFolder(extracting, QStringLiteral("/a"), nullptr, &b)
                             && a.size() == b.size()
                         ? int(a.size())
                         : 0;
            secondRefusedAsBusy = !m_lib.WIMExtractImagePaths(browsing, {QStringLiteral("/a")}, out)
                                  && m_lib.LastError().kind == ImagingError::Kind::Busy;
        });
        other.join();
    };
    QVERIFY(m_lib.WIMRegisterMessageCallback(nullptr, MessageRecorder::callback, &recorder) != INVALID_CALLBACK_VALUE);
    const bool ok = m_lib.WIMExtractImagePaths(extracting, {QStringLiteral("/a")}, out);
    m_lib.WIMUnregisterMessageCallback(nullptr, MessageRecorder::callback);
    QVERIFY2(ok, qPrintable(m_lib.LastErrorText()));
    QVERIFY(listed > 0);
    QVERIFY(secondRefusedAsBusy);
}

void TestWimlibBrowse::listingFollowsTheArchiveWhenItChanges()
{
    const QString wim = m_dir.filePath(QStringLiteral("changing.wim"));
    QVERIFY(QFile::copy(m_wim, wim));
    HWIM image = loadImage(wim);
    QList<WimDirEntry> before, after;
    QVERIFY(m_lib.WIMListImageFolder(image, QStringLiteral("/"), nullptr, &before));
    const QString added = m_dir.filePath(QStringLiteral("added.txt"));
    testarchives::writeTree(m_dir.path(), {{QStringLiteral("added.txt"), "added"}});
    QVERIFY(imagex({QStringLiteral("update"), wim, QStringLiteral("1"),
                    QStringLiteral("--command=add ") + added + QStringLiteral(" /added.txt")}));
    QVERIFY(m_lib.WIMListImageFolder(image, QStringLiteral("/"), nullptr, &after));
    QCOMPARE(after.size(), before.size() + 1);
}

namespace {

// "d/" and 124 `c`, then `tail`.
QString longName(QChar c, const QString &tail)
{
    return QStringLiteral("d/") + QString(124, c) + tail;
}

}  // namespace

QString TestWimlibBrowse::namesArchive(const QTemporaryDir &dir)
{
    const QString tree = dir.filePath(QStringLiteral("tree"));
    testarchives::writeTree(tree, {{QStringLiteral("d/a\u0167b"), "slash"},
                                   {QStringLiteral("d/\u014b"), "dot"},
                                   {QStringLiteral("d/\u0126\u0127"), "dots"},
                                   {QStringLiteral("d/back\\slash"), "backslash"},
                                   {longName(QChar(0xE9), QStringLiteral(".txt")), "long"},
                                   {longName(QChar(0xE9), QStringLiteral("x/inner.txt")), "inner"}});
    const QString wim = dir.filePath(QStringLiteral("names.wim"));
    const auto captured = testarchives::runTool(
        kImagex, {QStringLiteral("capture"), tree, wim, QStringLiteral("names"), QStringLiteral("--compress=none")});
    const bool renamed = captured.exitCode == 0
                         && renameInArchive(wim, {{QStringLiteral("a\u0167b"), QStringLiteral("a/b")},
                                                  {QStringLiteral("\u014b"), QStringLiteral(".")},
                                                  {QStringLiteral("\u0126\u0127"), QStringLiteral("..")},
                                                  // 2 bytes of UTF-8 on disk, 3 in the archive: as long in UTF-16
                                                  {longName(QChar(0xE9), QStringLiteral(".txt")).mid(2),
                                                   longName(QChar(0x4E2D), QStringLiteral(".txt")).mid(2)},
                                                  {longName(QChar(0xE9), QStringLiteral("x")).mid(2),
                                                   longName(QChar(0x4E2D), QStringLiteral("x")).mid(2)}});
    return renamed ? wim : QString();
}

void TestWimlibBrowse::namesThatCannotBeWrittenAreLogged_data()
{
    QTest::addColumn<QString>("extract");  // "" applies the image
    QTest::newRow("apply") << QString();
    QTest::newRow("extract the root") << QStringLiteral("/");
    QTest::newRow("extract the folder") << QStringLiteral("/d");
}

// Names no capture here can make: a "/" inside one is written under another
// name, "." and ".." are left out, a backslash is an ordinary character; each
// of the first two is a warning in the log, never a silent skip.
void TestWimlibBrowse::namesThatCannotBeWrittenAreLogged()
{
    QFETCH(QString, extract);
    QTemporaryDir dir;
    const QString wim = namesArchive(dir);
    QVERIFY(!wim.isEmpty());
    const HWIM image = loadImage(wim);
    QVERIFY(image);
    // Twice: the second call finds the image read already.
    for (int round = 0; round < 2; ++round) {
        const QString out = dir.filePath(QStringLiteral("out%1").arg(round));
        QVERIFY(QDir().mkpath(out));
        ScopedRecording recording(m_lib);
        const bool done =
            extract.isEmpty() ? m_lib.WIMApplyImage(image, out, 0) : m_lib.WIMExtractImagePaths(image, {extract}, out);
        QVERIFY2(done, qPrintable(m_lib.LastErrorText()));

        const QDir d(out + QStringLiteral("/d"));
        QStringList files = d.entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files.mid(0, 2),
                 QStringList({QStringLiteral("a?b (invalid filename #1)"), QStringLiteral("back\\slash")}));
        QCOMPARE(fileBytes(d.filePath(QStringLiteral("a?b (invalid filename #1)"))), QByteArray("slash"));
        // The long ones under shorter names that keep their beginning and extension, and stay apart.
        QCOMPARE(files.size(), 3);
        const QStringList folders = d.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(folders.size(), 1);
        for (const QString &name : {files.at(2), folders.at(0)}) {
            QVERIFY2(name.startsWith(QString(40, QChar(0x4E2D))) && name.toUtf8().size() <= 255, qPrintable(name));
        }
        QVERIFY(files.at(2).endsWith(QStringLiteral(".txt")));
        QCOMPARE(fileBytes(d.filePath(files.at(2))), QByteArray("long"));
        QCOMPARE(fileBytes(d.filePath(folders.at(0) + QStringLiteral("/inner.txt"))), QByteArray("inner"));

        QStringList warned, shortened;
        for (const auto &m : recording.recorder.messages()) {
            if (m.id == WIM_MSG_WARNING && m.value == EINVAL)
                warned << m.path;
            if (m.id == WIM_MSG_WARNING && m.value == ENAMETOOLONG)
                shortened << m.path.section(QStringLiteral("（"), 0, 0);
        }
        // The folder for each of "." and "..": wimlib does not say which.
        QCOMPARE(warned, QStringList({d.path(), d.path(), d.path() + QStringLiteral("/a/b")}));
        QStringList written{d.filePath(files.at(2)), d.filePath(folders.at(0))};
        shortened.sort();
        written.sort();
        QCOMPARE(shortened, written);
    }
}

// What the browse lists is extracted by its path, under a name that fits.
void TestWimlibBrowse::aLongNameIsExtractedUnderAShorterOne()
{
    QTemporaryDir dir;
    const QString wim = namesArchive(dir);
    QVERIFY(!wim.isEmpty());
    const HWIM image = loadImage(wim);
    QVERIFY(image);
    const QString out = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    ScopedRecording recording(m_lib);
    QVERIFY2(m_lib.WIMExtractImagePaths(image, {QLatin1Char('/') + longName(QChar(0x4E2D), QStringLiteral("x"))}, out),
             qPrintable(m_lib.LastErrorText()));
    const QStringList names = QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QCOMPARE(names.size(), 1);
    QCOMPARE(fileBytes(out + QLatin1Char('/') + names.at(0) + QStringLiteral("/inner.txt")), QByteArray("inner"));
    QCOMPARE(recording.recorder.count(WIM_MSG_WARNING), 1);
    // The archive itself keeps the name.
    QList<WimDirEntry> children;
    QVERIFY(m_lib.WIMListImageFolder(image, QStringLiteral("/d"), nullptr, &children));
    QVERIFY(std::any_of(children.cbegin(), children.cend(), [](const WimDirEntry &e) {
        return e.name == longName(QChar(0x4E2D), QStringLiteral("x")).mid(2);
    }));
}

void TestWimlibBrowse::shortenedNamesFit_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("utf16");
    QTest::addColumn<QString>("extension");  // kept
    QTest::newRow("bytes, an extension") << QString(100, QChar(0x4E2D)) + QStringLiteral(".txt") << false << ".txt";
    QTest::newRow("bytes, 4-byte characters") << QString::fromUtf8("\U0001F600").repeated(70) << false << "";
    QTest::newRow("UTF-16 units") << QString(300, QLatin1Char('a')) + QStringLiteral(".tar.gz") << true << ".gz";
    QTest::newRow("an extension too long to be one")
        << QStringLiteral("a.") + QString(300, QLatin1Char('b')) << false << "";
}

// Each fits, keeps its beginning and extension, and one already taken is never given.
void TestWimlibBrowse::shortenedNamesFit()
{
    QFETCH(QString, name);
    QFETCH(bool, utf16);
    QFETCH(QString, extension);
    const unwritablenames::NameLimit limit{255, utf16};
    QSet<QString> taken;
    for (int i = 0; i < 3; ++i) {
        const QString shorter = unwritablenames::shortenedName(name, limit, taken);
        QVERIFY2((utf16 ? shorter.size() : shorter.toUtf8().size()) <= 255, qPrintable(shorter));
        QVERIFY(!shorter.isEmpty() && name.startsWith(shorter.left(shorter.indexOf(QLatin1Char('~')))));
        QVERIFY(shorter.indexOf(QLatin1Char('~')) > 60);
        QVERIFY(!taken.contains(shorter));
        QVERIFY(shorter.endsWith(extension) && (extension.isEmpty() || shorter.count(extension) == 1));
        taken.insert(shorter);
    }
    // Two names alike in their first 250 characters stay apart.
    QVERIFY(unwritablenames::shortenedName(name + QLatin1Char('1'), limit, {})
            != unwritablenames::shortenedName(name + QLatin1Char('2'), limit, {}));
}

void TestWimlibBrowse::aNameWithASeparatorIsExtracted_data()
{
    QTest::addColumn<QString>("path");     // as the browse dialog joins it
    QTest::addColumn<QString>("written");  // "" when it is not in the image
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("logged");  // as a name that could not be written
    QTest::newRow("a backslash") << u"/d/back\\slash"_s << u"back\\slash"_s << QByteArray("backslash") << false;
    QTest::newRow("a slash") << u"/d/a/b"_s << u"a?b (invalid filename #1)"_s << QByteArray("slash") << true;
    QTest::newRow("a backslash, not there") << u"/d/back\\slashes"_s << QString() << QByteArray() << false;
    QTest::newRow("a slash, not there") << u"/d/a/c"_s << QString() << QByteArray() << false;
}

// wimlib reads "\\" and "/" in a path as separators; the entry the browse
// lists is still the one extracted, and only it.
void TestWimlibBrowse::aNameWithASeparatorIsExtracted()
{
    QFETCH(QString, path);
    QFETCH(QString, written);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, logged);
    QTemporaryDir dir;
    const QString wim = namesArchive(dir);
    QVERIFY(!wim.isEmpty());
    const HWIM image = loadImage(wim);
    QVERIFY(image);
    QList<WimDirEntry> children;
    QVERIFY(m_lib.WIMListImageFolder(image, u"/d"_s, nullptr, &children));
    const QString name = path.mid(3);
    QCOMPARE(std::any_of(children.cbegin(), children.cend(), [&name](const WimDirEntry &e) { return e.name == name; }),
             !written.isEmpty());
    const QString out = dir.filePath(u"out"_s);
    QVERIFY(QDir().mkpath(out));
    ScopedRecording recording(m_lib);
    if (written.isEmpty()) {
        QVERIFY(!m_lib.WIMExtractImagePaths(image, {path}, out));
        QCOMPARE(int(m_lib.LastError().kind), int(ImagingError::Kind::NotFound));
        return;
    }
    QVERIFY2(m_lib.WIMExtractImagePaths(image, {path}, out), qPrintable(m_lib.LastErrorText()));
    QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{written});
    QCOMPARE(fileBytes(out + u'/' + written), bytes);
    QStringList warned;
    for (const auto &m : recording.recorder.messages()) {
        if (m.id == WIM_MSG_WARNING)
            warned << m.path;
    }
    QCOMPARE(warned, logged ? QStringList{out + u'/' + name} : QStringList());
}

QTEST_GUILESS_MAIN(TestWimlibBrowse)
#include "tst_wimlib_browse.moc"
