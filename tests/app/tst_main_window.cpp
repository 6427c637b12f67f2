// The main window at start, its context menus, its keys and the working directory.
#include "app/ctarnbox_dlg.h"
#include "capture_settings/cwim_image_info.h"
#include "fake_clock.h"
#include "imaging/imaging_library.h"
#include "memory_imaging.h"
#include "recording_prompts.h"
#include "resources/resource_ids.h"
#include "support/platform.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

HWIM fakeHandle()
{
    return MemoryImaging::fakeHandle();
}

const QString kArchive = QStringLiteral("/archives/a.wim");

QString labelText(const QWidget *w, const char *name)
{
    auto *label = w->findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<missing>");
}

bool visible(const QWidget *w, const char *name)
{
    auto *child = w->findChild<QWidget *>(QString::fromLatin1(name));
    return child && child->isVisibleTo(const_cast<QWidget *>(w));
}

void addRow(CTarnboxDlg &dlg, const QString &name)
{
    const int r = dlg.m_List->rowCount();
    dlg.m_List->insertRow(r);
    dlg.SetRowText(r, 0, name);
}

}  // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void startState();
    void layoutFollowsTemplate_data();
    void layoutFollowsTemplate();
    void columns();
    void contextMenuByState();
    void contextMenuItems();
    void noMenuWhileBusy();
    void listMouse_data();
    void listMouse();
    void selectedRowIsFocusedAndSelected();
    void enterOpensArchiveChooser();
    void workDirWithoutArchive();
    void workDirDriveRootReachesLibraryWithoutSeparator();
    void workDirRefused();
    void workDirCancelled();
    void screenshot();
};

void TestMainWindow::startState()
{
    RecordingPrompts prompts;
    CTarnboxDlg dlg;
    dlg.show();
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Pellwick"));
    QCOMPARE(labelText(&dlg, "IDC_1003"), QString());
    QCOMPARE(labelText(&dlg, "IDC_1004"), QStringLiteral("0"));
    QCOMPARE(labelText(&dlg, "IDC_1005"), QString());
    QCOMPARE(labelText(&dlg, "IDC_1006"), QString());
    QCOMPARE(labelText(&dlg, "IDC_1008"), platform::defaultWorkDirectory());
    QCOMPARE(dlg.m_strWorkDir, dlg.m_strWinTemp);
    QVERIFY(!dlg.m_strWinTemp.isEmpty());
    QVERIFY(dlg.m_strAppDir.endsWith(QLatin1Char('/')));
    QCOMPARE(dlg.m_nAccess, qint16(-1));
    QVERIFY(dlg.m_hWim == nullptr);
    QCOMPARE(dlg.m_Images.capacity, 4);
    QCOMPARE(dlg.m_Images.bootRow, -1);
    QCOMPARE(dlg.m_Progress->minimum(), 0);
    QCOMPARE(dlg.m_Progress->maximum(), 100);
    for (const char *hidden : {"IDC_1010", "IDC_1011", "IDC_1022", "IDC_1023", "IDOK", "IDCANCEL", "IDC_1012"})
        QVERIFY2(!visible(&dlg, hidden), hidden);
    QCOMPARE(labelText(&dlg, "IDC_1011"), QStringLiteral("请你等待……正在处理，需要："));
    QVERIFY(!dlg.IsBusy());
    QCOMPARE(g_pMainDlg.load(), &dlg);
    QVERIFY(prompts.calls().isEmpty());
}

void TestMainWindow::layoutFollowsTemplate_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::newRow("list") << "IDC_IMAGE_LIST" << 1000 << 7 << 7 << 559 << 201;
    QTest::newRow("compression") << "IDC_1003" << 1003 << 42 << 213 << 62 << 8;
    QTest::newRow("path") << "IDC_1005" << 1005 << 200 << 213 << 174 << 8;
    QTest::newRow("percent") << "IDC_1022" << 1022 << 541 << 251 << 25 << 8;
    QTest::newRow("progress") << "IDC_1010" << 1010 << 0 << 259 << 573 << 6;
}

void TestMainWindow::layoutFollowsTemplate()
{
    QFETCH(QString, name);
    QFETCH(int, id);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, w);
    QFETCH(int, h);
    CTarnboxDlg dlg;
    auto *control = dlg.findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->property("controlId").toInt(), id);
    // Proportional to the dialog: 573 x 266 units, its smallest size.
    const QSize size = dlg.size();
    QCOMPARE(dlg.minimumSize(), size);
    const double ux = size.width() / 573.0, uy = size.height() / 266.0;
    QVERIFY(qAbs(control->x() - x * ux) <= 2);
    QVERIFY(qAbs(control->y() - y * uy) <= 2);
    QVERIFY(qAbs(control->width() - w * ux) <= 2);
    QVERIFY(qAbs(control->height() - h * uy) <= 2);
}

void TestMainWindow::columns()
{
    CTarnboxDlg dlg;
    const QStringList headings{QStringLiteral("显示名称"), QStringLiteral("显示说明"), QStringLiteral("映像名称"),
                               QStringLiteral("映像说明"), QStringLiteral("系统标识"), QStringLiteral("展开空间"),
                               QStringLiteral("可启动")};
    const QList<int> widths{160, 220, 160, 220, 90, 70, 60};
    QCOMPARE(dlg.m_List->columnCount(), 7);
    for (int c = 0; c < 7; ++c) {
        QCOMPARE(dlg.m_List->horizontalHeaderItem(c)->text(), headings[c]);
        QCOMPARE(dlg.m_List->columnWidth(c), widths[c]);
    }
    QVERIFY(dlg.m_List->showGrid());
    QCOMPARE(dlg.m_List->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(dlg.m_List->selectionMode(), QAbstractItemView::ExtendedSelection);
}

void TestMainWindow::contextMenuByState()
{
    CTarnboxDlg dlg;
    dlg.show();
    QCOMPARE(dlg.ContextMenuIndex(), 2);  // no archive, no row

    addRow(dlg, QStringLiteral("leftover"));
    dlg.SelectAndFocusRow(0);
    QCOMPARE(dlg.ContextMenuIndex(), 1);  // no archive, a leftover row

    dlg.m_hWim.reset(imaging(), fakeHandle());
    QCOMPARE(dlg.ContextMenuIndex(), 0);  // archive and a selected row
    dlg.m_List->clearSelection();
    QCOMPARE(dlg.ContextMenuIndex(), 1);  // archive, no row
    dlg.m_hWim.release();
}

void TestMainWindow::contextMenuItems()
{
    CTarnboxDlg dlg;
    std::unique_ptr<QMenu> menu(dlg.CreateContextMenu());
    QVERIFY(menu);
    QStringList texts;
    QList<int> commands;
    for (QAction *a : menu->actions()) {
        texts << a->text();
        commands << a->data().toInt();
        QVERIFY(a->isEnabled());
    }
    QCOMPARE(texts, (QStringList{QStringLiteral("新建文件"), QStringLiteral("打开文件"), QStringLiteral("设置工作目录"),
                                 QStringLiteral("设置排除名单")}));
    QCOMPARE(commands, (QList<int>{32774, 32778, 32779, 32785}));

    dlg.m_hWim.reset(imaging(), fakeHandle());
    addRow(dlg, QStringLiteral("one"));
    dlg.SelectAndFocusRow(0);
    menu.reset(dlg.CreateContextMenu());
    commands.clear();
    for (QAction *a : menu->actions())
        commands << a->data().toInt();
    // After a separator each (no command): browsing the image, the archive
    // file's commands, then mounting the image.
    QCOMPARE(commands, (QList<int>{32771, 32777, 32776, 32772, 32773, 32775, 0, res::ID_BROWSE_IMAGE, 0,
                                   res::ID_SPLIT_FILE, res::ID_VERIFY_FILE, res::ID_OPTIMIZE_FILE, 0,
                                   res::ID_MOUNT_IMAGE, res::ID_MOUNT_IMAGE_RW, res::ID_UNMOUNT_IMAGE}));
    QCOMPARE(menu->actions().at(14)->text(), QStringLiteral("挂载映像（可修改）…"));
    QVERIFY(menu->actions().at(6)->isSeparator());
    QCOMPARE(menu->actions().at(7)->text(), QStringLiteral("浏览映像文件"));
    QVERIFY(menu->actions().at(8)->isSeparator());
    dlg.m_hWim.release();
}

void TestMainWindow::noMenuWhileBusy()
{
    RecordingPrompts prompts;
    FakeClock clock;
    CTarnboxDlg dlg;
    dlg.show();
    dlg.BeginBusy();
    QVERIFY(dlg.IsBusy());
    QCOMPARE(dlg.ContextMenuIndex(), -1);
    QVERIFY(dlg.CreateContextMenu() == nullptr);
    // A right click shows nothing.
    emit dlg.m_List->customContextMenuRequested(QPoint(5, 5));
    QVERIFY(QApplication::activePopupWidget() == nullptr);
    dlg.EndBusy();
    QVERIFY(!dlg.IsBusy());
    QCOMPARE(dlg.ContextMenuIndex(), 2);
}

// Where the pointer is: a row's cells, beside them (the row still), or below the rows.
enum class Spot { Cells, Beside, Below };

void TestMainWindow::listMouse_data()
{
    QTest::addColumn<bool>("doubleClick");
    QTest::addColumn<int>("spot");
    QTest::addColumn<int>("popup");       // after a right press
    QTest::addColumn<QString>("edited");  // the row a double-click edits ("" none)
    QTest::newRow("right press on row 1") << false << int(Spot::Cells) << 0 << QString();
    QTest::newRow("right press beside row 1") << false << int(Spot::Beside) << 0 << QString();
    QTest::newRow("right press below the rows") << false << int(Spot::Below) << 1 << QString();
    QTest::newRow("double-click on row 1") << true << int(Spot::Cells) << -1 << QStringLiteral("b");
    QTest::newRow("double-click beside row 1") << true << int(Spot::Beside) << -1 << QStringLiteral("b");
    QTest::newRow("double-click below the rows") << true << int(Spot::Below) << -1 << QString();
}

void TestMainWindow::listMouse()
{
    QFETCH(bool, doubleClick);
    QFETCH(int, spot);
    QFETCH(int, popup);
    QFETCH(QString, edited);
    RecordingPrompts prompts;
    QStringList editedNames;
    prompts.onDialog([&](QDialog &d) {
        if (auto *info = qobject_cast<CWIM_Image_Info *>(&d))
            editedNames << info->m_imageName;
        return int(QDialog::Rejected);
    });
    CTarnboxDlg dlg;
    dlg.show();
    dlg.m_hWim.reset(imaging(), fakeHandle());
    for (const QString &name : {QStringLiteral("a"), QStringLiteral("b")}) {
        addRow(dlg, name);
        dlg.m_Images.append().name = name;
    }
    for (int c = 0; c < dlg.m_List->columnCount(); ++c)
        dlg.m_List->setColumnWidth(c, 30);  // room beside the cells
    dlg.SelectAndFocusRow(0);

    QWidget *viewport = dlg.m_List->viewport();
    const QRect row1 = dlg.m_List->visualItemRect(dlg.m_List->item(1, 0));
    const QPoint at = Spot(spot) == Spot::Cells    ? row1.center()
                      : Spot(spot) == Spot::Beside ? QPoint(viewport->width() - 5, row1.center().y())
                                                   : QPoint(row1.center().x(), viewport->height() - 5);
    if (doubleClick) {
        // A user's double-click: a click, then the double-click.
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
        QCOMPARE(editedNames, edited.isEmpty() ? QStringList() : QStringList{edited});
    } else {
        // The menu opens on the press, before the release.
        QTest::mousePress(viewport, Qt::RightButton, {}, at);
        QCOMPARE(dlg.ContextMenuIndex(), popup);
        QCOMPARE(dlg.SelectedRow(), popup == 0 ? 1 : -1);
        QTest::mouseRelease(viewport, Qt::RightButton, {}, at);
    }
    if (QWidget *menu = QApplication::activePopupWidget())
        menu->close();
    dlg.m_hWim.release();
}

void TestMainWindow::selectedRowIsFocusedAndSelected()
{
    CTarnboxDlg dlg;
    dlg.show();
    for (int i = 0; i < 3; ++i)
        addRow(dlg, QString::number(i));
    QCOMPARE(dlg.SelectedRow(), -1);
    dlg.SelectAndFocusRow(2);
    QCOMPARE(dlg.SelectedRow(), 2);
    // Several rows selected: still the focused one.
    dlg.m_List->selectionModel()->select(dlg.m_List->model()->index(0, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(dlg.SelectedRow(), 2);
    // Focused but not selected: none.
    dlg.m_List->selectionModel()->select(dlg.m_List->model()->index(2, 0),
                                         QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    QCOMPARE(dlg.SelectedRow(), -1);
}

void TestMainWindow::enterOpensArchiveChooser()
{
    RecordingPrompts prompts;
    CTarnboxDlg dlg;
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Return);
    const auto calls = prompts.calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].kind, RecordingPrompts::Kind::OpenFile);
    // The archive types first, then the .wim type as before.
    QVERIFY(calls[0].chooser.filter.startsWith(QStringLiteral("映像文件(*.wim *.esd *.swm)|*.wim;*.esd;*.swm|")));
    QVERIFY(calls[0].chooser.filter.contains(QStringLiteral("|Wim镜像(*.wim)|*.wim|")));
}

void TestMainWindow::workDirWithoutArchive()
{
    RecordingPrompts prompts;
    MemoryImaging library;
    ScopedImaging scoped(&library);
    QTemporaryDir dir;
    CTarnboxDlg dlg;
    prompts.answerFolder(dir.path() + QLatin1Char('/'));
    dlg.OnCommand(res::ID_SET_WORK_DIR);
    QCOMPARE(dlg.m_strWorkDir, dir.path());
    QCOMPARE(labelText(&dlg, "IDC_1008"), dir.path());
    QVERIFY(library.calls.isEmpty());
    QCOMPARE(prompts.calls().at(0).text, QStringLiteral("选择目录"));
}

void TestMainWindow::workDirDriveRootReachesLibraryWithoutSeparator()
{
    RecordingPrompts prompts;
    MemoryImaging library;
    ScopedImaging scoped(&library);
    CTarnboxDlg dlg;
    dlg.m_hWim.reset(imaging(), library.open(kArchive));
    // The root of the system drive stays "/"; a mount point loses its trailing "/".
    prompts.answerFolder(QStringLiteral("/"));
    dlg.SetWorkDir();
    QCOMPARE(dlg.m_strWorkDir, QStringLiteral("/"));
    prompts.answerFolder(QStringLiteral("/proc/"));
    dlg.SetWorkDir();
    QCOMPARE(dlg.m_strWorkDir, QStringLiteral("/proc"));
    QCOMPARE(library.calls,
             (QStringList{QStringLiteral("WIMSetTemporaryPath /"), QStringLiteral("WIMSetTemporaryPath /proc")}));
    dlg.m_hWim.release();
}

void TestMainWindow::workDirRefused()
{
    RecordingPrompts prompts;
    MemoryImaging library;
    library.failAlways(MemoryImaging::Call::SetTemporaryPath);
    ScopedImaging scoped(&library);
    CTarnboxDlg dlg;
    const QString before = dlg.m_strWorkDir;
    dlg.m_hWim.reset(imaging(), library.open(kArchive));
    prompts.answerFolder(QStringLiteral("/nonexistent/place"));
    dlg.SetWorkDir();
    QCOMPARE(dlg.m_strWorkDir, before);
    const auto messages = prompts.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("临时目录设置失败！"));
    QCOMPARE(messages[0].caption, QStringLiteral("错误提示"));
    QCOMPARE(messages[0].type & MB_TYPEMASK, MB_OK);
    dlg.m_hWim.release();
}

void TestMainWindow::workDirCancelled()
{
    RecordingPrompts prompts;
    MemoryImaging library;
    ScopedImaging scoped(&library);
    CTarnboxDlg dlg;
    const QString before = dlg.m_strWorkDir;
    dlg.m_hWim.reset(imaging(), library.open(kArchive));
    dlg.SetWorkDir();
    QCOMPARE(dlg.m_strWorkDir, before);
    QVERIFY(library.calls.isEmpty());
    QVERIFY(prompts.messages().isEmpty());
    dlg.m_hWim.release();
}

void TestMainWindow::screenshot()
{
    CTarnboxDlg dlg;
    dlg.show();
    const QString out = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    const QPixmap shot = dlg.grab();
    QVERIFY(!shot.isNull());
    QCOMPARE(shot.size(), dlg.size());
    if (!out.isEmpty())
        QVERIFY(shot.save(out + QStringLiteral("/main-window.png")));
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
