#include "archive/cbrowse_image_dlg.h"

#include "archive/archive_log.h"
#include "archive/image_folder_model.h"
#include "archive/image_folder_tree.h"
#include "archive/image_path.h"
#include "archive/image_search_results.h"
#include "archive/name_filter.h"
#include "archive/selected_rows.h"
#include "resources/app_icon.h"
#include "resources/dialog_units.h"
#include "resources/resource_ids.h"
#include "support/background_task.h"
#include "support/desktop_open.h"
#include "support/failure_report.h"
#include "support/prompts.h"
#include "support/ui_thread.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

// The folder tree's icons, which its core model cannot give (it knows no widgets).
class FolderIcons : public QIdentityProxyModel
{
public:
    FolderIcons(QAbstractItemModel *source, QStyle *style, QObject *parent)
        : QIdentityProxyModel(parent)
        , m_folder(style->standardIcon(QStyle::SP_DirIcon))
        , m_root(style->standardIcon(QStyle::SP_DriveHDIcon))
    {
        setSourceModel(source);
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DecorationRole || index.column() != 0)
            return QIdentityProxyModel::data(index, role);
        return index.parent().isValid() ? m_folder : m_root;
    }

private:
    const QIcon m_folder;
    const QIcon m_root;
};

// Entries dragged out: their file URLs. The extraction starts when a drop
// target first asks for them (a drag dropped nowhere extracts nothing), and
// they are handed over once it has ended (none when it failed).
class DesktopDragData : public QMimeData
{
public:
    struct Outcome {
        bool done = false;
        bool extracted = false;
    };
    // `start` begins the extraction and tells `outcome` when it ends.
    DesktopDragData(const QList<QUrl> &urls, std::function<void(std::shared_ptr<Outcome>)> start)
        : m_start(std::move(start))
    {
        setUrls(urls);
    }

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override
    {
        if (!m_outcome) {
            m_outcome = std::make_shared<Outcome>();
            m_start(m_outcome);
        }
        while (!m_outcome->done && uiThread::windowOpen())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (!m_outcome->extracted)
            return {};
        return QMimeData::retrieveData(mimeType, type);
    }

private:
    std::function<void(std::shared_ptr<Outcome>)> m_start;
    mutable std::shared_ptr<Outcome> m_outcome;
};

// The file list. A flat list selects all its rows as one range: QTreeView
// walks every row for it, holding on to each (200,000 rows: tens of ms).
class EntryList : public QTreeView
{
public:
    using QTreeView::QTreeView;

    void selectAll() override
    {
        QAbstractItemModel *rows = model();
        if (!rows || !selectionModel() || selectionMode() == SingleSelection || selectionMode() == NoSelection)
            return;
        const int count = rows->rowCount(rootIndex());
        const int columns = rows->columnCount(rootIndex());
        if (count > 0 && columns > 0)
            selectionModel()->select(
                QItemSelection(rows->index(0, 0, rootIndex()), rows->index(count - 1, columns - 1, rootIndex())),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    std::function<QMimeData *()> dragData;

protected:
    void startDrag(Qt::DropActions) override
    {
        QMimeData *data = dragData ? dragData() : nullptr;
        if (!data)
            return;
        auto *drag = new QDrag(this);
        drag->setMimeData(data);
        drag->exec(Qt::CopyAction);
    }
};

template <class W>
W *named(W *widget, const char *name, int id)
{
    widget->setObjectName(QLatin1String(name));
    widget->setProperty("controlId", id);
    return widget;
}

}  // namespace

CBrowseImageDlg::CBrowseImageDlg(HWIM image, const QString &imageName, QWidget *parent)
    : QDialog(parent), m_browser(std::make_shared<ImageBrowser>(image))
{
    setObjectName(QStringLiteral("IDD_BROWSE_IMAGE"));
    setProperty("controlId", res::IDD_BROWSE_IMAGE);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("浏览映像文件 - %1").arg(imageName));
    setWindowIcon(appIcon());
    setModal(false);
    setFont(DialogUnits::dialogFont(9));
    const DialogUnits du(font());

    m_Up = named(new QToolButton(this), "IDC_FOLDER_UP", res::IDC_FOLDER_UP);
    m_Up->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    m_Up->setToolTip(QStringLiteral("上一级"));
    m_Up->setEnabled(false);
    m_PathBar = named(new QLineEdit(this), "IDC_FOLDER_PATH", res::IDC_FOLDER_PATH);
    m_PathBar->setPlaceholderText(QStringLiteral("输入映像中的路径，按回车转到"));
    auto *pathLabel = new QLabel(QStringLiteral("位置："), this);
    pathLabel->setBuddy(m_PathBar);

    m_Folders = new ImageFolderTree(imageName, this);
    m_Tree = named(new QTreeView(this), "IDC_FOLDER_TREE", res::IDC_FOLDER_TREE);
    m_Tree->setModel(new FolderIcons(m_Folders, style(), this));
    m_Tree->setHeaderHidden(true);
    m_Tree->setUniformRowHeights(true);
    m_Tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_Tree->setContextMenuPolicy(Qt::CustomContextMenu);

    m_Entries = new ImageFolderModel(this);
    m_Entries->setDisposal([](std::shared_ptr<const void> shown) {
        backgroundTasks::start([shown = std::move(shown)]() mutable { shown.reset(); });
    });
    m_List = named(new EntryList(this), "IDC_ENTRY_LIST", res::IDC_ENTRY_LIST);
    // The list shows the model itself: a proxy between them would double
    // the view's work for each of hundreds of thousands of rows.
    m_Entries->setDecoration(WimDirEntry::Type::Folder, style()->standardIcon(QStyle::SP_DirIcon));
    m_Entries->setDecoration(WimDirEntry::Type::File, style()->standardIcon(QStyle::SP_FileIcon));
    m_Entries->setDecoration(WimDirEntry::Type::Link, style()->standardIcon(QStyle::SP_FileLinkIcon));
    m_List->setModel(m_Entries);
    m_List->setRootIsDecorated(false);
    m_List->setItemsExpandable(false);
    m_List->setUniformRowHeights(true);
    m_List->setAllColumnsShowFocus(true);
    m_List->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_List->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_List->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_List->setContextMenuPolicy(Qt::CustomContextMenu);
    m_List->setSortingEnabled(true);
    m_List->setDragDropMode(QAbstractItemView::DragOnly);
    static_cast<EntryList *>(m_List)->dragData = [this] { return CreateDragData(); };
    m_List->sortByColumn(int(EntryColumn::Name), Qt::AscendingOrder);
    // The header shows no selection; asked for it, it would look at every
    // row of every column on each repaint (200,000 rows selected: tens of ms).
    m_List->header()->setSelectionModel(new QItemSelectionModel(m_List->model(), m_List->header()));
    m_List->header()->setSectionsMovable(false);
    m_List->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const QSize column = du.toPixels(4, 8);  // one character
    m_List->setColumnWidth(int(EntryColumn::Name), column.width() * 30);
    m_List->setColumnWidth(int(EntryColumn::Size), column.width() * 11);
    m_List->setColumnWidth(int(EntryColumn::Modified),
                           m_List->fontMetrics().horizontalAdvance(QStringLiteral("0000/00/00 00:00"))
                               + column.width() * 3);

    m_Find = named(new QLineEdit(this), "IDC_FIND_NAME", res::IDC_FIND_NAME);
    m_Find->setPlaceholderText(QStringLiteral("在整个映像中查找（可用 * 和 ?）"));
    m_Find->setClearButtonEnabled(true);
    auto *findLabel = new QLabel(QStringLiteral("查找："), this);
    findLabel->setBuddy(m_Find);
    m_Found = new ImageSearchResults(this);
    m_Found->setDecoration(WimDirEntry::Type::Folder, style()->standardIcon(QStyle::SP_DirIcon));
    m_Found->setDecoration(WimDirEntry::Type::File, style()->standardIcon(QStyle::SP_FileIcon));
    m_Found->setDecoration(WimDirEntry::Type::Link, style()->standardIcon(QStyle::SP_FileLinkIcon));
    m_Results = named(new QTreeView(this), "IDC_FIND_RESULTS", res::IDC_FIND_RESULTS);
    m_Results->setModel(m_Found);
    m_Results->setRootIsDecorated(false);
    m_Results->setItemsExpandable(false);
    m_Results->setUniformRowHeights(true);
    m_Results->setAllColumnsShowFocus(true);
    m_Results->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_Results->header()->setSectionsMovable(false);
    m_Results->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_Results->setColumnWidth(ImageSearchResults::Name, column.width() * 24);
    m_Results->setColumnWidth(ImageSearchResults::Folder, column.width() * 30);
    m_Results->setColumnWidth(ImageSearchResults::Size, column.width() * 11);
    m_findDelay = new QTimer(this);
    m_findDelay->setSingleShot(true);
    m_findDelay->setInterval(200);  // a find per pause in typing, not per key

    m_Loading = new QLabel(QStringLiteral("正在读取映像中的文件，请稍候……"), this);
    m_Loading->setAlignment(Qt::AlignCenter);
    m_Loading->setAutoFillBackground(true);
    m_Loading->setBackgroundRole(QPalette::Base);
    m_ListArea = new QStackedWidget(this);
    m_ListArea->addWidget(m_Loading);
    m_ListArea->addWidget(m_List);
    m_ListArea->addWidget(m_Results);

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(m_Tree);
    splitter->addWidget(m_ListArea);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 3);
    splitter->setChildrenCollapsible(false);

    m_Status = named(new QLabel(this), "IDC_BROWSE_STATUS", res::IDC_BROWSE_STATUS);
    m_Details = named(new QLabel(this), "IDC_IMAGE_DETAILS", res::IDC_IMAGE_DETAILS);
    m_Details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_Details->setVisible(false);
    m_Extract = named(new QPushButton(QStringLiteral("提取到…"), this), "IDC_EXTRACT", res::IDC_EXTRACT);
    m_Extract->setEnabled(false);
    auto *close = named(new QPushButton(QStringLiteral("关闭"), this), "IDCANCEL", res::kIdCancel);
    for (QPushButton *button : {m_Extract, close}) {
        button->setAutoDefault(false);  // Enter belongs to the path bar and the list
        button->setMinimumSize(du.toPixels(50, 14));
    }

    auto *top = new QHBoxLayout;
    top->addWidget(m_Up);
    top->addWidget(pathLabel);
    top->addWidget(m_PathBar, 3);
    top->addWidget(findLabel);
    top->addWidget(m_Find, 2);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_Status, 1);
    bottom->addWidget(m_Extract);
    bottom->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(splitter, 1);
    layout->addWidget(m_Details);
    layout->addLayout(bottom);
    resize(du.toPixels(460, 280));
    // The smallest size still shows every column of the list whole.
    setMinimumSize(size());
    splitter->setSizes({du.toPixels(120, 0).width(), du.toPixels(340, 0).width()});

    connect(m_PathBar, &QLineEdit::returnPressed, this, [this] { OpenPath(m_PathBar->text()); });
    connect(m_Find, &QLineEdit::textChanged, m_findDelay, qOverload<>(&QTimer::start));
    connect(m_Find, &QLineEdit::returnPressed, this, &CBrowseImageDlg::startFind);
    connect(m_findDelay, &QTimer::timeout, this, &CBrowseImageDlg::startFind);
    connect(m_Results, &QTreeView::activated, this, [this](const QModelIndex &index) {
        // To the entry found, in its folder.
        const QString path = m_Found->entry(index.row()).path;
        m_Find->clear();
        OpenPath(path);
    });
    connect(m_Up, &QToolButton::clicked, this, &CBrowseImageDlg::goUp);
    auto *backspace = new QShortcut(QKeySequence(Qt::Key_Backspace), m_List, nullptr, nullptr, Qt::WidgetShortcut);
    connect(backspace, &QShortcut::activated, this, &CBrowseImageDlg::goUp);
    auto *altUp = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Up), this);
    connect(altUp, &QShortcut::activated, this, &CBrowseImageDlg::goUp);
    connect(m_List, &QTreeView::activated, this, &CBrowseImageDlg::onActivated);
    auto *del = new QShortcut(QKeySequence::Delete, m_List, nullptr, nullptr, Qt::WidgetShortcut);
    connect(del, &QShortcut::activated, this, [this] {
        if (m_selected->count() > 0)
            RequestChange({ImageChange::Kind::Delete, {}, SelectedPaths(), CurrentFolder(), {}});
    });
    auto *rename = new QShortcut(QKeySequence(Qt::Key_F2), m_List, nullptr, nullptr, Qt::WidgetShortcut);
    connect(rename, &QShortcut::activated, this, [this] {
        if (m_selected->count() == 1)
            RequestChange({ImageChange::Kind::Rename, {}, SelectedPaths(), CurrentFolder(), {}});
    });
    for (QTreeView *view : {m_List, m_Tree}) {
        view->viewport()->setAcceptDrops(true);
        view->viewport()->installEventFilter(this);
    }
    m_selected = new SelectedRowCount(m_List->selectionModel());
    connect(m_List->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CBrowseImageDlg::updateStatus);
    connect(m_List, &QWidget::customContextMenuRequested, this, [this] {
        QMenu *menu = CreateContextMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(QCursor::pos());
    });
    connect(m_Tree, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        const QString folder = ImageFolderTree::pathOf(m_Tree->indexAt(at));
        if (folder.isEmpty())
            return;
        auto *menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        QAction *extract = menu->addAction(QStringLiteral("提取到…"));
        extract->setData(res::ID_EXTRACT_ENTRIES);
        connect(extract, &QAction::triggered, this, [this, folder] { requestExtract({folder}); });
        menu->popup(QCursor::pos());
    });
    connect(m_Tree->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex &current) {
        if (!m_syncingTree && current.isValid())
            request({ImageFolderTree::pathOf(current)});
    });
    connect(m_Folders, &ImageFolderTree::subfoldersNeeded, this, [this](const QString &path) {
        request({path, false});
    });
    connect(m_Extract, &QPushButton::clicked, this, [this] { requestExtract(SelectedPaths()); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    m_ListArea->setCurrentWidget(m_Loading);
    request({QStringLiteral("/")});
}

CBrowseImageDlg::~CBrowseImageDlg()
{
    *m_alive = false;
    releaseImage();
    // What the views and models signal while QWidget deletes them must not
    // reach this half-destroyed dialog.
    disconnect(m_List->selectionModel(), nullptr, this, nullptr);
    disconnect(m_Tree->selectionModel(), nullptr, this, nullptr);
    disconnect(m_Folders, nullptr, this, nullptr);
    m_List->viewport()->removeEventFilter(this);
    m_Tree->viewport()->removeEventFilter(this);
}

void CBrowseImageDlg::done(int result)
{
    releaseImage();
    QDialog::done(result);
    deleteLater();
}

void CBrowseImageDlg::releaseImage()
{
    stopFind();
    m_pendingShow.reset();
    m_pendingFolders.clear();
    // Freeing the tree of a large image takes a while: never on the UI thread.
    if (m_browser)
        backgroundTasks::start([browser = std::move(m_browser)]() mutable { browser.reset(); });
    m_browser.reset();
}

void CBrowseImageDlg::OpenPath(const QString &path)
{
    request({ImagePathFromTyped(path)});
}

QString CBrowseImageDlg::CurrentFolder() const
{
    return m_Entries->folder();
}

QStringList CBrowseImageDlg::SelectedPaths() const
{
    const std::vector<int> rows = SelectedRows(m_List->selectionModel()->selection());
    QModelIndexList indexes;
    indexes.reserve(qsizetype(rows.size()));
    for (int row : rows)
        indexes << m_Entries->index(row, 0);
    return m_Entries->pathsOf(indexes);
}

QMenu *CBrowseImageDlg::CreateContextMenu()
{
    auto *menu = new QMenu(this);
    const int selected = m_selected->count();
    const bool shown = !CurrentFolder().isEmpty();
    const auto add = [&](const QString &text, int id, bool enabled, auto slot) {
        QAction *action = menu->addAction(text);
        action->setData(id);
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, slot);
    };
    const bool oneFile = selected == 1
                         && m_Entries->entry(SelectedRows(m_List->selectionModel()->selection()).front()).type
                                == WimDirEntry::Type::File;
    add(QStringLiteral("打开"), res::ID_OPEN_ENTRY, oneFile && m_browser,
        [this] { OpenEntry(SelectedPaths().value(0)); });
    // The paths of a large selection take a while: only when chosen.
    add(QStringLiteral("提取到…"), res::ID_EXTRACT_ENTRIES, selected > 0, [this] { requestExtract(SelectedPaths()); });
    menu->addSeparator();
    using Kind = ImageChange::Kind;
    const bool writable = m_writable && shown;
    add(QStringLiteral("添加文件…"), res::ID_ADD_FILES_TO_IMAGE, writable, [this] {
        RequestChange({Kind::Add, ImageChange::Source::ChooseFile, {}, CurrentFolder(), {}});
    });
    add(QStringLiteral("添加文件夹…"), res::ID_ADD_FOLDER_TO_IMAGE, writable, [this] {
        RequestChange({Kind::Add, ImageChange::Source::ChooseFolder, {}, CurrentFolder(), {}});
    });
    add(QStringLiteral("新建文件夹"), res::ID_NEW_IMAGE_FOLDER, writable, [this] {
        RequestChange({Kind::NewFolder, {}, {}, CurrentFolder(), {}});
    });
    menu->addSeparator();
    add(QStringLiteral("重命名"), res::ID_RENAME_ENTRY, writable && selected == 1, [this] {
        RequestChange({Kind::Rename, {}, SelectedPaths(), CurrentFolder(), {}});
    });
    add(QStringLiteral("删除"), res::ID_DELETE_ENTRIES, writable && selected > 0, [this] {
        RequestChange({Kind::Delete, {}, SelectedPaths(), CurrentFolder(), {}});
    });
    return menu;
}

void CBrowseImageDlg::SetImageDetails(const QString &text)
{
    m_Details->setText(text);
    m_Details->setVisible(!text.isEmpty());
}

void CBrowseImageDlg::SetWritable(bool writable)
{
    m_writable = writable;
}

void CBrowseImageDlg::RequestChange(ImageChange change)
{
    if (!m_browser || !m_writable || CurrentFolder().isEmpty())
        return;
    if ((change.kind == ImageChange::Kind::Delete || change.kind == ImageChange::Kind::Rename)
        && change.paths.isEmpty())
        return;
    emit changeRequested(change);
}

bool CBrowseImageDlg::CompleteChange(ImageChange *change)
{
    using Kind = ImageChange::Kind;
    switch (change->kind) {
    case Kind::Add:
        if (change->source == ImageChange::Source::ChooseFile) {
            FileChooser chooser;
            chooser.filter = QStringLiteral("所有文件(*.*)|*||");
            const QString file = uiThread::openFile(this, chooser);
            if (file.isEmpty())
                return false;
            change->paths = {file};
        } else if (change->source == ImageChange::Source::ChooseFolder) {
            const QString folder = uiThread::pickFolderPath(this);
            if (folder.isEmpty())
                return false;
            change->paths = {folder};
        }
        return !change->paths.isEmpty();
    case Kind::Delete: {
        const QString text =
            change->paths.size() == 1
                ? QStringLiteral("确定要从映像中删除“%1”吗？删除后无法恢复。")
                      .arg(change->paths.first().mid(change->paths.first().lastIndexOf(QLatin1Char('/')) + 1))
                : QStringLiteral("确定要从映像中删除选中的 %1 个项目吗？删除后无法恢复。").arg(change->paths.size());
        return uiThread::messageBox(this, text, QStringLiteral("确认删除"), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2)
               == IDYES;
    }
    case Kind::Rename: {
        const QString path = change->paths.value(0);
        const QString old = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        change->name = askName(QStringLiteral("重命名"), QStringLiteral("新名称："), old, old);
        return !change->name.isEmpty() && change->name != old;
    }
    case Kind::NewFolder:
        change->name = askName(QStringLiteral("新建文件夹"), QStringLiteral("文件夹名称："),
                               NewFolderName(m_Entries->entries()), QString());
        return !change->name.isEmpty();
    }
    return false;
}

QString CBrowseImageDlg::askName(const QString &title, const QString &label, const QString &name, const QString &self)
{
    QString typed = name;
    if (!uiThread::inputText(this, title, label, &typed))
        return {};
    const QString problem = EntryNameProblem(typed);
    if (!problem.isEmpty()) {
        uiThread::messageBox(this, problem, QStringLiteral("错误提示"));
        return {};
    }
    // Windows sees names that differ only in letter case as one: such a
    // rename is allowed, another entry of that name is not.
    const WimDirEntry *taken = EntryNamed(m_Entries->entries(), typed);
    if (taken && taken->name != self) {
        uiThread::messageBox(this, QStringLiteral("当前文件夹中已有名为“%1”的项目！").arg(taken->name),
                             QStringLiteral("错误提示"));
        return {};
    }
    return typed;
}

void CBrowseImageDlg::Refresh(const QStringList &folders, const QString &select)
{
    const QString shown = CurrentFolder();
    for (const QString &folder : folders) {
        if (folder != shown && m_Folders->isListed(folder))
            request({folder, false});
    }
    if (!shown.isEmpty())
        request({shown, true, select});
}

QString CBrowseImageDlg::DropFolderAt(const QPoint &pos) const
{
    const QModelIndex at = m_List->indexAt(pos);
    if (at.isValid() && m_Entries->entry(at.row()).type == WimDirEntry::Type::Folder)
        return JoinImagePath(CurrentFolder(), m_Entries->entry(at.row()).name);
    return CurrentFolder();
}

namespace {

// The local files and folders a drop from outside the dialog brings.
QStringList droppedFiles(const QDropEvent *event)
{
    QStringList files;
    if (event->source() || !event->mimeData()->hasUrls())
        return files;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (!url.isLocalFile())
            return {};
        files << url.toLocalFile();
    }
    return files;
}

}  // namespace

bool CBrowseImageDlg::eventFilter(QObject *watched, QEvent *event)
{
    const bool list = watched == m_List->viewport();
    if (!list && watched != m_Tree->viewport())
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (m_writable && m_browser && !CurrentFolder().isEmpty() && !droppedFiles(drag).isEmpty()) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QStringList files = droppedFiles(drop);
        const QPoint at = drop->position().toPoint();
        QString folder;
        if (list) {
            folder = DropFolderAt(at);
        } else {
            const auto *proxy = static_cast<const QIdentityProxyModel *>(m_Tree->model());
            folder = ImageFolderTree::pathOf(proxy->mapToSource(m_Tree->indexAt(at)));
        }
        if (files.isEmpty() || folder.isEmpty()) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        RequestChange({ImageChange::Kind::Add, ImageChange::Source::Given, files, folder, {}});
        return true;
    }
    default: return QDialog::eventFilter(watched, event);
    }
}

void CBrowseImageDlg::requestExtract(const QStringList &paths)
{
    if (!paths.isEmpty() && m_browser)
        emit extractRequested(paths);
}

void CBrowseImageDlg::request(Request r)
{
    if (!m_browser)
        return;
    if (r.show) {
        m_pendingShow = std::move(r);
    } else if (!m_pendingFolders.contains(r.path)) {
        m_pendingFolders << r.path;
    }
    startNext();
    updateStatus();
}

// One listing at a time: they would only wait for each other on the handle,
// each holding a thread of the pool that operations and the close need.
void CBrowseImageDlg::startNext()
{
    if (m_listing || !m_browser)
        return;
    Request r;
    if (m_pendingShow) {
        r = std::move(*m_pendingShow);
        m_pendingShow.reset();
    } else if (!m_pendingFolders.isEmpty()) {
        r.path = m_pendingFolders.takeFirst();
        r.show = false;
    } else {
        return;
    }
    m_listing = true;
    m_showing = r.show;
    backgroundTasks::start([browser = m_browser, alive = m_alive, self = this, r] {
        FolderListing listing = browser->list(r.path);
        // A folder of hundreds of thousands of entries gets its orders
        // here, not on the UI thread.
        if (r.show && listing.ok)
            listing.orders = EntryOrders(listing.children);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive, self, r, listing = std::move(listing)]() mutable {
                if (*alive)
                    self->onListed(r, std::move(listing));
            },
            Qt::QueuedConnection);
    });
}

void CBrowseImageDlg::onListed(const Request &r, FolderListing listing)
{
    m_listing = false;
    m_showing = false;
    if (r.show && !m_pendingShow) {
        showListing(r, std::move(listing));
    } else if (listing.ok) {
        // A tree branch, or a folder the user has already left: the tree keeps it.
        m_Folders->setSubfolders(listing.path, listing.children);
        if (!CurrentFolder().isEmpty())
            syncTree(CurrentFolder());
    } else if (!r.show) {
        qCWarning(lcArchive) << "cannot list" << r.path << "for the folder tree:" << listing.error.text;
        m_Folders->setSubfolders(r.path, {});
    }
    startNext();
    updateStatus();
}

void CBrowseImageDlg::showListing(const Request &r, FolderListing listing)
{
    if (!listing.ok) {
        if (CurrentFolder().isEmpty()) {
            // Nothing of the image can be shown: the dialog has nothing to offer.
            m_Loading->setText(QStringLiteral("映像目录读取失败"));
            reportFailure(lcArchive, this, QStringLiteral("映像目录读取失败！"), QStringLiteral("错误提示"),
                          listing.error);
            reject();
            return;
        }
        reportFailure(lcArchive, this, QStringLiteral("无法打开映像中的 %1！").arg(r.path), QStringLiteral("错误提示"),
                      listing.error);
        m_PathBar->setText(CurrentFolder());
        return;
    }
    if (listing.self.type != WimDirEntry::Type::Folder) {
        // A file named in the path bar: its folder, with it selected.
        request({ParentImagePath(listing.path), true, listing.self.name});
        return;
    }
    m_Folders->setSubfolders(listing.path, listing.children);
    m_Entries->setFolder(listing.path, std::move(listing.children), std::move(listing.orders));
    if (m_ListArea->currentWidget() == m_Results) {
        // Gone to a folder: the find ends.
        m_Find->blockSignals(true);
        m_Find->clear();
        m_Find->blockSignals(false);
        stopFind();
        m_Found->clear();
    }
    if (m_ListArea->currentWidget() != m_List) {
        m_ListArea->setCurrentWidget(m_List);
        m_List->setFocus();
    }
    m_PathBar->setText(listing.path);
    m_Up->setEnabled(listing.path != QLatin1String("/"));
    const int row = r.select.isEmpty() ? -1 : m_Entries->rowOf(r.select);
    if (row >= 0) {
        const QModelIndex at = m_List->model()->index(row, 0);
        m_List->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_List->scrollTo(at);
    } else {
        m_List->scrollToTop();
    }
    syncTree(listing.path);
    emit folderShown(listing.path);
}

// The tree shows where the list is: the folder's branch opened and current.
// Folders on the way that the tree has not listed yet are listed first.
void CBrowseImageDlg::syncTree(const QString &path)
{
    const QModelIndex node = m_Folders->indexOf(path);
    if (!node.isValid()) {
        for (const QString &folder : ImagePathChain(path)) {
            if (folder != path && !m_Folders->isListed(folder))
                request({folder, false});
        }
        return;
    }
    // The list's folder reached the tree only now (its branch was listed after it).
    if (path == CurrentFolder() && !m_Folders->isListed(path))
        m_Folders->setSubfolders(path, m_Entries->entries());
    const auto *proxy = static_cast<const QIdentityProxyModel *>(m_Tree->model());
    const QModelIndex at = proxy->mapFromSource(node);
    if (m_Tree->currentIndex() == at)
        return;
    m_syncingTree = true;
    for (QModelIndex up = at.parent(); up.isValid(); up = up.parent())
        m_Tree->expand(up);
    if (!at.parent().isValid())
        m_Tree->expand(at);  // the root's folders are always in view
    m_Tree->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect);
    m_Tree->scrollTo(at);
    m_syncingTree = false;
}

void CBrowseImageDlg::onActivated(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const WimDirEntry &entry = m_Entries->entry(index.row());
    const QString path = JoinImagePath(CurrentFolder(), entry.name);
    if (entry.type == WimDirEntry::Type::Folder)
        request({path});
    else if (entry.type == WimDirEntry::Type::File)
        OpenEntry(path);
}

QString CBrowseImageDlg::newDesktopFolder()
{
    if (m_workDir.isEmpty()) {
        uiThread::messageBox(this, QStringLiteral("请先设置临时文件！"), QStringLiteral("错误提示"));
        return {};
    }
    if (!m_desktopFiles)
        m_desktopFiles = std::make_unique<QTemporaryDir>(m_workDir + QStringLiteral("/pellwick-open-XXXXXX"));
    const QString folder = m_desktopFiles->filePath(QString::number(++m_desktopFolders));
    if (!m_desktopFiles->isValid() || !QDir().mkpath(folder)) {
        uiThread::messageBox(this, QStringLiteral("无法在临时文件夹 %1 中创建文件！").arg(m_workDir),
                             QStringLiteral("错误提示"));
        m_desktopFiles.reset();
        return {};
    }
    return folder;
}

void CBrowseImageDlg::OpenEntry(const QString &path)
{
    if (!m_browser)
        return;
    const QString folder = newDesktopFolder();
    if (folder.isEmpty())
        return;
    const QString file = folder + QLatin1Char('/') + path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    emit desktopExtractRequested({path}, folder, [alive = m_alive, self = this, file](bool extracted) {
        if (!extracted || !*alive || desktop::openWithDefaultApplication(file))
            return;
        uiThread::messageBox(self,
                             QStringLiteral("无法打开“%1”：没有找到可以打开它的程序。").arg(QFileInfo(file).fileName()),
                             QStringLiteral("错误提示"));
    });
}

QMimeData *CBrowseImageDlg::CreateDragData()
{
    const QStringList paths = m_browser ? SelectedPaths() : QStringList();
    if (paths.isEmpty())
        return nullptr;
    const QString folder = newDesktopFolder();
    if (folder.isEmpty())
        return nullptr;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(folder + QLatin1Char('/') + path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
    return new DesktopDragData(urls, [alive = m_alive, self = this, paths, folder](auto outcome) {
        const auto done = [outcome](bool extracted) {
            outcome->done = true;
            outcome->extracted = extracted;
        };
        if (*alive)
            emit self->desktopExtractRequested(paths, folder, done);
        else
            done(false);
    });
}

void CBrowseImageDlg::goUp()
{
    const QString folder = CurrentFolder();
    if (folder.isEmpty() || folder == QLatin1String("/"))
        return;
    request({ParentImagePath(folder), true, folder.mid(folder.lastIndexOf(QLatin1Char('/')) + 1)});
}

void CBrowseImageDlg::stopFind()
{
    if (m_findStop)
        *m_findStop = true;
    m_findStop.reset();
    m_finding = false;
    m_findDelay->stop();
}

void CBrowseImageDlg::startFind()
{
    stopFind();
    m_Found->clear();
    const NameFilter filter(m_Find->text());
    if (filter.isEmpty() || !m_browser) {
        if (m_ListArea->currentWidget() == m_Results)
            m_ListArea->setCurrentWidget(m_List);
        updateStatus();
        return;
    }
    if (m_ListArea->currentWidget() == m_List)
        m_ListArea->setCurrentWidget(m_Results);
    m_finding = true;
    m_findStop = std::make_shared<std::atomic<bool>>(false);
    backgroundTasks::start([browser = m_browser, alive = m_alive, self = this, stop = m_findStop, filter] {
        const auto post = [&](auto f) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [alive, self, stop, f = std::move(f)]() mutable {
                    if (*alive && !*stop)
                        f(self);
                },
                Qt::QueuedConnection);
        };
        ImagingError error;
        const bool walked = browser->find(
            filter, *stop,
            [&](QList<WimDirEntry> found) {
                post([found = std::move(found)](CBrowseImageDlg *dlg) {
                    dlg->m_Found->append(found);
                    dlg->updateStatus();
                });
                return true;
            },
            &error);
        if (!walked && !*stop)
            qCWarning(lcArchive) << "cannot find in the image:" << error.text;
        post([](CBrowseImageDlg *dlg) {
            dlg->m_finding = false;
            dlg->updateStatus();
            emit dlg->findFinished(dlg->m_Found->rowCount());
        });
    });
    updateStatus();
}

void CBrowseImageDlg::updateStatus()
{
    const int selected = m_selected->count();
    m_Extract->setEnabled(selected > 0 && m_browser);
    if (m_ListArea->currentWidget() == m_Results) {
        const int found = m_Found->rowCount();
        m_Status->setText(m_finding ? QStringLiteral("正在查找……已找到 %1 个").arg(found)
                                    : QStringLiteral("找到 %1 个项目").arg(found));
        return;
    }
    if (IsLoading()) {
        m_Status->setText(QStringLiteral("正在读取……"));
        return;
    }
    const int count = m_Entries->rowCount();
    m_Status->setText(selected ? QStringLiteral("已选择 %1 个项目，共 %2 个").arg(selected).arg(count)
                               : QStringLiteral("%1 个项目").arg(count));
}
