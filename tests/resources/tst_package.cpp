// The Debian package, made by CPack from the build tree as scripts/package.sh
// makes it, judged by lintian as Debian judges packages: no error, no warning.
#include "test_archives.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

using testarchives::runTool;

}  // namespace

class TestPackage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dependsOnWhatItLinks();
    void holdsItsDocuments_data();
    void holdsItsDocuments();
    void lintianFindsNothing();

private:
    QTemporaryDir m_out;
    QString m_deb;
};

void TestPackage::initTestCase()
{
    for (const char *tool : {"cpack", "dpkg-deb", "dpkg-shlibdeps", "lintian"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is missing (Debian: cmake, dpkg-dev and lintian, which "
                                            "scripts/install.sh installs)")
                                 .arg(QString::fromLatin1(tool))));
    }
    const QString build = qEnvironmentVariable("PELLWICK_TEST_BINARY_DIR");
    QVERIFY2(!build.isEmpty(), "PELLWICK_TEST_BINARY_DIR is not set (run through ctest)");
    const auto r = runTool(QStringLiteral("cpack"),
                           {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                            build + QStringLiteral("/CPackConfig.cmake"), QStringLiteral("-B"), m_out.path()});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    const QStringList debs = QDir(m_out.path()).entryList({QStringLiteral("pellwick_*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = m_out.filePath(debs[0]);
}

void TestPackage::dependsOnWhatItLinks()
{
    const auto depends = runTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QStringLiteral("Depends")});
    QCOMPARE(depends.exitCode, 0);
    // Computed from the binaries, not written by hand.
    for (const char *package :
         {"libc6", "libstdc++6", "libgcc-s1", "libwim15", "libhivex0", "libqt6widgets6", "ntfs-3g"})
        QVERIFY2(depends.output.contains(QString::fromLatin1(package) + QLatin1Char(' '))
                     || depends.output.contains(QString::fromLatin1(package) + QLatin1Char(',')),
                 qPrintable(QString::fromLatin1(package) + QStringLiteral(" in ") + depends.output));
    const auto maintainer =
        runTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QStringLiteral("Maintainer")});
    QVERIFY2(maintainer.output.contains(QRegularExpression(QStringLiteral("^.+ <[^@ ]+@[^@ ]+>\\s*$"))),
             qPrintable(maintainer.output));
}

void TestPackage::holdsItsDocuments_data()
{
    QTest::addColumn<QString>("path");
    for (const char *path : {"./usr/share/doc/pellwick/copyright", "./usr/share/doc/pellwick/changelog.gz",
                             "./usr/share/man/man1/pellwick.1.gz", "./usr/share/man/man1/pellwick-wim.1.gz",
                             "./usr/share/mime/packages/pellwick.xml", "./usr/bin/pellwick-wim"})
        QTest::newRow(path) << QString::fromLatin1(path);
}

void TestPackage::holdsItsDocuments()
{
    QFETCH(QString, path);
    const auto contents = runTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_deb});
    QCOMPARE(contents.exitCode, 0);
    QVERIFY2(contents.output.contains(QLatin1Char(' ') + path + QLatin1Char('\n')), qPrintable(contents.output));
}

void TestPackage::lintianFindsNothing()
{
    const auto r = runTool(QStringLiteral("lintian"), {QStringLiteral("--pedantic"), QStringLiteral("--fail-on"),
                                                       QStringLiteral("error,warning"), m_deb});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    const QStringList bad = r.output.split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^[EW]: ")));
    QVERIFY2(bad.isEmpty(), qPrintable(bad.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
