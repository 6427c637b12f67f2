// NTFS-3G mode of the wimlib backend on volume images in regular files:
// mkntfs makes them without root, and our own apply fills them.
#include "imaging/wimlib_backend.h"
#include "imaging_test_support.h"
#include "message_recorder.h"
#include "test_archives.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <QDir>

#include <cerrno>

using namespace imagingtest;
using testarchives::runTool;
using testarchives::wimDir;
using Kind = ImagingError::Kind;

Q_DECLARE_METATYPE(ImagingError::Kind)

class TestWimlibNtfs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void volumeRoundTripWithVolumeRelativePaths();
    void abortStopsTheCaptureAndKeepsTheArchive();
    void repeatCaptureOfAVolumeTakesUnchangedFilesFromTheLastImage();
    void failuresSayWhy_data();
    void failuresSayWhy();

private:
    QString makeVolume(const QString &name);
    QString sourceArchive();

    WimlibBackend m_lib;
    QTemporaryDir m_dir;
    QString m_filled;  // a volume holding the sample tree, applied by our code
};

QString TestWimlibNtfs::makeVolume(const QString &name)
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || !f.resize(16 << 20))
        return {};
    f.close();
    const auto r = runTool(QStringLiteral("mkntfs"),
                           {QStringLiteral("--quick"), QStringLiteral("--force"), QStringLiteral("--quiet"), path});
    return r.exitCode == 0 ? path : QString();
}

QString TestWimlibNtfs::sourceArchive()
{
    return m_dir.filePath(QStringLiteral("source.wim"));
}

void TestWimlibNtfs::initTestCase()
{
    for (const char *tool : {"mkntfs", "wimlib-imagex"}) {
        if (!testarchives::haveTool(QString::fromLatin1(tool)))
            QSKIP(qPrintable(QStringLiteral("%1 is needed to make and check NTFS volumes").arg(QLatin1String(tool))));
    }
    QVERIFY(m_dir.isValid());
    const QString tree = m_dir.filePath(QStringLiteral("tree"));
    QVERIFY(makeSampleTree(tree));
    testarchives::writeTree(tree, {{QStringLiteral("Windows/Temp/a.tmp"), "temporary"},
                                   {QStringLiteral("Windows/TempFiles/keep.txt"), "kept"}});
    WimHandle wim(m_lib, createWim(m_lib, sourceArchive()));
    QVERIFY(wim);
    WimHandle image(m_lib, m_lib.WIMCaptureImage(wim.get(), tree, 0));
    QVERIFY2(image, qPrintable(m_lib.LastErrorText()));

    m_filled = makeVolume(QStringLiteral("filled.img"));
    QVERIFY(!m_filled.isEmpty());
    WimHandle applied(m_lib, m_lib.WIMLoadImage(wim.get(), 1));
    MessageRecorder recorder;
    QVERIFY(m_lib.WIMRegisterMessageCallback(nullptr, &MessageRecorder::callback, &recorder) != INVALID_CALLBACK_VALUE);
    const bool ok =
        m_lib.WIMApplyImage(applied.get(), m_filled, WIM_FLAG_VERIFY | WIM_FLAG_INDEX | WIM_FLAG_NTFS_VOLUME);
    m_lib.WIMUnregisterMessageCallback(nullptr, &MessageRecorder::callback);
    QVERIFY2(ok, qPrintable(m_lib.LastErrorText()));
    QCOMPARE(recorder.progress().last(), 100);
}

void TestWimlibNtfs::volumeRoundTripWithVolumeRelativePaths()
{
    const QString archive = m_dir.filePath(QStringLiteral("volume.wim"));
    WimHandle wim(m_lib, createWim(m_lib, archive));
    MessageRecorder recorder;
    // What the window's matcher sees: the text after the volume's own path.
    recorder.exclude = [this](const QString &path) {
        return path.mid(m_filled.size()).startsWith(QLatin1String("/windows/temp/"), Qt::CaseInsensitive);
    };
    QVERIFY(m_lib.WIMRegisterMessageCallback(nullptr, &MessageRecorder::callback, &recorder) != INVALID_CALLBACK_VALUE);
    WimHandle image(m_lib, m_lib.WIMCaptureImage(wim.get(), m_filled, WIM_FLAG_NTFS_VOLUME));
    m_lib.WIMUnregisterMessageCallback(nullptr, &MessageRecorder::callback);
    QVERIFY2(image, qPrintable(m_lib.LastErrorText()));

    const QStringList offered = recorder.paths(WIM_MSG_PROCESS);
    QCOMPARE(offered.first(), m_filled);
    QVERIFY(offered.contains(m_filled + QStringLiteral("/中文目录/文件名.txt")));
    QVERIFY(offered.contains(m_filled + QStringLiteral("/Windows/Temp/a.tmp")));
    QCOMPARE(recorder.count(WIM_MSG_ERROR), 0);
    QCOMPARE(recorder.progress().last(), 100);

    // The image holds the tree as captured from the folder, less the excluded
    // file; the folder itself stays, as in the folder case.
    QStringList expected = wimDir(sourceArchive(), 1);
    expected.removeOne(QStringLiteral("/Windows/Temp/a.tmp"));
    QStringList got = wimDir(archive, 1);
    expected.sort();
    got.sort();
    QCOMPARE(got, expected);
}

void TestWimlibNtfs::abortStopsTheCaptureAndKeepsTheArchive()
{
    const QString archive = m_dir.filePath(QStringLiteral("aborted.wim"));
    WimHandle wim(m_lib, createWim(m_lib, archive));
    const QByteArray before = fileBytes(archive);
    MessageRecorder recorder;
    recorder.abortAtProcess = 3;
    QVERIFY(m_lib.WIMRegisterMessageCallback(nullptr, &MessageRecorder::callback, &recorder) != INVALID_CALLBACK_VALUE);
    WimHandle image(m_lib, m_lib.WIMCaptureImage(wim.get(), m_filled, WIM_FLAG_NTFS_VOLUME));
    m_lib.WIMUnregisterMessageCallback(nullptr, &MessageRecorder::callback);
    QVERIFY(!image);
    QVERIFY2(m_lib.LastErrorText().contains(QLatin1String("aborted")), qPrintable(m_lib.LastErrorText()));
    QCOMPARE(imageCount(m_lib, wim.get()), 0u);
    QCOMPARE(fileBytes(archive), before);
}

void TestWimlibNtfs::repeatCaptureOfAVolumeTakesUnchangedFilesFromTheLastImage()
{
    // The same tree again, one file rewritten with its size and times given back.
    const QString tree = m_dir.filePath(QStringLiteral("tree"));
    const QString again = m_dir.filePath(QStringLiteral("tree again"));
    QCOMPARE(runTool(QStringLiteral("cp"), {QStringLiteral("-a"), tree, again}).exitCode, 0);
    const QString file = again + QStringLiteral("/a/b/c/deep.dat");
    const QByteArray rewritten = noise(int(fileBytes(file).size()), 99);
    QVERIFY(testarchives::rewriteKeepingTimes(file, rewritten));
    const QString againWim = m_dir.filePath(QStringLiteral("again.wim"));
    {
        WimHandle wim(m_lib, createWim(m_lib, againWim));
        QVERIFY(WimHandle(m_lib, m_lib.WIMCaptureImage(wim.get(), again, 0)));
    }

    // One volume, filled from each tree in turn, captured after each (apply gives the files their times).
    const QString archive = m_dir.filePath(QStringLiteral("repeat.wim"));
    WimHandle wim(m_lib, createWim(m_lib, archive));
    QString volume;
    for (const QString &from : {sourceArchive(), againWim}) {
        volume = makeVolume(QStringLiteral("repeat.img"));
        QVERIFY(!volume.isEmpty());
        WimHandle source(m_lib, openWim(m_lib, from, WIM_GENERIC_READ));
        WimHandle image(m_lib, m_lib.WIMLoadImage(source.get(), 1));
        QVERIFY2(m_lib.WIMApplyImage(image.get(), volume, WIM_FLAG_NTFS_VOLUME), qPrintable(m_lib.LastErrorText()));
        QVERIFY2(WimHandle(m_lib, m_lib.WIMCaptureImage(wim.get(), volume, WIM_FLAG_NTFS_VOLUME)),
                 qPrintable(m_lib.LastErrorText()));
    }
    WimHandle full(m_lib, m_lib.WIMCaptureImage(wim.get(), volume, WIM_FLAG_NTFS_VOLUME | WIM_FLAG_FULL_READ));
    QVERIFY(full);
    QString xml;
    QVERIFY(m_lib.WIMGetImageInformation(full.get(), &xml, nullptr));
    QVERIFY2(xml.contains(QStringLiteral("<SOURCE>%1</SOURCE>").arg(volume)), qPrintable(xml));
    full.close();
    QVERIFY(wim.close());

    // Image 2 took the file from image 1, as its size and times said; the full read has the new bytes.
    const auto stored = [&](int index) {
        const QString out = m_dir.filePath(QStringLiteral("out%1").arg(index));
        QDir().mkpath(out);
        const auto r = runTool(QStringLiteral("wimlib-imagex"),
                               {QStringLiteral("extract"), archive, QString::number(index),
                                QStringLiteral("/a/b/c/deep.dat"), QStringLiteral("--dest-dir=") + out});
        return r.exitCode == 0 ? fileBytes(out + QStringLiteral("/deep.dat")) : r.output.toUtf8();
    };
    QCOMPARE(stored(2), fileBytes(tree + QStringLiteral("/a/b/c/deep.dat")));
    QCOMPARE(stored(3), rewritten);
}

void TestWimlibNtfs::failuresSayWhy_data()
{
    QTest::addColumn<bool>("apply");
    QTest::addColumn<QString>("target");
    QTest::addColumn<ImagingError::Kind>("kind");
    QTest::addColumn<int>("systemError");
    QTest::addColumn<QString>("text");

    QTest::newRow("capture: nothing there")
        << false << QStringLiteral("missing.img") << Kind::NotFound << ENOENT << QStringLiteral("No such file");
    QTest::newRow("capture: no NTFS") << false << QStringLiteral("zeros.img") << Kind::Other << 0
                                      << QStringLiteral("holds no NTFS file system");
    QTest::newRow("capture: a folder") << false << QStringLiteral("tree") << Kind::Other << 0
                                       << QStringLiteral("neither a block device nor a volume image");
    QTest::newRow("apply: no NTFS") << true << QStringLiteral("zeros.img") << Kind::Other << 0
                                    << QStringLiteral("holds no NTFS file system");
    // NTFS-3G mode adds to a volume; it never replaces what is there.
    QTest::newRow("apply: names taken") << true << QStringLiteral("filled.img") << Kind::Other << EEXIST
                                        << QStringLiteral("format the volume first");
}

void TestWimlibNtfs::failuresSayWhy()
{
    QFETCH(bool, apply);
    QFETCH(QString, target);
    QFETCH(ImagingError::Kind, kind);
    QFETCH(int, systemError);
    QFETCH(QString, text);

    QFile zeros(m_dir.filePath(QStringLiteral("zeros.img")));
    QVERIFY(zeros.open(QIODevice::WriteOnly) && zeros.resize(1 << 20));
    zeros.close();
    const QString path = m_dir.filePath(target);

    bool ok = false;
    if (apply) {
        WimHandle wim(m_lib, openWim(m_lib, sourceArchive(), WIM_GENERIC_READ));
        WimHandle image(m_lib, m_lib.WIMLoadImage(wim.get(), 1));
        ok = m_lib.WIMApplyImage(image.get(), path, WIM_FLAG_NTFS_VOLUME);
    } else {
        WimHandle wim(m_lib, createWim(m_lib, m_dir.filePath(QStringLiteral("failed.wim"))));
        WimHandle image(m_lib, m_lib.WIMCaptureImage(wim.get(), path, WIM_FLAG_NTFS_VOLUME));
        ok = bool(image);
    }
    QVERIFY(!ok);
    const ImagingError error = m_lib.LastError();
    QVERIFY2(error.text.contains(text), qPrintable(error.text));
    QVERIFY2(error.text.contains(path), qPrintable(error.text));
    QCOMPARE(error.kind, kind);
    QCOMPARE(error.systemError, systemError);
}

QTEST_GUILESS_MAIN(TestWimlibNtfs)
#include "tst_wimlib_ntfs.moc"
