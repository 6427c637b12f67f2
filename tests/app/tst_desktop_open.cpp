// Opening an archive from the desktop (the command line, a drop on the window)
// and a main window the user may make larger.
#include "app/command_line.h"
#include "app/ctarnbox_dlg.h"
#include "archive/archive_files.h"
#include "fake_clock.h"
#include "held_operation.h"
#include "ops_fixture.h"
#include "resources/resource_ids.h"
#include "test_archives.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <utility>

using namespace opsfixture;

namespace {

// Drags `urls` over the window and drops them; whether the window took them.
bool dropOn(CTarnboxDlg &dlg, const QList<QUrl> &urls)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = dlg.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &drop);
    return drop.isAccepted();
}

}  // namespace

class TestDesktopOpen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void droppedArchive_data();
    void droppedArchive();
    void startedWithAnArchiveListsIt();
    void dropOpensItUnlessAnOperationRuns();
    void largerWindowGivesTheListTheRoom();

private:
    FakeClock m_clock;  // the pause before an operation ends passes at once
    QTemporaryDir m_dir;
    QString m_wim;
};

void TestDesktopOpen::initTestCase()
{
    QVERIFY2(testarchives::haveTool(QStringLiteral("wimlib-imagex")),
             "wimlib-imagex (package wimtools, installed by scripts/install.sh) is needed to make test archives");
    const QString tree = m_dir.filePath(QStringLiteral("tree"));
    testarchives::writeTree(
        tree, {{QStringLiteral("a.txt"), "a"}, {QStringLiteral("data.bin"), QByteArray(1536 * 1024, 'd')}});
    m_wim = m_dir.filePath(QStringLiteral("桌面 archive.wim"));
    QString why;
    QVERIFY2(makeArchive(m_wim, {tree, tree}, {QStringLiteral("one"), QStringLiteral("two")}, &why), qPrintable(why));
    // Display names, as a captured system would have.
    for (const auto &[index, name] : {std::pair{1, "系统备份"}, std::pair{2, "数据备份"}}) {
        QVERIFY2(wimlib({QStringLiteral("info"), m_wim, QString::number(index), QStringLiteral("--image-property"),
                         QStringLiteral("DISPLAYNAME=") + QString::fromUtf8(name)},
                        &why),
                 qPrintable(why));
    }
}

void TestDesktopOpen::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("archive");  // relative to the current folder /tmp
    QTest::addColumn<bool>("help");
    QTest::addColumn<bool>("error");
    QTest::newRow("nothing") << QStringList{} << QString() << false << false;
    QTest::newRow("relative path") << QStringList{QStringLiteral("a b/x.wim")} << QStringLiteral("a b/x.wim") << false
                                   << false;
    QTest::newRow("file URL") << QStringList{QStringLiteral("file:///srv/%E6%A1%8C.wim")}
                              << QStringLiteral("/srv/桌.wim") << false << false;
    QTest::newRow("a name beginning with -")
        << QStringList{QStringLiteral("--"), QStringLiteral("-x.wim")} << QStringLiteral("-x.wim") << false << false;
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << QString() << true << false;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--fast")} << QString() << false << true;
    QTest::newRow("two archives") << QStringList{QStringLiteral("a.wim"), QStringLiteral("b.wim")} << QString() << false
                                  << true;
}

void TestDesktopOpen::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, archive);
    QFETCH(bool, help);
    QFETCH(bool, error);
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QStringLiteral("/tmp")));
    const CommandLine line = ParseCommandLine(QStringList{QStringLiteral("pellwick")} + arguments);
    QDir::setCurrent(cwd);
    QCOMPARE(line.archive,
             archive.isEmpty() ? QString() : QDir::cleanPath(QDir(QStringLiteral("/tmp")).absoluteFilePath(archive)));
    QCOMPARE(line.help, help);
    QCOMPARE(!line.error.isEmpty(), error);
}

void TestDesktopOpen::droppedArchive_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<bool>("taken");
    const auto file = [this](const char *name) { return QUrl::fromLocalFile(m_dir.filePath(QString::fromUtf8(name))); };
    QTest::newRow("one archive") << QList<QUrl>{file("x.wim")} << true;
    QTest::newRow("ESD, capitals") << QList<QUrl>{file("x.ESD")} << true;
    QTest::newRow("another type") << QList<QUrl>{file("x.iso")} << false;
    QTest::newRow("two archives") << QList<QUrl>{file("x.wim"), file("y.wim")} << false;
    QTest::newRow("a folder named like one") << QList<QUrl>{file("folder.wim")} << false;
    QTest::newRow("remote") << QList<QUrl>{QUrl(QStringLiteral("https://example.org/x.wim"))} << false;
}

void TestDesktopOpen::droppedArchive()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(bool, taken);
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("folder.wim"))));
    QCOMPARE(DroppedArchive(urls).isEmpty(), !taken);
    if (taken)
        QCOMPARE(DroppedArchive(urls), urls.first().toLocalFile());
}

void TestDesktopOpen::startedWithAnArchiveListsIt()
{
    // What start-up does with `pellwick <relative path>`.
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    const CommandLine line = ParseCommandLine({QStringLiteral("pellwick"), QFileInfo(m_wim).fileName()});
    QDir::setCurrent(cwd);
    QCOMPARE(line.archive, m_wim);

    RecordingPrompts prompts;
    WimlibBackend real;
    ScopedImaging scoped(&real);
    CTarnboxDlg dlg;
    dlg.OpenAtStart(line.archive);
    dlg.show();
    QTRY_COMPARE(windowview::rows(dlg).size(), 2);
    QCOMPARE(windowview::status(dlg).mid(2, 2), (QStringList{m_wim, QStringLiteral("读取和写入")}));
    // No chooser was asked.
    QVERIFY(prompts.calls().isEmpty());
    windowview::closeArchive(dlg);
}

void TestDesktopOpen::dropOpensItUnlessAnOperationRuns()
{
    WindowOnArchive w(m_wim);
    HeldOperation held(w.library, HeldOperation::Phase::Apply);
    ScopedImaging scoped(&held);
    const QString target = m_dir.filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(target));
    w.library.allowedApplyRoot = target;
    w.prompts.answerFolder(target);
    w.dlg->OnCommand(res::ID_APPLY_IMAGE);
    QVERIFY(held.waitUntilHeld());

    w.library.clear();
    QVERIFY(!dropOn(*w.dlg, {QUrl::fromLocalFile(m_wim)}));
    // Even a drop that got past the pointer's refusal reaches the guarded entry.
    w.dlg->OnCommand(res::ID_OPEN_FILE, m_wim);
    QTest::qWait(100);
    QVERIFY(w.library.callsStartingWith(QStringLiteral("CreateFile")).isEmpty());

    held.release();
    QVERIFY(waitForOperations());
    w.prompts.clear();
    QVERIFY(!dropOn(*w.dlg, {QUrl::fromLocalFile(m_wim), QUrl::fromLocalFile(m_wim)}));
    QVERIFY(dropOn(*w.dlg, {QUrl::fromLocalFile(m_wim)}));
    // Opened as the command opens, without the chooser.
    QTRY_COMPARE(w.library.callsStartingWith(QStringLiteral("CreateFile")).size(), 1);
    QCOMPARE(windowview::rows(*w.dlg).size(), 2);
    QVERIFY(w.prompts.calls().isEmpty());
    QCOMPARE(w.finish(), QString());
}

void TestDesktopOpen::largerWindowGivesTheListTheRoom()
{
    // A path too long for its field at the smallest size.
    const QString deep =
        m_dir.filePath(QStringLiteral("一个很长的文件夹名称/another rather long folder name/and one more"));
    QVERIFY(QDir().mkpath(deep));
    const QString wim = deep + QStringLiteral("/archive.wim");
    QVERIFY(QFile::copy(m_wim, wim));
    WindowOnArchive w(wim);
    CTarnboxDlg &dlg = *w.dlg;
    auto *path = dlg.findChild<QLabel *>(QStringLiteral("IDC_1005"));
    const QSize smallest = dlg.size();
    QCOMPARE(dlg.minimumSize(), smallest);
    struct Place {
        QWidget *control;
        QRect rect;
    };
    QList<Place> before;
    for (const char *name : {"IDC_IMAGE_LIST", "IDC_1003", "IDC_1005", "IDC_1008", "IDC_1022", "IDC_1010"})
        before.append({dlg.findChild<QWidget *>(QString::fromLatin1(name)), QRect()});
    for (Place &p : before)
        p.rect = p.control->geometry();

    // Elided in the middle: both ends stay, the whole path is the tooltip.
    QCOMPARE(path->toolTip(), wim);
    QVERIFY2(path->text() != wim && path->text().contains(QChar(0x2026)), qPrintable(path->text()));
    QVERIFY(path->text().startsWith(wim.left(4)) && path->text().endsWith(QStringLiteral("archive.wim")));
    QVERIFY(path->fontMetrics().horizontalAdvance(path->text()) <= path->width());

    const QString shots = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    if (!shots.isEmpty())
        QVERIFY(dlg.grab().save(shots + QStringLiteral("/main-window-smallest.png")));

    const QSize growth(400, 250);
    dlg.resize(smallest + growth);
    QTRY_COMPARE(dlg.size(), smallest + growth);
    // The list takes the room; below it everything keeps its place relative
    // to the bottom, the path fields and the bar widen, the percentage keeps right.
    QCOMPARE(before[0].control->geometry(), before[0].rect.adjusted(0, 0, growth.width(), growth.height()));
    QCOMPARE(before[1].control->geometry(), before[1].rect.translated(0, growth.height()));
    for (int i : {2, 3, 5})
        QCOMPARE(before[i].control->geometry(),
                 before[i].rect.translated(0, growth.height()).adjusted(0, 0, growth.width(), 0));
    QCOMPARE(before[4].control->geometry(), before[4].rect.translated(growth.width(), growth.height()));
    QCOMPARE(path->text(), wim);  // it fits now
    if (!shots.isEmpty()) {
        // With the progress area, as while an operation runs.
        dlg.BeginBusy();
        dlg.OnOpProgress(37);
        QVERIFY(dlg.grab().save(shots + QStringLiteral("/main-window-larger.png")));
        dlg.EndBusy();
    }

    // Never below the template's size, where its rectangles hold again.
    dlg.resize(smallest - QSize(100, 100));
    QTRY_COMPARE(dlg.size(), smallest);
    for (const Place &p : before)
        QCOMPARE(p.control->geometry(), p.rect);
    QCOMPARE(w.finish(), QString());
}

QTEST_MAIN(TestDesktopOpen)
#include "tst_desktop_open.moc"
