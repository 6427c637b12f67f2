// Browsing an image from the main window and extracting from it: real
// archives made by wimlib-imagex, the browse dialog driven as a user would.
#include "app/ctarnbox_dlg.h"
#include "archive/cbrowse_image_dlg.h"
#include "archive/image_folder_model.h"
#include "archive/image_folder_tree.h"
#include "archive/image_path.h"
#include "archive/image_search_results.h"
#include "fake_clock.h"
#include "held_operation.h"
#include "ops_fixture.h"
#include "recording_prompts.h"
#include "resources/resource_ids.h"
#include "support/desktop_open.h"
#include "test_archives.h"

#include <QAbstractProxyModel>
#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using namespace opsfixture;
using testarchives::fileBytes;
using Phase = HeldOperation::Phase;

namespace {

const QString kImageName = QStringLiteral("Windows 10 专业版");

QByteArray pattern(int size, char seed)
{
    QByteArray data(size, seed);
    for (int i = 0; i < size; i += 61)
        data[i] = char(seed + i / 61);
    return data;
}

const QMap<QString, QByteArray> kTree{
    {QStringLiteral("bootmgr"), pattern(393216, 'b')},
    {QStringLiteral("Windows/win.ini"), "; for 16-bit app support\r\n[fonts]\r\n"},
    {QStringLiteral("Windows/System32/notepad.exe"), pattern(201216, 'n')},
    {QStringLiteral("Windows/System32/kernel32.dll"), pattern(770048, 'k')},
    {QStringLiteral("Windows/System32/drivers/etc/hosts"), "127.0.0.1 localhost\n"},
    {QStringLiteral("Windows/System32/config/SOFTWARE"), pattern(65536, 's')},
    {QStringLiteral("Windows/Temp/"), QByteArray()},
    {QStringLiteral("Program Files/Pellwick/readme.txt"), "Pellwick\n"},
    {QStringLiteral("Users/Public/Documents/说明.txt"), "中文内容"},
    {QStringLiteral("Users/Public/Documents/报告 2.docx"), pattern(15000, 'r')},
    {QStringLiteral("Users/Public/Documents/报告 10.docx"), pattern(23000, 'R')},
};

// The names in the browse dialog's list, top to bottom.
QStringList listedNames(const CBrowseImageDlg &browse)
{
    QStringList names;
    const QAbstractItemModel *model = browse.m_List->model();
    for (int r = 0; r < model->rowCount(); ++r)
        names << model->index(r, 0).data().toString();
    return names;
}

QRect rowRect(const CBrowseImageDlg &browse, const QString &name)
{
    const int row = browse.m_Entries->rowOf(name);
    return browse.m_List->visualRect(browse.m_List->model()->index(row, 0));
}

// Selects the entries called `names`, clicking the first and ctrl-clicking the rest.
void selectEntries(CBrowseImageDlg &browse, const QStringList &names)
{
    for (qsizetype i = 0; i < names.size(); ++i)
        QTest::mouseClick(browse.m_List->viewport(), Qt::LeftButton, i ? Qt::ControlModifier : Qt::NoModifier,
                          rowRect(browse, names[i]).center());
}

// Drops `files` from a file manager at `at` of `view`; whether it was taken.
bool dropFiles(QAbstractItemView *view, const QPoint &at, const QStringList &files)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &file : files)
        urls << QUrl::fromLocalFile(file);
    data.setUrls(urls);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &drop);
    return drop.isAccepted();
}

// The list's context menu entry with command `id`, triggered; false when it is disabled.
bool triggerMenu(CBrowseImageDlg &browse, int id)
{
    std::unique_ptr<QMenu> menu(browse.CreateContextMenu());
    for (QAction *action : menu->actions()) {
        if (action->data().toInt() == id && action->isEnabled()) {
            action->trigger();
            return true;
        }
    }
    return false;
}

// One file of image 1, extracted by wimlib-imagex.
QByteArray extractedFile(const QString &wim, const QString &imagePath, const QString &dir)
{
    QString why;
    if (!wimlib({QStringLiteral("extract"), wim, QStringLiteral("1"), imagePath, QStringLiteral("--dest-dir=") + dir,
                 QStringLiteral("--no-acls")},
                &why))
        return "(" + why.toUtf8() + ")";
    QFile file(dir + QLatin1Char('/') + imagePath.mid(imagePath.lastIndexOf(QLatin1Char('/')) + 1));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

QPushButton *extractButton(const CBrowseImageDlg &browse)
{
    return browse.findChild<QPushButton *>(QStringLiteral("IDC_EXTRACT"));
}

// A window grab under a drawn title bar, as the window manager would frame it.
QImage framed(QWidget &window)
{
    const QPixmap content = window.grab();
    const int bar = window.fontMetrics().height() + 10;
    QImage image(content.width() + 2, content.height() + bar + 1, QImage::Format_RGB32);
    image.fill(QColor(0x3b, 0x5b, 0x8c));
    QPainter p(&image);
    p.setPen(Qt::white);
    p.setFont(window.font());
    p.drawText(QRect(8, 0, image.width() - 16, bar), Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
    p.drawPixmap(1, bar, content);
    return image;
}

void saveShot(QWidget &window, const QString &name)
{
    const QString out = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    if (!out.isEmpty())
        QVERIFY(framed(window).save(out + QLatin1Char('/') + name));
}

}  // namespace

class TestBrowseExtract : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void browseEnterSelectExtract();
    void pathBar();
    void clashingNameFailsAndLeavesDestination();
    void extractionHeld();
    void addByDropOntoFolder();
    void deleteRenameNewFolder();
    void changesRefusedAndFailed();
    void openAndDragOut();
    void findAcrossFolders();

private:
    // Opens the browse dialog on row 0 with Ctrl+B and waits for its root.
    CBrowseImageDlg *openBrowse(WindowOnArchive &w);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeClock> m_clock;
    QTemporaryDir m_made;  // the tree and its archive
    QString m_wim;         // the test's copy of the archive
    QString m_tree;
};

void TestBrowseExtract::initTestCase()
{
    QVERIFY2(testarchives::haveTool(QStringLiteral("wimlib-imagex")),
             "wimlib-imagex (package wimtools, installed by scripts/install.sh) is needed to make test archives");
    // Made once; each test changes a copy of the archive and only reads the tree.
    QVERIFY(m_made.isValid());
    m_tree = m_made.filePath(QStringLiteral("tree"));
    testarchives::writeTree(m_tree, kTree);
    QVERIFY(QFile::link(QStringLiteral("Users"), m_tree + QStringLiteral("/Documents and Settings")));
    QString why;
    QVERIFY2(makeArchive(m_made.filePath(QStringLiteral("source.wim")), {m_tree}, {kImageName}, &why), qPrintable(why));
}

void TestBrowseExtract::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_wim = m_dir->filePath(QStringLiteral("source.wim"));
    QVERIFY(QFile::copy(m_made.filePath(QStringLiteral("source.wim")), m_wim));
    m_clock = std::make_unique<FakeClock>();
}

void TestBrowseExtract::cleanup()
{
    QVERIFY(waitForOperations());
    m_clock.reset();
    m_dir.reset();
}

CBrowseImageDlg *TestBrowseExtract::openBrowse(WindowOnArchive &w)
{
    w.dlg->SelectAndFocusRow(0);
    QTest::keyClick(w.dlg->m_List, Qt::Key_B, Qt::ControlModifier);
    auto *browse = w.dlg->findChild<CBrowseImageDlg *>();
    if (!browse || !QTest::qWaitFor([browse] { return browse->CurrentFolder() == QLatin1String("/"); }, 30000))
        return nullptr;
    return browse;
}

void TestBrowseExtract::browseEnterSelectExtract()
{
    WindowOnArchive w(m_wim);
    CBrowseImageDlg *browse = openBrowse(w);
    QVERIFY(browse);
    QVERIFY(browse->isVisible());
    QVERIFY(!browse->isModal());
    QCOMPARE(browse->windowTitle(), QStringLiteral("浏览映像文件 - ") + kImageName);
    // Folders first, then by name; a link is a link.
    QCOMPARE(listedNames(*browse),
             (QStringList{QStringLiteral("Program Files"), QStringLiteral("Users"), QStringLiteral("Windows"),
                          QStringLiteral("bootmgr"), QStringLiteral("Documents and Settings")}));
    // The image as a whole, from its metadata.
    QVERIFY(browse->findChild<QLabel *>(QStringLiteral("IDC_IMAGE_DETAILS"))
                ->text()
                .startsWith(QStringLiteral("共 12 个文件夹、11 个文件，总大小 ")));
    const QAbstractItemModel *model = browse->m_List->model();
    QCOMPARE(model->index(3, 1).data().toString(), QStringLiteral("384KB"));
    QCOMPARE(model->index(4, 3).data().toString(), QStringLiteral("链接"));
    QCOMPARE(browse->findChild<QLabel *>(QStringLiteral("IDC_BROWSE_STATUS"))->text(), QStringLiteral("5 个项目"));
    saveShot(*browse, QStringLiteral("browse-root.png"));

    // A double-click as the platform delivers it: a click, then the double-click.
    const QPoint windows = rowRect(*browse, QStringLiteral("Windows")).center();
    QTest::mouseClick(browse->m_List->viewport(), Qt::LeftButton, {}, windows);
    QTest::mouseDClick(browse->m_List->viewport(), Qt::LeftButton, {}, windows);
    QTRY_COMPARE_WITH_TIMEOUT(browse->CurrentFolder(), QStringLiteral("/Windows"), 20000);
    QCOMPARE(browse->m_PathBar->text(), QStringLiteral("/Windows"));
    QCOMPARE(ImageFolderTree::pathOf(static_cast<const QAbstractProxyModel *>(browse->m_Tree->model())
                                         ->mapToSource(browse->m_Tree->currentIndex())),
             QStringLiteral("/Windows"));
    QCOMPARE(listedNames(*browse),
             (QStringList{QStringLiteral("System32"), QStringLiteral("Temp"), QStringLiteral("win.ini")}));

    // The status line counts the selection as it changes.
    const QLabel *status = browse->findChild<QLabel *>(QStringLiteral("IDC_BROWSE_STATUS"));
    QTest::keyClick(browse->m_List, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(status->text(), QStringLiteral("已选择 3 个项目，共 3 个"));
    QCOMPARE(browse->SelectedPaths().size(), 3);
    selectEntries(*browse, {QStringLiteral("System32"), QStringLiteral("win.ini")});
    QCOMPARE(status->text(), QStringLiteral("已选择 2 个项目，共 3 个"));
    QCOMPARE(browse->SelectedPaths(),
             (QStringList{QStringLiteral("/Windows/System32"), QStringLiteral("/Windows/win.ini")}));
    saveShot(*browse, QStringLiteral("browse-folder.png"));

    const QString destination = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(destination));
    w.prompts.answerFolder(destination + QLatin1Char('/'));
    QTest::mouseClick(extractButton(*browse), Qt::LeftButton);
    QVERIFY(waitForOperations());

    // The chosen folder and file landed under their own names, bytes and all.
    QMap<QString, QByteArray> expected = testarchives::readTree(m_tree + QStringLiteral("/Windows"));
    expected.remove(QStringLiteral("Temp/"));
    QCOMPARE(testarchives::readTree(destination), expected);
    const auto calls = w.prompts.calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0].kind, RecordingPrompts::Kind::PickFolder);
    QCOMPARE(calls[0].owner, browse);
    QCOMPARE(calls[1].text, kDone + QStringLiteral("1秒"));  // the apply's pauses
    QCOMPARE(calls[1].caption, QStringLiteral("温馨提示"));
    QVERIFY(w.dlg->AcceptsCommands());
    QVERIFY(browse->isVisible());

    // Deleting an image moves the later ones: the dialog on the old numbering goes.
    QPointer<CBrowseImageDlg> watched(browse);
    w.dlg->SelectAndFocusRow(0);
    w.prompts.answerMessage(IDYES);
    w.dlg->OnCommand(res::ID_DELETE_IMAGE);
    QTRY_VERIFY_WITH_TIMEOUT(watched.isNull(), 5000);
    const QString problems = w.finish();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestBrowseExtract::pathBar()
{
    WindowOnArchive w(m_wim);
    CBrowseImageDlg *browse = openBrowse(w);
    QVERIFY(browse);
    // Typed as on Windows, in other letter case, naming a file: its folder,
    // with it selected.
    QTest::keyClicks(browse->m_PathBar, QStringLiteral("\\windows\\system32\\DRIVERS\\etc\\HOSTS"));
    QTest::keyClick(browse->m_PathBar, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(browse->CurrentFolder(), QStringLiteral("/Windows/System32/drivers/etc"), 20000);
    QCOMPARE(browse->SelectedPaths(), QStringList{QStringLiteral("/Windows/System32/drivers/etc/hosts")});
    QVERIFY(w.prompts.calls().isEmpty());

    browse->m_PathBar->setText(QStringLiteral("/Windows/nothing here"));
    QTest::keyClick(browse->m_PathBar, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!w.prompts.messages().isEmpty(), 20000);
    const auto message = w.prompts.messages().first();
    QCOMPARE(message.text, QStringLiteral("无法打开映像中的 /Windows/nothing here！"));
    QCOMPARE(message.caption, QStringLiteral("错误提示"));
    QCOMPARE(message.detail, QStringLiteral("文件或文件夹不存在"));
    QCOMPARE(browse->CurrentFolder(), QStringLiteral("/Windows/System32/drivers/etc"));
    QCOMPARE(browse->m_PathBar->text(), browse->CurrentFolder());

    // Backspace goes up, with the folder left selected.
    browse->m_List->setFocus();
    QTest::keyClick(browse->m_List, Qt::Key_Backspace);
    QTRY_COMPARE_WITH_TIMEOUT(browse->CurrentFolder(), QStringLiteral("/Windows/System32/drivers"), 20000);
    QCOMPARE(browse->SelectedPaths(), QStringList{QStringLiteral("/Windows/System32/drivers/etc")});
    const QString problems = w.finish();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestBrowseExtract::clashingNameFailsAndLeavesDestination()
{
    WindowOnArchive w(m_wim);
    CBrowseImageDlg *browse = openBrowse(w);
    QVERIFY(browse);
    const QString destination = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(destination + QStringLiteral("/bootmgr/kept")));
    selectEntries(*browse, {QStringLiteral("bootmgr"), QStringLiteral("Program Files")});
    w.prompts.answerFolder(destination);
    // The list's own menu asks for the same extraction.
    std::unique_ptr<QMenu> menu(browse->CreateContextMenu());
    QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("提取到…"));
    menu->actions().at(1)->trigger();
    menu.reset();
    QVERIFY(waitForOperations());

    QCOMPARE(w.prompts.messageTexts().size(), 2);
    const auto failure = w.prompts.messages().first();
    QCOMPARE(failure.text, QStringLiteral("无法提取文件到目标路径"));
    QCOMPARE(failure.caption, QStringLiteral("错误提示"));
    QCOMPARE(failure.detail, QStringLiteral("目标文件夹中已有同名的文件夹，不能用文件替换它"));
    QVERIFY(w.prompts.messageTexts().last().startsWith(kDone));
    // All or nothing: "Program Files" did not come either, and no hidden folder stays.
    QCOMPARE(QDir(destination).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("bootmgr")});
    QVERIFY(QFileInfo(destination + QStringLiteral("/bootmgr/kept")).isDir());
    const QString problems = w.finish();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestBrowseExtract::extractionHeld()
{
    WindowOnArchive w(m_wim);
    HeldOperation held(w.library, Phase::Apply);
    ScopedImaging scoped(&held);
    CBrowseImageDlg *browse = openBrowse(w);
    QVERIFY(browse);
    QPointer<CBrowseImageDlg> watched(browse);
    const QString destination = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(destination));
    selectEntries(*browse, {QStringLiteral("Windows"), QStringLiteral("bootmgr")});
    w.prompts.answerFolder(destination);
    QTest::mouseClick(extractButton(*browse), Qt::LeftButton);
    QVERIFY(held.waitUntilHeld());
    QVERIFY(w.dlg->IsBusy());

    // Looking goes on while the library extracts.
    browse->OpenPath(QStringLiteral("/Users/Public/Documents"));
    QTRY_COMPARE_WITH_TIMEOUT(browse->CurrentFolder(), QStringLiteral("/Users/Public/Documents"), 20000);
    QCOMPARE(listedNames(*browse),
             (QStringList{QStringLiteral("报告 2.docx"), QStringLiteral("报告 10.docx"), QStringLiteral("说明.txt")}));

    // Whatever would start another operation is refused, silently.
    w.prompts.clear();
    selectEntries(*browse, {QStringLiteral("说明.txt")});
    QTest::mouseClick(extractButton(*browse), Qt::LeftButton);
    QVERIFY(triggerMenu(*browse, res::ID_EXTRACT_ENTRIES));
    w.dlg->OnCommand(res::ID_BROWSE_IMAGE);
    QTest::keyClick(w.dlg->m_List, Qt::Key_B, Qt::ControlModifier);
    w.dlg->OnCommand(res::ID_APPLY_IMAGE);
    QTest::keyClick(browse->m_List, Qt::Key_Delete);
    QTest::keyClick(browse->m_List, Qt::Key_Return);  // would open the file
    QCOMPARE(std::unique_ptr<QMimeData>(browse->CreateDragData())->urls(), QList<QUrl>());
    QVERIFY(w.prompts.calls().isEmpty());
    QCOMPARE(w.dlg->findChildren<CBrowseImageDlg *>().size(), 1);

    const QString out = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    if (!out.isEmpty()) {
        const QImage main = framed(*w.dlg);
        const QImage dialog = framed(*browse);
        QImage both(std::max(main.width(), dialog.width() + 40), main.height() + dialog.height() + 8,
                    QImage::Format_RGB32);
        both.fill(QColor(0x6e, 0x7f, 0x8d));
        QPainter p(&both);
        p.drawImage(0, 0, main);
        p.drawImage(40, main.height() + 8, dialog);
        p.end();
        QVERIFY(both.save(out + QStringLiteral("/browse-extracting.png")));
    }

    // Closing the window asks, aborts the extraction and ends the dialog too.
    w.prompts.answerMessage(IDOK);
    w.dlg->CloseApp();
    QTRY_VERIFY_WITH_TIMEOUT(
        w.prompts.messageTexts().contains(QStringLiteral("当前正在处理中，你确定要关闭应用程序？")), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(watched.isNull(), 5000);
    held.release();
    QTRY_VERIFY_WITH_TIMEOUT(!w.dlg->isVisible(), 60000);
    QVERIFY(waitForOperations());
    // Nothing partial under a real name, no hidden folder left.
    QCOMPARE(QDir(destination).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    const QString problems = w.finish();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestBrowseExtract::addByDropOntoFolder()
{
    const QString source = m_dir->filePath(QStringLiteral("new"));
    testarchives::writeTree(source, {{QStringLiteral("Added/a.txt"), "A"},
                                     {QStringLiteral("Added/深/b.txt"), pattern(70000, 'a')},
                                     {QStringLiteral("win.ini"), "replaced"}});
    WindowOnArchive w(m_wim);
    CBrowseImageDlg *browse = openBrowse(w);
    QVERIFY(browse);
    // Onto the folder "Windows", which holds a win.ini already: replaced.
    w.prompts.answerMessage(IDYES);
    selectEntries(*browse, {QStringLiteral("Windows")});
    saveShot(*browse, QStringLiteral("browse-drop.png"));
    QVERIFY(dropFiles(browse->m_List, rowRect(*browse, QStringLiteral("Windows")).center(),
                      {source + QStringLiteral("/Added"), source + QStringLiteral("/win.ini")}));
    QVERIFY(waitForOperations());
    const auto messages = w.prompts.messages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages[0].text,
             QStringLiteral("映像的 /Windows 中已有名为“win.ini”的文件。\n要替换它吗？选择“否”将跳过这一项。"));
    QCOMPARE(messages[0].caption, QStringLiteral("确认替换"));
    QVERIFY(messages[1].text.startsWith(kDone));
    const QStringList listed = testarchives::wimDir(m_wim, 1);
    QVERIFY(listed.contains(QStringLiteral("/Windows/Added/深/b.txt")));
    QVERIFY(listed.contains(QStringLiteral("/Windows/System32/notepad.exe")));
    QCOMPARE(extractedFile(m_wim, QStringLiteral("/Windows/win.ini"), m_dir->filePath(QStringLiteral("x1"))),
             QByteArray("replaced"));
    QCOMPARE(extractedFile(m_wim, QStringLiteral("/Windows/Added/深/b.txt"), m_dir->filePath(QStringLiteral("x2"))),
             pattern(70000, 'a'));
    QVERIFY(testarchives::wimVerify(m_wim));
    // The dialog shows the image as it now is.
    browse->OpenPath(QStringLiteral("/Windows"));
    QTRY_COMPARE_WITH_TIMEOUT(browse->CurrentFolder(), QStringLiteral("/Windows"), 20000);
    QCOMPARE(listedNames(*browse), (QStringList{QStringLiteral("Added"), QStringLiteral("System32"),
                                                QStringLiteral("Temp"), QStringLiteral("win.ini")}));

    // Dropped again onto the folder shown, and skipped: nothing is written.
    const QByteArray before = fileBytes(m_wim);
    w.prompts.clear();
    w.prompts.answerMessage(IDNO);
    QVERIFY(dropFiles(browse->m_List, browse->m_List->viewport()->rect().bottomRight() - QPoint(5, 5),
                      {source + QStringLiteral("/win.ini")}));
    QVERIFY(waitForOperations());
    QCOMPARE(w.prompts.messages().size(), 1);
    QCOMPARE(fileBytes(m_wim), before);
    const QString problems = w.finish();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestBrowseExtract::deleteRenameNewFolder()
{
    WindowOnArchive w(m_wim);
    CBrowseImageDlg *browse = openBrowse(w);
    QVERIFY(browse);
    // Delete, after the question; a quick change: no completion message.
    selectEntries(*browse, {QStringLiteral("bootmgr")});
    w.prompts.answerMessage(IDYES);
    QTest::keyClick(browse->m_List, Qt::Key_Delete);
    QVERIFY(waitForOperations());
    QCOMPARE(w.prompts.messageTexts(), QStringList{QStringLiteral("确定要从映像中删除“bootmgr”吗？删除后无法恢复。")});
    QTRY_VERIFY_WITH_TIMEOUT(!listedNames(*browse).contains(QStringLiteral("bootmgr")), 20000);
    // The image's details say one file fewer.
    const QLabel *details = browse->findChild<QLabel *>(QStringLiteral("IDC_IMAGE_DETAILS"));
    QVERIFY(details->text().contains(QStringLiteral("、10 个文件，")));
    QVERIFY(!testarchives::wimDir(m_wim, 1).contains(QStringLiteral("/bootmgr")));

    // Rename with F2.
    w.prompts.clear();
    selectEntries(*browse, {QStringLiteral("Program Files")});
    w.prompts.answerInput(QStringLiteral("程序文件"));
    QTest::keyClick(browse->m_List, Qt::Key_F2);
    QVERIFY(waitForOperations());
    QCOMPARE(w.prompts.calls().first().input, QStringLiteral("Program Files"));
    QTRY_COMPARE_WITH_TIMEOUT(browse->SelectedPaths(), QStringList{QStringLiteral("/程序文件")}, 20000);
    QVERIFY(testarchives::wimDir(m_wim, 1).contains(QStringLiteral("/程序文件/Pellwick/readme.txt")));

    // A new folder, offered under the usual name.
    w.prompts.clear();
    w.prompts.answerInput(QStringLiteral("工具"));
    QVERIFY(triggerMenu(*browse, res::ID_NEW_IMAGE_FOLDER));
    QVERIFY(waitForOperations());
    QCOMPARE(w.prompts.calls().first().input, QStringLiteral("新建文件夹"));
    QTRY_COMPARE_WITH_TIMEOUT(browse->SelectedPaths(), QStringList{QStringLiteral("/工具")}, 20000);
    QVERIFY(testarchives::wimDir(m_wim, 1).contains(QStringLiteral("/工具")));

    // A name another entry has is refused before anything is written.
    const QByteArray before = fileBytes(m_wim);
    w.prompts.clear();
    w.prompts.answerInput(QStringLiteral("users"));
    QVERIFY(triggerMenu(*browse, res::ID_RENAME_ENTRY));
    QVERIFY(waitForOperations());
    QCOMPARE(w.prompts.messageTexts(), QStringList{QStringLiteral("当前文件夹中已有名为“Users”的项目！")});
    QCOMPARE(fileBytes(m_wim), before);
    QVERIFY(testarchives::wimVerify(m_wim));
    // The window's watch sees its own changes as its own: the dialog stays.
    w.dlg->ReadListAgainWhenIdle();
    QCOMPARE(w.dlg->findChildren<CBrowseImageDlg *>().size(), 1);
    QVERIFY(browse->isVisible());
    QCOMPARE(w.dlg->m_List->rowCount(), 1);
    const QString problems = w.finish();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestBrowseExtract::changesRefusedAndFailed()
{
    const QByteArray before = fileBytes(m_wim);
    {
        // Read only: nothing that changes the image is offered or taken.
        WindowOnArchive w(m_wim, true);
        CBrowseImageDlg *browse = openBrowse(w);
        QVERIFY(browse);
        selectEntries(*browse, {QStringLiteral("bootmgr")});
        QVERIFY(!triggerMenu(*browse, res::ID_DELETE_ENTRIES));
        QTest::keyClick(browse->m_List, Qt::Key_Delete);
        QVERIFY(!dropFiles(browse->m_List, rowRect(*browse, QStringLiteral("Windows")).center(), {m_tree}));
        QVERIFY(waitForOperations());
        QVERIFY(w.prompts.calls().isEmpty());
        const QString problems = w.finish();
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }
    WindowOnArchive w(m_wim);
    CBrowseImageDlg *browse = openBrowse(w);
    QVERIFY(browse);
    w.faults.failOn(FaultInjectingImaging::Call::UpdateImage);
    selectEntries(*browse, {QStringLiteral("bootmgr"), QStringLiteral("Windows")});
    w.prompts.answerMessage(IDYES);
    QVERIFY(triggerMenu(*browse, res::ID_DELETE_ENTRIES));
    QVERIFY(waitForOperations());
    const auto messages = w.prompts.messages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages[0].text, QStringLiteral("确定要从映像中删除选中的 2 个项目吗？删除后无法恢复。"));
    QCOMPARE(messages[1].text, QStringLiteral("无法删除映像中的文件！"));
    QCOMPARE(messages[1].caption, QStringLiteral("错误提示"));
    QCOMPARE(fileBytes(m_wim), before);
    QVERIFY(listedNames(*browse).contains(QStringLiteral("bootmgr")));
    QVERIFY(w.dlg->AcceptsCommands());
    const QString problems = w.finish();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestBrowseExtract::openAndDragOut()
{
    QStringList opened;
    QByteArray openedBytes;
    bool opens = true;
    desktop::setOpener([&](const QString &path) {
        opened << path;
        openedBytes = fileBytes(path);
        return opens;
    });
    const auto restore = qScopeGuard([] { desktop::setOpener({}); });
    WindowOnArchive w(m_wim);
    const QString work = m_dir->filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(work));
    w.dlg->m_strWorkDir = work;
    CBrowseImageDlg *browse = openBrowse(w);
    QVERIFY(browse);
    QPointer<CBrowseImageDlg> watched(browse);
    browse->OpenPath(QStringLiteral("/Windows"));
    QTRY_COMPARE_WITH_TIMEOUT(browse->CurrentFolder(), QStringLiteral("/Windows"), 20000);

    // A double-click opens the file with the desktop's application: quick, nothing asked.
    const QPoint ini = rowRect(*browse, QStringLiteral("win.ini")).center();
    QTest::mouseClick(browse->m_List->viewport(), Qt::LeftButton, {}, ini);
    QTest::mouseDClick(browse->m_List->viewport(), Qt::LeftButton, {}, ini);
    QVERIFY(waitForOperations());
    QCOMPARE(opened.size(), 1);
    QVERIFY(opened[0].startsWith(work + QLatin1Char('/')));
    QVERIFY(opened[0].endsWith(QStringLiteral("/win.ini")));
    QCOMPARE(openedBytes, kTree[QStringLiteral("Windows/win.ini")]);
    QVERIFY(w.prompts.calls().isEmpty());

    // Dragged out: a drop target gets the entries, extracted.
    selectEntries(*browse, {QStringLiteral("System32"), QStringLiteral("win.ini")});
    std::unique_ptr<QMimeData> data(browse->CreateDragData());
    QVERIFY(data);
    const QList<QUrl> urls = data->urls();
    QCOMPARE(urls.size(), 2);
    QVERIFY(urls[0].toLocalFile().endsWith(QStringLiteral("/System32")));
    QMap<QString, QByteArray> expected = testarchives::readTree(m_tree + QStringLiteral("/Windows/System32"));
    QCOMPARE(testarchives::readTree(urls[0].toLocalFile()), expected);
    QCOMPARE(fileBytes(urls[1].toLocalFile()), kTree[QStringLiteral("Windows/win.ini")]);
    QVERIFY(waitForOperations());

    // No application for it: said so.
    opens = false;
    browse->OpenEntry(QStringLiteral("/Windows/win.ini"));
    QVERIFY(waitForOperations());
    QCOMPARE(opened.size(), 2);
    QCOMPARE(w.prompts.messageTexts(), QStringList{QStringLiteral("无法打开“win.ini”：没有找到可以打开它的程序。")});

    // The temporary files go with the dialog.
    browse->close();
    QTRY_VERIFY_WITH_TIMEOUT(watched.isNull(), 5000);
    QCOMPARE(QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    const QString problems = w.finish();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestBrowseExtract::findAcrossFolders()
{
    WindowOnArchive w(m_wim);
    CBrowseImageDlg *browse = openBrowse(w);
    QVERIFY(browse);
    QSignalSpy finished(browse, &CBrowseImageDlg::findFinished);
    const auto found = [browse] {
        QStringList paths;
        for (int r = 0; r < browse->m_Found->rowCount(); ++r)
            paths << browse->m_Found->index(r, 0).data(ImageSearchResults::PathRole).toString();
        paths.sort();
        return paths;
    };
    // In the whole image, not only the folder shown; as wimlib-imagex dir lists them.
    QTest::keyClicks(browse->m_Find, QStringLiteral("*.TXT"));
    QVERIFY(finished.wait(20000));
    QStringList expected;
    for (const QString &path : testarchives::wimDir(m_wim, 1)) {
        if (path.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive))
            expected << path;
    }
    expected.sort();
    QCOMPARE(found(), expected);
    QCOMPARE(expected.size(), 2);
    QVERIFY(browse->m_Results->isVisible());
    const QLabel *status = browse->findChild<QLabel *>(QStringLiteral("IDC_BROWSE_STATUS"));
    QCOMPARE(status->text(), QStringLiteral("找到 2 个项目"));
    QCOMPARE(browse->m_Found->index(0, ImageSearchResults::Folder).data().toString(),
             ParentImagePath(browse->m_Found->entry(0).path));
    saveShot(*browse, QStringLiteral("browse-find.png"));

    // Plain text anywhere in a name; Enter on a result goes to it.
    browse->m_Find->clear();
    QTest::keyClicks(browse->m_Find, QStringLiteral("HOST"));
    QVERIFY(finished.wait(20000));
    QCOMPARE(found(), QStringList{QStringLiteral("/Windows/System32/drivers/etc/hosts")});
    browse->m_Results->setFocus();
    browse->m_Results->setCurrentIndex(browse->m_Found->index(0, 0));
    QTest::keyClick(browse->m_Results, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(browse->CurrentFolder(), QStringLiteral("/Windows/System32/drivers/etc"), 20000);
    QCOMPARE(browse->SelectedPaths(), QStringList{QStringLiteral("/Windows/System32/drivers/etc/hosts")});
    QVERIFY(browse->m_List->isVisible());
    QVERIFY(browse->m_Find->text().isEmpty());
    const QString problems = w.finish();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

QTEST_MAIN(TestBrowseExtract)
#include "tst_browse_extract.moc"
