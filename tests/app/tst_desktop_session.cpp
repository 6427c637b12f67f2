// The main window as a newcomer meets it: the title, the empty list's hint,
// the menu's shortcut, delete's question, and a logout while only a message
// of a finished operation is open. Real archives made by wimlib-imagex.
#include "app/ctarnbox_dlg.h"
#include "fake_clock.h"
#include "ops_fixture.h"
#include "resources/resource_ids.h"
#include "test_archives.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace opsfixture;
using testarchives::fileBytes;

namespace {

// Answers every prompt with its default, except that the first message box
// stays open (a real dialog) until something ends it, as a user away from
// the screen leaves it; `onFirst` runs once it is up.
class AwayPrompts : public Prompts
{
public:
    std::function<void()> onFirst;
    QStringList texts;

    int messageBox(QObject *, const QString &text, const QString &, uint32_t type) override
    {
        texts << text;
        if (texts.size() == 1) {
            QDialog box;
            QTimer::singleShot(0, &box, onFirst);
            box.exec();
        }
        return defaultAnswer(type);
    }
    QString pickFolder(QObject *, const QString &) override { return {}; }
    QString openFile(QObject *, const FileChooser &) override { return {}; }
    QString saveFile(QObject *, const FileChooser &) override { return {}; }
    int execDialog(QDialog &) override { return QDialog::Rejected; }
};

}  // namespace

class TestDesktopSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void titleHintAndShortcut();
    void deleteAsksFirst_data();
    void deleteAsksFirst();
    void logoutWithOnlyAMessageOpen();

private:
    FakeClock m_clock;  // the pause before an operation ends passes at once
    QTemporaryDir m_dir;
    QString m_wim;
};

void TestDesktopSession::initTestCase()
{
    if (!testarchives::haveTool(QStringLiteral("wimlib-imagex")))
        QSKIP("wimlib-imagex is missing (Debian: wimtools, which scripts/install.sh installs)");
    const QString one = m_dir.filePath(QStringLiteral("one"));
    const QString two = m_dir.filePath(QStringLiteral("two"));
    testarchives::writeTree(one, {{QStringLiteral("a.txt"), "one"}});
    testarchives::writeTree(two, {{QStringLiteral("b.txt"), "two"}});
    m_wim = m_dir.filePath(QStringLiteral("源.wim"));
    QString why;
    QVERIFY2(makeArchive(m_wim, {one, two}, {QStringLiteral("一"), QStringLiteral("二")}, &why), qPrintable(why));
}

void TestDesktopSession::titleHintAndShortcut()
{
    {
        RecordingPrompts prompts;
        CTarnboxDlg empty;
        empty.show();
        QCOMPARE(empty.windowTitle(), QStringLiteral("Pellwick"));
        auto *hint = empty.findChild<QLabel *>(QStringLiteral("emptyHint"));
        QVERIFY(hint && hint->isVisible());
        QVERIFY2(hint->text().contains(QStringLiteral("右键")) && hint->text().contains(QStringLiteral("拖放")),
                 qPrintable(hint->text()));
        // Over the list's empty area, centred in it.
        const QPoint offset = hint->geometry().center() - empty.m_List->viewport()->rect().center();
        QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("%1 %2").arg(offset.x()).arg(offset.y())));
    }
    WindowOnArchive w(m_wim);
    QCOMPARE(w.dlg->windowTitle(), QStringLiteral("源.wim - Pellwick"));
    QVERIFY(!w.dlg->findChild<QLabel *>(QStringLiteral("emptyHint"))->isVisible());
    std::unique_ptr<QMenu> menu(w.dlg->CreateContextMenu());
    QVERIFY(menu);
    QAction *browse = nullptr;
    for (QAction *a : menu->actions())
        if (a->data().toInt() == res::ID_BROWSE_IMAGE)
            browse = a;
    QVERIFY(browse);
    QCOMPARE(browse->shortcut(), QKeySequence(QStringLiteral("Ctrl+B")));
    QVERIFY(browse->isShortcutVisibleInContextMenu());
    menu.reset();  // the window's child: before the window goes
    QCOMPARE(w.finish(), QString());
}

void TestDesktopSession::deleteAsksFirst_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("yes deletes") << IDYES;
    QTest::newRow("no keeps") << IDNO;
}

void TestDesktopSession::deleteAsksFirst()
{
    QFETCH(int, answer);
    const QString wim = m_dir.filePath(QStringLiteral("delete.wim"));
    QFile::remove(wim);
    QVERIFY(QFile::copy(m_wim, wim));
    const QByteArray before = fileBytes(wim);
    WindowOnArchive w(wim);
    w.dlg->SelectAndFocusRow(1);
    w.prompts.answerMessage(answer);
    w.dlg->OnCommand(res::ID_DELETE_IMAGE);

    const QList<RecordingPrompts::Call> asked = w.prompts.messages();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].text, QStringLiteral("确定要删除映像 2“二”吗？"));
    QCOMPARE(asked[0].type & (MB_TYPEMASK | MB_DEFBUTTON2), MB_YESNO | MB_DEFBUTTON2);
    QCOMPARE(w.finish(), QString());
    if (answer == IDYES) {
        QCOMPARE(testarchives::wimInfo(wim).names, QStringList{QStringLiteral("一")});
    } else {
        QVERIFY(w.library.callsStartingWith(QStringLiteral("Delete")).isEmpty());
        QCOMPARE(fileBytes(wim), before);
    }
}

void TestDesktopSession::logoutWithOnlyAMessageOpen()
{
    WindowOnArchive w(m_wim);
    AwayPrompts away;
    setPrompts(&away);
    // The verdict of a verify is up: nothing runs any more, so the logout
    // closes the window without asking, and the message goes with it.
    away.onFirst = [&w] { w.dlg->CloseForSessionEnd(); };
    w.dlg->OnCommand(res::ID_VERIFY_FILE);
    QTRY_VERIFY_WITH_TIMEOUT(!w.dlg->isVisible(), 30000);
    QVERIFY(waitForOperations());
    setPrompts(&w.prompts);
    QVERIFY2(!away.texts.join(u'\n').contains(QStringLiteral("当前正在处理中")), qPrintable(away.texts.join(u'\n')));
    QCOMPARE(w.dlg->result(), int(QDialog::Rejected));
    QVERIFY(!w.dlg->m_hWim);
}

QTEST_MAIN(TestDesktopSession)
#include "tst_desktop_session.moc"
