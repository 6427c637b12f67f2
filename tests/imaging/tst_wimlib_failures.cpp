// What the wimlib backend says about its failures: the kind of each (on real
// files), and the apply that would write over its own archive.
#include "imaging/wimlib_backend.h"
#include "imaging_test_support.h"
#include "message_recorder.h"
#include "test_archives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <optional>

#include <unistd.h>

using namespace imagingtest;
using Kind = ImagingError::Kind;

Q_DECLARE_METATYPE(ImagingError::Kind)

namespace {

bool peer(const QStringList &args)
{
    return testarchives::runTool(QStringLiteral("wimlib-imagex"), args).exitCode == 0;
}

bool write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Registers a recorder for one scope.
class Recording
{
public:
    explicit Recording(ImagingLibrary &lib) : m_lib(lib)
    {
        lib.WIMRegisterMessageCallback(nullptr, MessageRecorder::callback, &recorder);
    }
    ~Recording() { m_lib.WIMUnregisterMessageCallback(nullptr, MessageRecorder::callback); }
    MessageRecorder recorder;

private:
    ImagingLibrary &m_lib;
};

}  // namespace

class TestWimlibFailures : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void failuresHaveTheirKind_data();
    void failuresHaveTheirKind();
    void applyNeverWritesOverItsOwnArchive_data();
    void applyNeverWritesOverItsOwnArchive();

private:
    QTemporaryDir m_dir;
    QString m_tree;     // holds x.wim and sub/x.wim, where the apply tests put their archive
    QString m_archive;  // one image of m_tree, named "one"
};

void TestWimlibFailures::initTestCase()
{
    if (!testarchives::haveTool(QStringLiteral("wimlib-imagex")))
        QSKIP("wimlib-imagex (package wimtools) is needed to make the archives");
    QVERIFY(m_dir.isValid());
    m_tree = m_dir.filePath(QStringLiteral("tree"));
    QVERIFY(write(m_tree + QStringLiteral("/x.wim"), "a file of the image, where an archive may lie"));
    QVERIFY(write(m_tree + QStringLiteral("/sub/x.wim"), "another"));
    QVERIFY(write(m_tree + QStringLiteral("/readme.txt"), "plain text\n"));
    QVERIFY(write(m_tree + QStringLiteral("/data.bin"), noise(20000, 7)));
    m_archive = m_dir.filePath(QStringLiteral("archive.wim"));
    QVERIFY(peer({QStringLiteral("capture"), m_tree, m_archive, QStringLiteral("one")}));
}

void TestWimlibFailures::failuresHaveTheirKind_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("systemError");  // -1: any
    QTest::newRow("missing file") << QStringLiteral("missing") << Kind::NotFound << ENOENT;
    QTest::newRow("text file") << QStringLiteral("text") << Kind::NotAnArchive << 0;
    QTest::newRow("truncated archive") << QStringLiteral("truncated") << Kind::DamagedHeader << -1;
    QTest::newRow("read-only file") << QStringLiteral("read-only") << Kind::AccessDenied << EACCES;
    QTest::newRow("read-only file system") << QStringLiteral("read-only mount") << Kind::ReadOnlyFileSystem << EROFS;
    QTest::newRow("full disk") << QStringLiteral("full") << Kind::NoSpace << ENOSPC;
    QTest::newRow("name collision") << QStringLiteral("collision") << Kind::NameInUse << 0;
    QTest::newRow("damaged data during apply") << QStringLiteral("corrupted") << Kind::DamagedData << -1;
    QTest::newRow("name too long") << QStringLiteral("long") << Kind::PathTooLong << ENAMETOOLONG;
    QTest::newRow("change from the busy call's callback") << QStringLiteral("busy") << Kind::Busy << 0;
    QTest::newRow("aborted capture") << QStringLiteral("aborted") << Kind::Aborted << 0;
    QTest::newRow("no such image") << QStringLiteral("index") << Kind::Other << 0;
}

void TestWimlibFailures::failuresHaveTheirKind()
{
    QFETCH(QString, failure);
    QFETCH(Kind, kind);
    QFETCH(int, systemError);
    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wim = dir.filePath(QStringLiteral("a.wim"));
    QVERIFY(QFile::copy(m_archive, wim));
    QVERIFY(QFile::setPermissions(wim, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    bool failed = false;

    if (failure == QLatin1String("missing")) {
        failed = !openWim(lib, dir.filePath(QStringLiteral("missing.wim")));
    } else if (failure == QLatin1String("text")) {
        QVERIFY(write(dir.filePath(QStringLiteral("notes.wim")), "just some text"));
        failed = !openWim(lib, dir.filePath(QStringLiteral("notes.wim")));
    } else if (failure == QLatin1String("truncated")) {
        QVERIFY(QFile::resize(wim, QFileInfo(wim).size() / 2));
        failed = !openWim(lib, wim);
    } else if (failure == QLatin1String("read-only")) {
        QVERIFY(QFile::setPermissions(wim, QFileDevice::ReadOwner));
        failed = !openWim(lib, wim, WIM_GENERIC_READ_WRITE);
    } else if (failure == QLatin1String("read-only mount")) {
        if (::geteuid() != 0)
            QSKIP("needs root, to mount a read-only file system");
        const auto mount = ScopedMount::bind(dir.path(), dir.filePath(QStringLiteral("ro")), true);
        if (!mount.mounted())
            QSKIP("cannot bind-mount here (no CAP_SYS_ADMIN in this container?)");
        failed = !openWim(lib, dir.filePath(QStringLiteral("ro/a.wim")), WIM_GENERIC_READ_WRITE);
    } else if (failure == QLatin1String("full")) {
        if (::geteuid() != 0)
            QSKIP("needs root, to mount a small tmpfs to fill");
        const auto disk = ScopedMount::tmpfs(dir.filePath(QStringLiteral("disk")), "size=256k");
        if (!disk.mounted())
            QSKIP("cannot mount a tmpfs here (no CAP_SYS_ADMIN in this container?)");
        const QString full = dir.filePath(QStringLiteral("disk/a.wim"));
        QVERIFY(QFile::copy(m_archive, full));
        QVERIFY(write(dir.filePath(QStringLiteral("disk/filler")), QByteArray(int(disk.freeBytes()), 'x')));
        QVERIFY(write(dir.filePath(QStringLiteral("new/data.bin")), noise(30000, 99)));
        WimHandle handle(lib, openWim(lib, full));
        QVERIFY(handle);
        failed = !WimHandle(lib, lib.WIMCaptureImage(handle.get(), dir.filePath(QStringLiteral("new")), 0));
        QVERIFY2(lib.LastErrorText().contains(QStringLiteral("no space left")), qPrintable(lib.LastErrorText()));
        QVERIFY(lib.LastErrorText().contains(full));
    } else if (failure == QLatin1String("collision")) {
        WimHandle handle(lib, openWim(lib, wim));
        WimHandle image(lib, lib.WIMCaptureImage(handle.get(), m_tree + QStringLiteral("/sub"), 0));
        QVERIFY(image);
        const QString xml = QStringLiteral("<IMAGE><NAME>one</NAME></IMAGE>");
        failed = !lib.WIMSetImageInformation(image.get(), xml, uint32_t(xml.size() * 2));
    } else if (failure == QLatin1String("corrupted")) {
        // A stored (uncompressed) file whose bytes no longer match their digest.
        const QByteArray marker = QByteArray("MARKER-").repeated(300);
        QVERIFY(write(dir.filePath(QStringLiteral("plain/f.txt")), marker));
        QVERIFY(peer({QStringLiteral("capture"), dir.filePath(QStringLiteral("plain")), wim,
                      QStringLiteral("--compress=none")}));
        QFile f(wim);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        const qsizetype at = bytes.indexOf(marker);
        QVERIFY(at > 0);
        bytes[at + 100] = 'x';
        QVERIFY(f.seek(0) && f.write(bytes) == bytes.size());
        f.close();
        WimHandle handle(lib, openWim(lib, wim, WIM_GENERIC_READ));
        WimHandle image(lib, lib.WIMLoadImage(handle.get(), 1));
        QVERIFY(image);
        failed = !lib.WIMApplyImage(image.get(), dir.path(), 0);
    } else if (failure == QLatin1String("long")) {
        failed = !openWim(lib, dir.filePath(QString(300, QLatin1Char('n')) + QStringLiteral(".wim")));
    } else if (failure == QLatin1String("busy")) {
        WimHandle handle(lib, openWim(lib, wim));
        Recording rec(lib);
        ImagingError during;
        rec.recorder.duringProcess = [&] {
            if (during.kind == Kind::None && !lib.WIMSetBootImage(handle.get(), 1))
                during = lib.LastError();
        };
        QVERIFY(WimHandle(lib, lib.WIMCaptureImage(handle.get(), m_tree, 0)));
        QCOMPARE(during.kind, kind);
        return;
    } else if (failure == QLatin1String("aborted")) {
        WimHandle handle(lib, openWim(lib, wim));
        Recording rec(lib);
        rec.recorder.abortAtProcess = 2;
        failed = !WimHandle(lib, lib.WIMCaptureImage(handle.get(), m_tree, 0));
    } else if (failure == QLatin1String("index")) {
        WimHandle handle(lib, openWim(lib, wim));
        failed = !lib.WIMDeleteImage(handle.get(), 5);
    }
    QVERIFY(failed);
    const ImagingError error = lib.LastError();
    QCOMPARE(error.kind, kind);
    if (systemError >= 0)
        QCOMPARE(error.systemError, systemError);
    QCOMPARE(error.text, lib.LastErrorText());
    QVERIFY(!error.text.isEmpty());
}

void TestWimlibFailures::applyNeverWritesOverItsOwnArchive_data()
{
    QTest::addColumn<QString>("placement");
    QTest::addColumn<bool>("refused");
    QTest::newRow("at its own path in the target") << QStringLiteral("direct") << true;
    QTest::newRow("target named through a symbolic link") << QStringLiteral("target link") << true;
    QTest::newRow("a folder of the target links to the archive's") << QStringLiteral("folder link") << true;
    QTest::newRow("a hard link at the image's path") << QStringLiteral("hard link") << true;
    QTest::newRow("a bind mount in the target") << QStringLiteral("bind mount") << true;
    QTest::newRow("in the target where the image holds nothing") << QStringLiteral("elsewhere") << false;
    QTest::newRow("outside the target") << QStringLiteral("outside") << false;
}

void TestWimlibFailures::applyNeverWritesOverItsOwnArchive()
{
    QFETCH(QString, placement);
    QFETCH(bool, refused);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("target"));
    const QString store = dir.filePath(QStringLiteral("store"));
    QVERIFY(QDir().mkpath(target) && QDir().mkpath(store));
    QString wim = target + QStringLiteral("/x.wim");  // as it is opened
    QString applyTo = target;
    std::optional<ScopedMount> mount;
    if (placement == QLatin1String("target link")) {
        QVERIFY(QFile::link(target, dir.filePath(QStringLiteral("link"))));
        applyTo = dir.filePath(QStringLiteral("link"));
    } else if (placement == QLatin1String("folder link")) {
        wim = store + QStringLiteral("/x.wim");
        QVERIFY(QFile::link(store, target + QStringLiteral("/sub")));
    } else if (placement == QLatin1String("hard link")) {
        wim = store + QStringLiteral("/kept.wim");
    } else if (placement == QLatin1String("bind mount")) {
        if (::geteuid() != 0)
            QSKIP("needs root, to bind-mount a folder");
        wim = store + QStringLiteral("/x.wim");
        mount.emplace(ScopedMount::bind(store, target + QStringLiteral("/sub")));
        if (!mount->mounted())
            QSKIP("cannot bind-mount here (no CAP_SYS_ADMIN in this container?)");
    } else if (placement == QLatin1String("elsewhere")) {
        wim = target + QStringLiteral("/kept/a.wim");
        QVERIFY(QDir().mkpath(target + QStringLiteral("/kept")));
    } else if (placement == QLatin1String("outside")) {
        wim = store + QStringLiteral("/x.wim");
    }
    QVERIFY(QFile::copy(m_archive, wim));
    if (placement == QLatin1String("hard link")) {
        QCOMPARE(::link(QFile::encodeName(wim).constData(),
                        QFile::encodeName(target + QStringLiteral("/x.wim")).constData()),
                 0);
    }
    const QByteArray archiveBytes = fileBytes(wim);
    const auto before = treeOf(target);

    WimlibBackend lib;
    WimHandle handle(lib, openWim(lib, wim, WIM_GENERIC_READ));
    QVERIFY(handle);
    WimHandle image(lib, lib.WIMLoadImage(handle.get(), 1));
    QVERIFY(image);
    const bool applied = lib.WIMApplyImage(image.get(), applyTo, WIM_FLAG_VERIFY | WIM_FLAG_INDEX);
    QCOMPARE(fileBytes(wim), archiveBytes);
    if (refused) {
        QVERIFY(!applied);
        QCOMPARE(lib.LastError().kind, Kind::WouldOverwriteArchive);
        QVERIFY2(lib.LastErrorText().contains(QStringLiteral("x.wim")), qPrintable(lib.LastErrorText()));
        QCOMPARE(treeOf(target), before);
    } else {
        QVERIFY2(applied, qPrintable(lib.LastErrorText()));
        QCOMPARE(fileBytes(target + QStringLiteral("/data.bin")), fileBytes(m_tree + QStringLiteral("/data.bin")));
        QCOMPARE(fileBytes(target + QStringLiteral("/x.wim")), fileBytes(m_tree + QStringLiteral("/x.wim")));
    }
}

QTEST_GUILESS_MAIN(TestWimlibFailures)
#include "tst_wimlib_failures.moc"
