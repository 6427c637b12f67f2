// The exclusion list dialog: rows that mirror the list, the two pop-ups, the
// entries made from picked folders and files, removal, and the command that
// opens the dialog and saves the list however it was closed.
#include "app/ctarnbox_dlg.h"
#include "capture_settings/cwith_out_path.h"
#include "capture_settings/exclusion_list.h"
#include "recording_prompts.h"
#include "resources/resource_ids.h"
#include "support/platform.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

QStringList rowTexts(const CWithOutPath &dialog)
{
    QStringList out;
    for (int r = 0; r < dialog.m_List->rowCount(); ++r) {
        const QTableWidgetItem *item = dialog.m_List->item(r, 0);
        out << (item ? item->text() : QStringLiteral("<no item>"));
    }
    return out;
}

void setEntries(const QStringList &entries)
{
    exclusionList().clear();
    for (const QString &e : entries)
        exclusionList().append(e);
}

void selectAndFocus(CWithOutPath &dialog, int row)
{
    dialog.m_List->setCurrentCell(row, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QByteArray utf16le(const QString &s)
{
    QByteArray out;
    for (QChar c : s) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// A folder on a filesystem of its own, so that "the drive" is not "/": /dev/shm
// is a tmpfs mount point on every Linux we run on.
bool shmIsMountPoint()
{
    return QFileInfo(QStringLiteral("/dev/shm")).isDir()
           && platform::mountPointOf(QStringLiteral("/dev/shm")) == QLatin1String("/dev/shm");
}

}  // namespace

class TestExclusionDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void rowsMirrorTheList();
    void popup_data();
    void popup();
    void menuItemRunsItsCommand();
    void rightClickShowsThePopup();
    void addFolderOnAnotherDrive();
    void addFolder_data();
    void addFolder();
    void addFolderCancelled();
    void addFileKeepsCase();
    void addFileCancelled();
    void duplicatesAllowed();
    void removeMiddleOfThree();
    void removeWithoutSelectionDoesNothing();
    void nameWithLineBreakIsNotAdded();
    void enterClosesWithOk();
    void escKeepsAndSavesChanges();
    void emptiedListSavedEmpty();
    void failedSaveShowsMessage();
    void installedCopyKeepsListsPerUser();
    void fullListRefusesEntry();

private:
    std::unique_ptr<RecordingPrompts> m_prompts;
    QTemporaryDir m_tmp;
};

void TestExclusionDialog::init()
{
    m_prompts = std::make_unique<RecordingPrompts>();
    exclusionList().clear();
}

void TestExclusionDialog::cleanup()
{
    m_prompts.reset();
    exclusionList().clear();
}

void TestExclusionDialog::rowsMirrorTheList()
{
    setEntries(ExclusionList::defaults());
    CWithOutPath dialog;
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("捕获排除名单"));
    QCOMPARE(rowTexts(dialog), ExclusionList::defaults());
    QCOMPARE(dialog.m_List->columnCount(), 1);
    QCOMPARE(dialog.m_List->horizontalHeaderItem(0)->text(), QStringLiteral("需要排除的路径"));
    QCOMPARE(dialog.m_List->columnWidth(0), 640);
    QVERIFY(dialog.m_List->horizontalHeaderItem(0)->textAlignment() & Qt::AlignLeft);
    QCOMPARE(dialog.m_List->selectionMode(), QAbstractItemView::ExtendedSelection);
    // The buttons exist for Enter and Esc but are never shown.
    for (const char *name : {"IDOK", "IDCANCEL"}) {
        auto *button = dialog.findChild<QPushButton *>(QString::fromLatin1(name));
        QVERIFY(button);
        QVERIFY(!button->isVisible());
    }

    const QString out = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    if (!out.isEmpty())
        QVERIFY(dialog.grab().save(out + QStringLiteral("/exclusion-dialog.png")));
}

void TestExclusionDialog::popup_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("expectedPopup");
    QTest::newRow("nothing selected") << QStringLiteral("none") << 1;
    QTest::newRow("selected and focused") << QStringLiteral("both") << 0;
    QTest::newRow("focused, not selected") << QStringLiteral("focused") << 1;
    QTest::newRow("selected, focus elsewhere") << QStringLiteral("selected") << 1;
}

void TestExclusionDialog::popup()
{
    QFETCH(QString, state);
    QFETCH(int, expectedPopup);
    setEntries({QStringLiteral("\\a"), QStringLiteral("\\b\\"), QStringLiteral("\\c")});
    CWithOutPath dialog;
    dialog.show();
    QItemSelectionModel *sel = dialog.m_List->selectionModel();
    const QModelIndex row1 = dialog.m_List->model()->index(1, 0);
    const QModelIndex row2 = dialog.m_List->model()->index(2, 0);
    if (state == QLatin1String("both")) {
        selectAndFocus(dialog, 1);
    } else if (state == QLatin1String("focused")) {
        sel->setCurrentIndex(row1, QItemSelectionModel::Clear);
    } else if (state == QLatin1String("selected")) {
        sel->setCurrentIndex(row2, QItemSelectionModel::Clear);
        sel->select(row1, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    } else {
        sel->clear();
    }
    QCOMPARE(dialog.SelectedEntry(), expectedPopup == 0 ? 1 : -1);
    QCOMPARE(dialog.PopupIndex(), expectedPopup);

    std::unique_ptr<QMenu> menu(dialog.CreateContextMenu());
    QStringList texts;
    QList<int> commands;
    for (QAction *a : menu->actions()) {
        texts << a->text();
        commands << a->data().toInt();
    }
    if (expectedPopup == 0) {
        QCOMPARE(texts,
                 (QStringList{QStringLiteral("添加文件夹"), QStringLiteral("添加文件"), QStringLiteral("删除")}));
        QCOMPARE(commands, (QList<int>{32780, 32783, 32781}));
    } else {
        QCOMPARE(texts, (QStringList{QStringLiteral("添加文件夹"), QStringLiteral("添加文件")}));
        QCOMPARE(commands, (QList<int>{32780, 32783}));
    }
}

void TestExclusionDialog::menuItemRunsItsCommand()
{
    setEntries({QStringLiteral("\\a"), QStringLiteral("\\b")});
    CWithOutPath dialog;
    dialog.show();
    selectAndFocus(dialog, 0);
    std::unique_ptr<QMenu> menu(dialog.CreateContextMenu());
    const QList<QAction *> actions = menu->actions();
    QCOMPARE(actions.size(), 3);
    actions.at(2)->trigger();
    QCOMPARE(exclusionList().entries(), QStringList{QStringLiteral("\\b")});
    QCOMPARE(rowTexts(dialog), QStringList{QStringLiteral("\\b")});
}

void TestExclusionDialog::rightClickShowsThePopup()
{
    setEntries({QStringLiteral("\\a"), QStringLiteral("\\b")});
    CWithOutPath dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const auto openMenu = [&dialog]() -> QMenu * {
        for (QMenu *m : dialog.findChildren<QMenu *>()) {
            if (m->isVisible())
                return m;
        }
        return nullptr;
    };
    QVERIFY(!openMenu());
    selectAndFocus(dialog, 1);
    emit dialog.m_List->customContextMenuRequested(QPoint(5, 5));
    QTRY_VERIFY_WITH_TIMEOUT(openMenu(), 5000);
    QCOMPARE(openMenu()->actions().size(), 3);
    openMenu()->close();

    dialog.m_List->selectionModel()->clearSelection();
    emit dialog.m_List->customContextMenuRequested(QPoint(5, 5));
    QTRY_VERIFY_WITH_TIMEOUT(openMenu() && openMenu()->actions().size() == 2, 5000);
    openMenu()->close();
}

void TestExclusionDialog::addFolderOnAnotherDrive()
{
    if (!shmIsMountPoint())
        QSKIP("needs /dev/shm mounted as a filesystem of its own");
    QTemporaryDir drive(QStringLiteral("/dev/shm/PellwickTest-XXXXXX"));
    QVERIFY(drive.isValid());
    QVERIFY(QDir().mkpath(drive.filePath(QStringLiteral("Data/Logs"))));
    const QString top = QFileInfo(drive.path()).fileName();

    CWithOutPath dialog;
    dialog.show();
    m_prompts->answerFolder(drive.filePath(QStringLiteral("Data/Logs")));
    dialog.OnAddFolder();
    // Mount point removed, "\" separators, trailing "\", lower case.
    const QString expected = QStringLiteral("\\") + top.toLower() + QStringLiteral("\\data\\logs\\");
    QCOMPARE(exclusionList().entries(), QStringList{expected});
    QCOMPARE(rowTexts(dialog), QStringList{expected});

    const auto calls = m_prompts->calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.at(0).kind, RecordingPrompts::Kind::PickFolder);
    QCOMPARE(calls.at(0).text, QStringLiteral("选择目录"));
    QCOMPARE(calls.at(0).owner, &dialog);

    // The root of that drive is a folder entry every path matches.
    m_prompts->answerFolder(QStringLiteral("/dev/shm"));
    dialog.OnAddFolder();
    QCOMPARE(exclusionList().at(1), QStringLiteral("\\"));
}

void TestExclusionDialog::addFolder_data()
{
    QTest::addColumn<QString>("relative");  // under a temporary folder; "/" alone means the root
    QTest::addColumn<bool>("trailingSlash");
    QTest::addColumn<QString>("tail");  // how the entry ends
    QTest::newRow("system drive root") << QStringLiteral("/") << false << QStringLiteral("\\");
    QTest::newRow("folder") << QStringLiteral("Data/Logs") << false << QStringLiteral("\\data\\logs\\");
    QTest::newRow("folder given with a trailing slash")
        << QStringLiteral("Data/Logs") << true << QStringLiteral("\\data\\logs\\");
    QTest::newRow("only A-Z folded") << QStringLiteral("ÄÖ Mixed/SUB") << false << QStringLiteral("\\ÄÖ mixed\\sub\\");
}

void TestExclusionDialog::addFolder()
{
    QFETCH(QString, relative);
    QFETCH(bool, trailingSlash);
    QFETCH(QString, tail);
    QString picked = QStringLiteral("/");
    QString expected = QStringLiteral("\\");
    if (relative != QLatin1String("/")) {
        QVERIFY(QDir().mkpath(m_tmp.filePath(relative)));
        picked = m_tmp.filePath(relative) + (trailingSlash ? QStringLiteral("/") : QString());
        expected = platform::driveRelativePath(m_tmp.filePath(relative)) + QLatin1Char('\\');
        for (QChar &c : expected) {
            if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                c = QChar(c.unicode() + 32);
        }
    }
    QVERIFY(expected.endsWith(tail));
    CWithOutPath dialog;
    dialog.show();
    m_prompts->answerFolder(picked);
    dialog.OnAddFolder();
    QCOMPARE(exclusionList().entries(), QStringList{expected});
    QCOMPARE(rowTexts(dialog), QStringList{expected});
}

void TestExclusionDialog::addFolderCancelled()
{
    setEntries({QStringLiteral("\\a")});
    CWithOutPath dialog;
    dialog.show();
    dialog.OnAddFolder();  // nothing scripted: the picker is cancelled
    QCOMPARE(exclusionList().entries(), QStringList{QStringLiteral("\\a")});
    QCOMPARE(dialog.m_List->rowCount(), 1);
    QCOMPARE(m_prompts->calls().size(), 1);
}

void TestExclusionDialog::addFileKeepsCase()
{
    QVERIFY(QDir().mkpath(m_tmp.filePath(QStringLiteral("Data"))));
    const QString file = m_tmp.filePath(QStringLiteral("Data/Big.ISO"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    // A link is excluded by its own name, not by its target's.
    const QString link = m_tmp.filePath(QStringLiteral("Data/Link.ISO"));
    QVERIFY(QFile::link(file, link));

    CWithOutPath dialog;
    dialog.show();
    m_prompts->answerOpenFile(file);
    dialog.OnAddFile();
    m_prompts->answerOpenFile(link);
    dialog.OnAddFile();

    const QString dir = platform::driveRelativePath(m_tmp.filePath(QStringLiteral("Data")));
    QVERIFY(dir.endsWith(QStringLiteral("\\Data")));
    const QStringList expected{dir + QStringLiteral("\\Big.ISO"), dir + QStringLiteral("\\Link.ISO")};
    QCOMPARE(exclusionList().entries(), expected);
    QCOMPARE(rowTexts(dialog), expected);

    const auto calls = m_prompts->calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls.at(0).kind, RecordingPrompts::Kind::OpenFile);
    QCOMPARE(calls.at(0).chooser.filter, QStringLiteral("所有文件(*.*)|*.*||"));
    QCOMPARE(calls.at(0).chooser.defaultExtension, QStringLiteral("*"));
    QVERIFY(calls.at(0).chooser.initialName.isEmpty());
}

void TestExclusionDialog::addFileCancelled()
{
    CWithOutPath dialog;
    dialog.show();
    dialog.OnAddFile();
    QCOMPARE(exclusionList().count(), 0);
    QCOMPARE(dialog.m_List->rowCount(), 0);
}

void TestExclusionDialog::duplicatesAllowed()
{
    QVERIFY(QDir().mkpath(m_tmp.filePath(QStringLiteral("Twice"))));
    CWithOutPath dialog;
    dialog.show();
    m_prompts->answerFolder(m_tmp.filePath(QStringLiteral("Twice")));
    m_prompts->answerFolder(m_tmp.filePath(QStringLiteral("Twice")));
    dialog.OnAddFolder();
    dialog.OnAddFolder();
    QCOMPARE(exclusionList().count(), 2);
    QCOMPARE(exclusionList().at(0), exclusionList().at(1));
    QVERIFY(exclusionList().at(0).endsWith(QStringLiteral("\\twice\\")));
    QCOMPARE(rowTexts(dialog), exclusionList().entries());
}

void TestExclusionDialog::removeMiddleOfThree()
{
    setEntries({QStringLiteral("\\one"), QStringLiteral("\\two\\"), QStringLiteral("\\three")});
    CWithOutPath dialog;
    dialog.show();
    selectAndFocus(dialog, 1);
    dialog.OnRemove();
    const QStringList expected{QStringLiteral("\\one"), QStringLiteral("\\three")};
    QCOMPARE(exclusionList().entries(), expected);
    QCOMPARE(rowTexts(dialog), expected);
}

void TestExclusionDialog::removeWithoutSelectionDoesNothing()
{
    setEntries({QStringLiteral("\\one"), QStringLiteral("\\two")});
    CWithOutPath dialog;
    dialog.show();
    dialog.m_List->selectionModel()->setCurrentIndex(dialog.m_List->model()->index(0, 0), QItemSelectionModel::Clear);
    dialog.OnRemove();
    QCOMPARE(exclusionList().count(), 2);
    QCOMPARE(dialog.m_List->rowCount(), 2);
}

void TestExclusionDialog::nameWithLineBreakIsNotAdded()
{
    const QString odd = m_tmp.filePath(QStringLiteral("two\nlines"));
    QVERIFY(QDir().mkpath(odd));
    CWithOutPath dialog;
    dialog.show();
    m_prompts->answerFolder(odd);
    dialog.OnAddFolder();
    // It could not be saved as one entry; nothing half-right is added.
    QCOMPARE(exclusionList().count(), 0);
    QCOMPARE(dialog.m_List->rowCount(), 0);
}

void TestExclusionDialog::enterClosesWithOk()
{
    CWithOutPath dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.m_List->setFocus();
    QTest::keyClick(dialog.m_List, Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestExclusionDialog::escKeepsAndSavesChanges()
{
    QTemporaryDir appDir;
    {
        // A portable copy: its lists are beside it.
        QFile portable(appDir.filePath(QStringLiteral("set2.data")));
        QVERIFY(portable.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir().mkpath(m_tmp.filePath(QStringLiteral("Added"))));
    CTarnboxDlg window;
    window.m_strAppDir = appDir.path() + QLatin1Char('/');
    setEntries({QStringLiteral("\\first")});

    m_prompts->answerFolder(m_tmp.filePath(QStringLiteral("Added")));
    bool handled = false;
    m_prompts->onDialog([&](QDialog &d) {
        auto *dialog = qobject_cast<CWithOutPath *>(&d);
        if (!dialog)
            return int(QDialog::Rejected);
        handled = true;
        dialog->OnAddFolder();
        QTest::keyClick(dialog, Qt::Key_Escape);
        return dialog->isVisible() ? -1 : dialog->result();
    });
    window.OnCommand(res::ID_SET_EXCLUSIONS);
    QVERIFY(handled);

    const auto dialogs = m_prompts->calls();
    const auto it = std::find_if(dialogs.begin(), dialogs.end(), [](const RecordingPrompts::Call &c) {
        return c.kind == RecordingPrompts::Kind::Dialog;
    });
    QVERIFY(it != dialogs.end());
    QCOMPARE(it->text, QStringLiteral("CWithOutPath"));
    QCOMPARE(it->owner, nullptr);  // no parent window

    QCOMPARE(exclusionList().count(), 2);
    const QString added = exclusionList().at(1);
    QVERIFY(added.endsWith(QStringLiteral("\\added\\")));
    QCOMPARE(readFile(appDir.filePath(QStringLiteral("set2.data"))), utf16le(QStringLiteral("\\first\r\n") + added));
}

void TestExclusionDialog::emptiedListSavedEmpty()
{
    QTemporaryDir appDir;
    const QString file = appDir.filePath(QStringLiteral("set2.data"));
    const QByteArray before = utf16le(QStringLiteral("\\saved-before"));
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(before), before.size());
    }
    CTarnboxDlg window;
    window.m_strAppDir = appDir.path() + QLatin1Char('/');
    window.LoadExclusionList();
    QCOMPARE(exclusionList().entries(), QStringList{QStringLiteral("\\saved-before")});
    m_prompts->onDialog([&](QDialog &d) {
        auto *dialog = qobject_cast<CWithOutPath *>(&d);
        if (!dialog)
            return int(QDialog::Rejected);
        selectAndFocus(*dialog, 0);
        dialog->OnRemove();
        dialog->reject();
        return dialog->result();
    });
    window.SetExclusions();
    QCOMPARE(exclusionList().count(), 0);
    // Written empty, so the removed entry does not come back at the next start.
    QCOMPARE(readFile(file), QByteArray());
    QVERIFY(m_prompts->messages().isEmpty());
    setEntries({QStringLiteral("\\stale")});
    window.LoadExclusionList();
    QCOMPARE(exclusionList().count(), 0);
}

void TestExclusionDialog::failedSaveShowsMessage()
{
    QTemporaryDir appDir;
    // A folder where the file should be: the new file cannot replace it.
    QVERIFY(QDir().mkpath(appDir.filePath(QStringLiteral("set2.data/inside"))));
    CTarnboxDlg window;
    window.m_strAppDir = appDir.path() + QLatin1Char('/');
    setEntries({QStringLiteral("\\kept")});
    window.SetExclusions();

    const QStringList texts = m_prompts->messageTexts();
    QCOMPARE(texts.size(), 1);
    QCOMPARE(texts[0], QStringLiteral("排除名单保存失败，修改只在本次运行中有效！"));
    // Beneath it, the file and why (here Qt's own words: no system call failed).
    const QString prefix = appDir.filePath(QStringLiteral("set2.data")) + QStringLiteral(": ");
    const QString detail = m_prompts->messageDetails()[0];
    QVERIFY2(detail.startsWith(prefix) && detail.size() > prefix.size(), qPrintable(detail));
    QCOMPARE(m_prompts->messages()[0].caption, QStringLiteral("错误提示"));
    QVERIFY(QFileInfo(appDir.filePath(QStringLiteral("set2.data/inside"))).isDir());
    QCOMPARE(exclusionList().entries(), QStringList{QStringLiteral("\\kept")});
}

void TestExclusionDialog::installedCopyKeepsListsPerUser()
{
    // An installed copy: its folder holds no lists, and the user's
    // configuration folder gets them, only once something changed.
    QTemporaryDir appDir, config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    CTarnboxDlg window;
    window.m_strAppDir = appDir.path() + QLatin1Char('/');
    window.LoadExclusionList();
    QCOMPARE(exclusionList().entries(), ExclusionList::defaults());
    const auto written = [&] {
        QStringList files;
        for (const QTemporaryDir *d : {&appDir, &config}) {
            QDirIterator it(d->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext())
                files << it.next();
        }
        return files;
    };
    m_prompts->onDialog([](QDialog &d) {
        d.reject();
        return d.result();
    });
    window.SetExclusions();
    QCOMPARE(written(), QStringList());

    m_prompts->onDialog([](QDialog &d) {
        auto *dialog = qobject_cast<CWithOutPath *>(&d);
        selectAndFocus(*dialog, 0);
        dialog->OnRemove();
        dialog->accept();
        return dialog->result();
    });
    window.SetExclusions();
    const QStringList files = written();
    QCOMPARE(files.size(), 1);
    QVERIFY2(files[0].startsWith(config.path() + QLatin1Char('/')) && files[0].endsWith(QStringLiteral("/set2.data")),
             qPrintable(files[0]));
    QCOMPARE(readFile(files[0]), serializeExclusionList(exclusionList()));
    // Saved: closing once more without a change writes nothing again (the
    // file taken away does not come back).
    QVERIFY(QFile::remove(files[0]));
    m_prompts->onDialog([](QDialog &d) {
        d.reject();
        return d.result();
    });
    window.SetExclusions();
    QCOMPARE(written(), QStringList());
    qunsetenv("XDG_CONFIG_HOME");
}

void TestExclusionDialog::fullListRefusesEntry()
{
    QStringList full;
    for (int i = 0; i < ExclusionList::kMaxEntries; ++i)
        full << QStringLiteral("\\e%1").arg(i);
    setEntries(full);
    QCOMPARE(exclusionList().count(), ExclusionList::kMaxEntries);
    CWithOutPath dialog;
    dialog.show();
    m_prompts->answerFolder(m_tmp.path());
    dialog.OnAddFolder();
    QCOMPARE(m_prompts->messageTexts(), QStringList{QStringLiteral("排除名单已满，最多 4096 项！")});
    QCOMPARE(exclusionList().entries(), full);
    QCOMPARE(dialog.m_List->rowCount(), ExclusionList::kMaxEntries);
}

QTEST_MAIN(TestExclusionDialog)
#include "tst_exclusion_dialog.moc"
