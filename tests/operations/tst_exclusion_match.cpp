// Which paths an exclusion entry leaves out.
#include "capture_settings/exclusion_list.h"
#include "operations/exclusion_match.h"

#include <QTest>

class TestExclusionMatch : public QObject
{
    Q_OBJECT

private slots:
    void single_data();
    void single();
    void defaults_data();
    void defaults();
    void splitPath_data();
    void splitPath();
};

void TestExclusionMatch::single_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("excluded");
    // File entries match the whole path only.
    QTest::newRow("file") << "\\pagefile.sys"
                          << "\\pagefile.sys" << true;
    QTest::newRow("file, capitals in path") << "\\PAGEFILE.SYS"
                                            << "\\pagefile.sys" << true;
    QTest::newRow("file, longer path") << "\\pagefile.sys.bak"
                                       << "\\pagefile.sys" << false;
    QTest::newRow("file, other folder") << "\\old\\pagefile.sys"
                                        << "\\pagefile.sys" << false;
    QTest::newRow("file, shorter path") << "\\pagefile"
                                        << "\\pagefile.sys" << false;
    // Folder entries match everything below, not the folder itself.
    QTest::newRow("folder content") << "\\Windows\\Temp\\a.tmp"
                                    << "\\windows\\temp\\" << true;
    QTest::newRow("folder deep") << "\\WINDOWS\\TEMP\\x\\y"
                                 << "\\windows\\temp\\" << true;
    QTest::newRow("folder itself") << "\\Windows\\Temp"
                                   << "\\windows\\temp\\" << false;
    QTest::newRow("folder sibling") << "\\Windows\\TempFiles\\a"
                                    << "\\windows\\temp\\" << false;
    QTest::newRow("svi") << "\\System Volume Information\\tracking.log"
                         << "\\system volume information\\" << true;
    QTest::newRow("svi itself") << "\\System Volume Information"
                                << "\\system volume information\\" << false;
    // Only the path side folds, and only A-Z.
    QTest::newRow("capital entry, same case") << "\\Boot\\BCD"
                                              << "\\Boot\\BCD" << true;
    QTest::newRow("capital entry, small path") << "\\boot\\bcd"
                                               << "\\Boot\\BCD" << false;
    QTest::newRow("non-ASCII does not fold") << "\\Ä"
                                             << "\\ä" << false;
    QTest::newRow("non-ASCII equal") << "\\数据\\x"
                                     << "\\数据\\" << true;
    QTest::newRow("root entry matches all") << "\\anything"
                                            << "\\" << true;
    QTest::newRow("empty path") << ""
                                << "\\" << false;
    QTest::newRow("empty entry") << "\\a"
                                 << "" << false;
}

void TestExclusionMatch::single()
{
    QFETCH(QString, path);
    QFETCH(QString, entry);
    QFETCH(bool, excluded);
    QCOMPARE(IsExcluded(path, entry), excluded);
}

void TestExclusionMatch::defaults_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("excluded");
    QTest::newRow("hiberfil") << "\\hiberfil.sys" << true;
    QTest::newRow("swapfile") << "\\SwapFile.sys" << true;
    QTest::newRow("recycle bin content") << "\\$Recycle.Bin\\S-1\\x" << true;
    QTest::newRow("recycle bin itself") << "\\$Recycle.Bin" << false;
    QTest::newRow("logs") << "\\Windows\\Logs\\CBS\\CBS.log" << true;
    QTest::newRow("csc") << "\\Windows\\CSC\\v2" << true;
    QTest::newRow("system32") << "\\Windows\\System32\\x" << false;
    QTest::newRow("user file") << "\\Users\\a\\pagefile.sys" << false;
}

void TestExclusionMatch::defaults()
{
    QFETCH(QString, path);
    QFETCH(bool, excluded);
    bool any = false;
    for (const QString &e : ExclusionList::defaults())
        any = any || IsExcluded(path, e);
    QCOMPARE(any, excluded);
}

void TestExclusionMatch::splitPath_data()
{
    QTest::addColumn<QString>("head");
    QTest::addColumn<QString>("tail");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("excluded");
    // Entries are relative to the drive root, never to the capture folder.
    QTest::newRow("below capture folder") << "\\data"
                                          << "/tmp/x"
                                          << "\\data\\tmp\\" << true;
    QTest::newRow("relative to capture folder") << "\\data"
                                                << "/tmp/x"
                                                << "\\tmp\\" << false;
    QTest::newRow("capture of the root") << ""
                                         << "/pagefile.sys"
                                         << "\\pagefile.sys" << true;
    QTest::newRow("capture folder itself") << "\\data"
                                           << ""
                                           << "\\data\\" << false;
    QTest::newRow("split inside entry") << "\\win"
                                        << "dows/temp/a"
                                        << "\\windows\\temp\\" << true;
    QTest::newRow("slash in tail reads as backslash") << ""
                                                      << "/Windows/Temp/a.tmp"
                                                      << "\\windows\\temp\\" << true;
}

void TestExclusionMatch::splitPath()
{
    QFETCH(QString, head);
    QFETCH(QString, tail);
    QFETCH(QString, entry);
    QFETCH(bool, excluded);
    QCOMPARE(IsExcluded(DriveRelativePath{head, tail}, entry), excluded);
}

QTEST_APPLESS_MAIN(TestExclusionMatch)
#include "tst_exclusion_match.moc"
