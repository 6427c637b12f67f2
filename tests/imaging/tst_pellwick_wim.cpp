// The pellwick-wim driver as a developer runs it.
#include "imaging_test_support.h"
#include "test_archives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

using namespace imagingtest;
using testarchives::runTool;
using testarchives::ToolResult;

namespace {

const QString kTool = QStringLiteral(PELLWICK_WIM_TOOL);

ToolResult tool(const QStringList &args)
{
    return runTool(kTool, args);
}

}  // namespace

class TestPellwickWim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void infoOfAnArchiveMadeByWimlibImagex();
    void everyCommandThroughTheBoundary();
    void failuresSayWhyAndExitNonZero_data();
    void failuresSayWhyAndExitNonZero();
    void unreadableFileIsReportedAndTheCaptureGoesOn();
    void mediaCommands();
    void fullReadReadsWhatTheTimesCallUnchanged();

private:
    QTemporaryDir m_dir;
    QString m_tree;
};

void TestPellwickWim::initTestCase()
{
    if (!testarchives::haveTool(QStringLiteral("wimlib-imagex")))
        QSKIP("wimlib-imagex (package wimtools) is needed to make and check archives");
    QVERIFY(QFileInfo(kTool).isExecutable());
    QVERIFY(m_dir.isValid());
    m_tree = m_dir.filePath(QStringLiteral("tree"));
    QVERIFY(makeSampleTree(m_tree));
}

void TestPellwickWim::infoOfAnArchiveMadeByWimlibImagex()
{
    const QString wim = m_dir.filePath(QStringLiteral("peer.wim"));
    for (const QString &name : {QStringLiteral("alpha"), QStringLiteral("贝塔"), QStringLiteral("gamma")}) {
        const auto r = runTool(QStringLiteral("wimlib-imagex"),
                               {QFile::exists(wim) ? QStringLiteral("append") : QStringLiteral("capture"), m_tree, wim,
                                name, QStringLiteral("--compress=LZMS")});
        QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    }
    QCOMPARE(runTool(QStringLiteral("wimlib-imagex"),
                     {QStringLiteral("info"), wim, QStringLiteral("2"), QStringLiteral("--boot")})
                 .exitCode,
             0);
    const auto r = tool({QStringLiteral("info"), wim});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.output, QStringLiteral("images 3\ncompression 3\nboot 2\nimage 1 alpha\nimage 2 贝塔\nimage 3 gamma\n"));
}

void TestPellwickWim::everyCommandThroughTheBoundary()
{
    QTemporaryDir dir;
    const QString wim = dir.filePath(QStringLiteral("x.wim"));
    QCOMPARE(tool({QStringLiteral("capture"), m_tree, wim, QStringLiteral("first & <one>")}).exitCode, 0);
    QCOMPARE(tool({QStringLiteral("capture"), m_tree + QStringLiteral("/a"), wim}).exitCode, 0);
    QCOMPARE(tool({QStringLiteral("setboot"), wim, QStringLiteral("2")}).exitCode, 0);
    QCOMPARE(tool({QStringLiteral("setinfo"), wim, QStringLiteral("2"), QStringLiteral("二"), QStringLiteral("text")})
                 .exitCode,
             0);
    QCOMPARE(tool({QStringLiteral("setinfo"), wim, QStringLiteral("2"), QStringLiteral("second")}).exitCode, 0);
    auto info = testarchives::wimInfo(wim);
    QCOMPARE(info.compression, QStringLiteral("LZX"));
    QCOMPARE(info.names, (QStringList{QStringLiteral("first & <one>"), QStringLiteral("second")}));
    QCOMPARE(info.descriptions.value(1), QStringLiteral("text"));
    QCOMPARE(info.bootIndex, 2);

    const QString out = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    QCOMPARE(tool({QStringLiteral("apply"), wim, QStringLiteral("1"), out}).exitCode, 0);
    QCOMPARE(treeOf(out), treeOf(m_tree));

    const QString copy = dir.filePath(QStringLiteral("copy.wim"));
    QCOMPARE(tool({QStringLiteral("export"), wim, QStringLiteral("1"), copy}).exitCode, 0);
    QCOMPARE(tool({QStringLiteral("export"), wim, QStringLiteral("1"), copy}).exitCode, 0);
    QCOMPARE(testarchives::wimInfo(copy).names,
             (QStringList{QStringLiteral("first & <one>"), QStringLiteral("first & <one> (2)")}));
    QVERIFY(testarchives::wimVerify(copy));

    QCOMPARE(tool({QStringLiteral("delete"), wim, QStringLiteral("1")}).exitCode, 0);
    const auto r = tool({QStringLiteral("info"), wim});
    QCOMPARE(r.output, QStringLiteral("images 1\ncompression 2\nboot 1\nimage 1 second\n"));
    QVERIFY(testarchives::wimVerify(wim));
}

void TestPellwickWim::failuresSayWhyAndExitNonZero_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("no command") << QStringList() << QStringLiteral("usage:");
    QTest::newRow("unknown command") << QStringList{QStringLiteral("mount"), QStringLiteral("x")}
                                     << QStringLiteral("usage:");
    QTest::newRow("index is no number") << QStringList{QStringLiteral("delete"), QStringLiteral("x.wim"),
                                                       QStringLiteral("one")}
                                        << QStringLiteral("usage:");
    QTest::newRow("missing archive") << QStringList{QStringLiteral("info"), QStringLiteral("missing.wim")}
                                     << QStringLiteral("cannot open");
    QTest::newRow("no such image") << QStringList{QStringLiteral("apply"), QStringLiteral("x.wim"), QStringLiteral("7"),
                                                  QStringLiteral(".")}
                                   << QStringLiteral("cannot load image 7");
    QTest::newRow("name in use") << QStringList{QStringLiteral("setinfo"), QStringLiteral("x.wim"), QStringLiteral("2"),
                                                QStringLiteral("taken")}
                                 << QStringLiteral("another image is named \"taken\"");
    QTest::newRow("apply over its own archive")
        << QStringList{QStringLiteral("apply"), QStringLiteral("x.wim"), QStringLiteral("1"), QStringLiteral(".")}
        << QStringLiteral("over the archive");
    QTest::newRow("no such folder") << QStringList{QStringLiteral("capture"), QStringLiteral("nowhere"),
                                                   QStringLiteral("new.wim")}
                                    << QStringLiteral("cannot capture");
    QTest::newRow("unknown compression") << QStringList{
        QStringLiteral("export"), QStringLiteral("x.wim"), QStringLiteral("1"), QStringLiteral("y.wim"),
        QStringLiteral("--compress=zip")} << QStringLiteral("usage:");
    QTest::newRow("part size 0") << QStringList{QStringLiteral("split"), QStringLiteral("x.wim"),
                                                QStringLiteral("p.swm"), QStringLiteral("0")}
                                 << QStringLiteral("usage:");
    QTest::newRow("verify a missing archive")
        << QStringList{QStringLiteral("verify"), QStringLiteral("missing.wim")} << QStringLiteral("cannot open");
}

void TestPellwickWim::failuresSayWhyAndExitNonZero()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QTemporaryDir dir;
    // Two images, the first named "taken" and holding a file where the archive lies.
    const QString x = dir.filePath(QStringLiteral("x.wim"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("src"))));
    QVERIFY(QFile::copy(m_tree + QStringLiteral("/readme.txt"), dir.filePath(QStringLiteral("src/x.wim"))));
    QCOMPARE(
        tool({QStringLiteral("capture"), dir.filePath(QStringLiteral("src")), x, QStringLiteral("taken")}).exitCode, 0);
    QCOMPARE(tool({QStringLiteral("capture"), m_tree + QStringLiteral("/a"), x}).exitCode, 0);
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("src/x.wim"))));
    const QByteArray archive = fileBytes(x);
    for (QString &arg : args) {
        if (arg.endsWith(QLatin1String(".wim")) || arg == QLatin1String("nowhere") || arg == QLatin1String("."))
            arg = dir.filePath(arg);
    }
    const auto r = tool(args);
    QVERIFY(r.exitCode != 0);
    QVERIFY2(r.output.contains(message), qPrintable(r.output));
    // A failed capture into a new archive leaves no file behind; the archive is as it was.
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("new.wim"))));
    QCOMPARE(fileBytes(x), archive);
}

void TestPellwickWim::unreadableFileIsReportedAndTheCaptureGoesOn()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to run the capture as the unprivileged user 'nobody' through setpriv");
    if (!testarchives::haveTool(QStringLiteral("setpriv")))
        QSKIP("setpriv (util-linux) is needed to run the capture as the user 'nobody'");
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody)
        QSKIP("there is no user 'nobody' to run the capture as");
    // nobody must be able to reach and run the tool.
    const auto probe =
        runTool(QStringLiteral("setpriv"), {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                            QStringLiteral("--clear-groups"), kTool});
    if (probe.exitCode != 2)
        QSKIP("the user 'nobody' cannot run the pellwick-wim in this build folder");

    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                  | QFileDevice::ReadOther | QFileDevice::ExeOther));
    const QString tree = dir.filePath(QStringLiteral("tree"));
    QVERIFY(makeDataTree(tree, 3, 3000));
    const QString secret = tree + QStringLiteral("/d1/secret.txt");
    QFile f(secret);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("root only");
    f.close();
    QVERIFY(QFile::setPermissions(secret, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const QString out = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    QCOMPARE(::chown(QFile::encodeName(out).constData(), nobody->pw_uid, nobody->pw_gid), 0);

    const QString wim = out + QStringLiteral("/x.wim");
    const auto r = runTool(QStringLiteral("setpriv"),
                           {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                            QStringLiteral("--clear-groups"), kTool, QStringLiteral("capture"), tree, wim});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY2(r.output.contains(QStringLiteral("error: %1 [err = 13]").arg(secret)), qPrintable(r.output));
    const QStringList inImage = testarchives::wimDir(wim, 1);
    QCOMPARE(inImage.filter(QStringLiteral(".bin")).size(), 3);
    QVERIFY(!inImage.contains(QStringLiteral("/d1/secret.txt")));
    QVERIFY(testarchives::wimVerify(wim));
}

void TestPellwickWim::mediaCommands()
{
    QTemporaryDir dir;
    const auto header = [](const QString &wim, const QString &field) {
        const QString info = runTool(QStringLiteral("wimlib-imagex"), {QStringLiteral("info"), wim}).output;
        const qsizetype at =
            info.indexOf(QRegularExpression(QStringLiteral("^%1:").arg(field), QRegularExpression::MultilineOption));
        return at < 0 ? QString() : info.mid(at).section(u'\n', 0, 0).section(u':', 1).trimmed();
    };
    const QString wim = dir.filePath(QStringLiteral("x.wim"));
    QCOMPARE(tool({QStringLiteral("capture"), m_tree, wim, QStringLiteral("one")}).exitCode, 0);

    const QString esd = dir.filePath(QStringLiteral("x.esd"));
    QCOMPARE(tool({QStringLiteral("export"), wim, QStringLiteral("1"), esd, QStringLiteral("--solid")}).exitCode, 0);
    QCOMPARE(header(esd, QStringLiteral("Version")), QStringLiteral("3584"));
    const QString back = dir.filePath(QStringLiteral("back.wim"));
    QCOMPARE(
        tool({QStringLiteral("export"), esd, QStringLiteral("1"), back, QStringLiteral("--compress=xpress")}).exitCode,
        0);
    QCOMPARE(header(back, QStringLiteral("Compression")), QStringLiteral("XPRESS"));
    QVERIFY(testarchives::wimVerify(back));

    const QString first = dir.filePath(QStringLiteral("parts/p.swm"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("parts"))));
    QCOMPARE(tool({QStringLiteral("split"), back, first, QStringLiteral("0.03")}).exitCode, 0);
    auto r = tool({QStringLiteral("info"), first});
    QVERIFY2(r.exitCode == 0 && r.output.contains(QStringLiteral("\npart 1 of ")), qPrintable(r.output));
    const QString out = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    QCOMPARE(tool({QStringLiteral("apply"), first, QStringLiteral("1"), out}).exitCode, 0);
    QCOMPARE(treeOf(out), treeOf(m_tree));
    r = tool({QStringLiteral("verify"), first});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.output, QStringLiteral("whole\n"));

    QCOMPARE(tool({QStringLiteral("capture"), m_tree + QStringLiteral("/a"), wim}).exitCode, 0);
    QCOMPARE(tool({QStringLiteral("delete"), wim, QStringLiteral("1")}).exitCode, 0);
    QCOMPARE(tool({QStringLiteral("optimize"), wim}).exitCode, 0);
    QVERIFY(testarchives::wimVerify(wim));

    QVERIFY(damageStoredCopy(wim, m_tree + QStringLiteral("/a/b/c/deep.dat")));
    r = tool({QStringLiteral("verify"), wim});
    QCOMPARE(r.exitCode, 3);
    QCOMPARE(r.output, QStringLiteral("damaged: image 1: /b/c/deep.dat\ndamaged\n"));
}

void TestPellwickWim::fullReadReadsWhatTheTimesCallUnchanged()
{
    QTemporaryDir dir;
    const QString tree = dir.filePath(QStringLiteral("tree"));
    const QString file = tree + QStringLiteral("/same.txt");
    testarchives::writeTree(tree, {{QStringLiteral("same.txt"), "before"}});
    const QString wim = dir.filePath(QStringLiteral("x.wim"));
    QCOMPARE(tool({QStringLiteral("capture"), tree, wim}).exitCode, 0);
    // Changed, then given back its times: unchanged by every measure a capture takes.
    QVERIFY(testarchives::rewriteKeepingTimes(file, "after!"));
    QCOMPARE(tool({QStringLiteral("capture"), tree, wim}).exitCode, 0);
    QCOMPARE(tool({QStringLiteral("capture"), QStringLiteral("--full-read"), tree, wim}).exitCode, 0);
    QCOMPARE(tool({QStringLiteral("capture"), tree, wim, QStringLiteral("x"), QStringLiteral("y")}).exitCode, 2);

    for (const auto &[index, bytes] : {std::pair{2, QByteArray("before")}, std::pair{3, QByteArray("after!")}}) {
        const QString out = dir.filePath(QStringLiteral("out%1").arg(index));
        QVERIFY(QDir().mkpath(out));
        const auto r = tool({QStringLiteral("extract"), wim, QString::number(index), out, QStringLiteral("/same.txt")});
        QVERIFY2(r.exitCode == 0, qPrintable(r.output));
        QCOMPARE(fileBytes(out + QStringLiteral("/same.txt")), bytes);
    }
}

QTEST_GUILESS_MAIN(TestPellwickWim)
#include "tst_pellwick_wim.moc"
