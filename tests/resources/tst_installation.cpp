// `cmake --install` into a temporary prefix: the program and its desktop
// integration, checked by the freedesktop validators where they exist.
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kDesktop = QStringLiteral("share/applications/pellwick.desktop");
const QString kIcon = QStringLiteral("share/icons/hicolor/scalable/apps/pellwick.svg");
const QString kMetainfo = QStringLiteral("share/metainfo/io.github.pellwick.pellwick.metainfo.xml");

struct Run {
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    Run r;
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit) {
        r.output = program + QStringLiteral(" did not finish: ") + p.errorString();
        return r;
    }
    r.exitCode = p.exitCode();
    r.output = QString::fromUtf8(p.readAll());
    return r;
}

QStringList linesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(QLatin1Char('\n')) : QStringList();
}

}  // namespace

class TestInstallation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installsTheFiles_data();
    void installsTheFiles();
    void desktopEntryOpensArchives();
    void desktopEntryValidates();
    void metainfoValidates();

private:
    QTemporaryDir m_prefix;
};

void TestInstallation::initTestCase()
{
    QVERIFY(m_prefix.isValid());
    const QString cmake = qEnvironmentVariable("PELLWICK_CMAKE", QStringLiteral("cmake"));
    const QString build = qEnvironmentVariable("PELLWICK_TEST_BINARY_DIR");
    QVERIFY2(!build.isEmpty(), "PELLWICK_TEST_BINARY_DIR is not set (run through ctest)");
    const Run r = run(cmake, {QStringLiteral("--install"), build, QStringLiteral("--prefix"), m_prefix.path()});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
}

void TestInstallation::installsTheFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");
    QTest::newRow("program") << QStringLiteral("bin/pellwick") << true;
    QTest::newRow("desktop entry") << kDesktop << false;
    QTest::newRow("scalable icon") << kIcon << false;
    QTest::newRow("metainfo") << kMetainfo << false;
    QTest::newRow("driver") << QStringLiteral("bin/pellwick-wim") << true;
    QTest::newRow("ESD type") << QStringLiteral("share/mime/packages/pellwick.xml") << false;
    QTest::newRow("manual page") << QStringLiteral("share/man/man1/pellwick.1.gz") << false;
    QTest::newRow("driver's manual page") << QStringLiteral("share/man/man1/pellwick-wim.1.gz") << false;
    QTest::newRow("copyright") << QStringLiteral("share/doc/pellwick/copyright") << false;
    QTest::newRow("changelog") << QStringLiteral("share/doc/pellwick/changelog.gz") << false;
}

void TestInstallation::installsTheFiles()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);
    const QFileInfo info(m_prefix.filePath(path));
    QVERIFY2(info.isFile(), qPrintable(info.filePath()));
    QVERIFY(info.size() > 0);
    QCOMPARE(info.isExecutable(), executable);
}

void TestInstallation::desktopEntryOpensArchives()
{
    // What the validator does not check: it opens .wim files with the
    // program installed beside it, under the icon installed beside it.
    const QStringList entry = linesOf(m_prefix.filePath(kDesktop));
    QVERIFY(entry.contains(QStringLiteral("Exec=pellwick %f")));
    // Split sets are application/x-ms-wim too; ESD files have a type of our own.
    QVERIFY(entry.contains(QStringLiteral("MimeType=application/x-ms-wim;application/x-ms-esd;")));
    QVERIFY(entry.contains(QStringLiteral("Icon=pellwick")));
    QVERIFY(entry.filter(QRegularExpression(QStringLiteral("^Name\\[zh_CN\\]=.*[\\x{4E00}-\\x{9FFF}]"))).size() == 1);
}

void TestInstallation::desktopEntryValidates()
{
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is missing (Debian: desktop-file-utils, which scripts/install.sh installs)");
    const Run r = run(validator, {m_prefix.filePath(kDesktop)});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    // It exits 0 on hints too; a clean entry prints nothing.
    QVERIFY2(r.output.trimmed().isEmpty(), qPrintable(r.output));
}

void TestInstallation::metainfoValidates()
{
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
    if (validator.isEmpty())
        QSKIP("appstreamcli is missing (Debian: appstream, which scripts/install.sh installs)");
    const Run r =
        run(validator, {QStringLiteral("validate"), QStringLiteral("--no-net"), m_prefix.filePath(kMetainfo)});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));

    // The software centre launches the entry installed beside it.
    QFile f(m_prefix.filePath(kMetainfo));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString xml = QString::fromUtf8(f.readAll());
    QVERIFY2(xml.contains(
                 QStringLiteral("<launchable type=\"desktop-id\">%1</launchable>").arg(QFileInfo(kDesktop).fileName())),
             qPrintable(xml));
}

QTEST_GUILESS_MAIN(TestInstallation)
#include "tst_installation.moc"
