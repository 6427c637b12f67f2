#include "app/ctarnbox_dlg.h"

#include "app/main_window_commands.h"

#include "archive/archive_files.h"
#include "archive/archive_log.h"
#include "imaging/imaging_library.h"
#include "resources/app_icon.h"
#include "resources/main_window_layout.h"
#include "resources/menu_builder.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "support/failure_report.h"
#include "support/platform.h"
#include "support/ui_thread.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>

std::atomic<CTarnboxDlg *> g_pMainDlg{nullptr};

namespace {

struct Column {
    const char16_t *heading;
    int width;
};

constexpr Column kColumns[] = {
    {u"显示名称", 160}, {u"显示说明", 220}, {u"映像名称", 160}, {u"映像说明", 220},
    {u"系统标识", 90},  {u"展开空间", 70},  {u"可启动", 60},
};

}  // namespace

CTarnboxDlg::CTarnboxDlg(QWidget *parent) : QDialog(parent)
{
    // Construction: template 102, icon 128, the defaults, the global pointer,
    // the program's folder and the exclusion list.
    const auto controls = buildDialogFromTemplate(this, res::mainWindowTemplate());
    // The template's size is the smallest; a larger window gives the list the room.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::WindowMaximizeButtonHint);
    m_templateSize = size();
    setMinimumSize(m_templateSize);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    for (QWidget *control : findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (control->property("controlId").isValid())
            m_templateRects.append({control, control->geometry()});
    }
    setAcceptDrops(true);
    m_hIcon = appIcon();

    m_List = qobject_cast<QTableWidget *>(controls.value(res::IDC_IMAGE_LIST));
    m_Progress = qobject_cast<QProgressBar *>(controls.value(res::IDC_PROGRESS));
    m_lblCompression = qobject_cast<QLabel *>(controls.value(res::IDC_COMPRESSION));
    m_lblImageCount = qobject_cast<QLabel *>(controls.value(res::IDC_IMAGE_COUNT));
    m_lblFilePath = qobject_cast<QLabel *>(controls.value(res::IDC_FILE_PATH));
    m_lblAccess = qobject_cast<QLabel *>(controls.value(res::IDC_ACCESS));
    m_lblWorkDir = qobject_cast<QLabel *>(controls.value(res::IDC_WORK_DIR));
    m_lblBusy = qobject_cast<QLabel *>(controls.value(res::IDC_BUSY_LABEL));
    m_lblRemaining = qobject_cast<QLabel *>(controls.value(res::IDC_REMAINING));
    m_lblPercent = qobject_cast<QLabel *>(controls.value(res::IDC_PERCENT));

    // The whole path of the temporary directory, however long.
    m_strWinTemp = platform::defaultWorkDirectory();
    m_strWorkDir = m_strWinTemp;
    g_pMainDlg.store(this, std::memory_order_release);
    m_strAppDir = platform::executableDirectory();
    LoadExclusionList();

    // Initialisation.
    setWindowIcon(m_hIcon);
    m_Progress->setRange(0, 100);
    m_List->setColumnCount(int(std::size(kColumns)));
    for (int c = 0; c < int(std::size(kColumns)); ++c) {
        auto *item = new QTableWidgetItem(QString::fromUtf16(kColumns[c].heading));
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        m_List->setHorizontalHeaderItem(c, item);
        m_List->setColumnWidth(c, kColumns[c].width);
    }
    RefreshWindow();

    // How to begin, drawn in the empty list; the list's own clicks and drops
    // go through it.
    m_lblEmptyHint = new QLabel(m_List->viewport());
    m_lblEmptyHint->setObjectName(QStringLiteral("emptyHint"));
    m_lblEmptyHint->setAlignment(Qt::AlignCenter);
    m_lblEmptyHint->setTextFormat(Qt::PlainText);
    m_lblEmptyHint->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_lblEmptyHint->setForegroundRole(QPalette::PlaceholderText);
    // Bound to the hint: the list's model still signals while the list is destroyed.
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_List->model(), signal, m_lblEmptyHint, [this] { showEmptyHint(); });
    connect(m_List->model(), &QAbstractItemModel::modelReset, m_lblEmptyHint, [this] { showEmptyHint(); });
    showEmptyHint();

    connect(m_List, &QTableWidget::itemClicked, this, [this] { onListClicked(); });
    connect(m_List, &QWidget::customContextMenuRequested, this, &CTarnboxDlg::onListRightClicked);
    m_List->viewport()->installEventFilter(this);
    for (int id : {res::kIdOk, res::kIdCancel, res::IDC_WORK_DIR_BUTTON}) {
        if (auto *button = qobject_cast<QPushButton *>(controls.value(id)))
            connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    }
    uiThread::setWindowOpen(true);
}

CTarnboxDlg::~CTarnboxDlg()
{
    // The close has waited already; this only guards a window destroyed
    // without closing. The operation still reaches a whole window meanwhile.
    m_runner.waitForRelease();
    uiThread::setWindowOpen(false);
    // Normally the close has released it already.
    m_hWim.close();
    CTarnboxDlg *self = this;
    g_pMainDlg.compare_exchange_strong(self, nullptr);
}

void CTarnboxDlg::RefreshWindow()
{
    if (!m_lblCompression)
        return;
    m_lblCompression->setText(m_strCompression);
    m_lblImageCount->setText(QString::number(m_nImageCount));
    showPath(m_lblFilePath, m_strFilePath);
    m_lblAccess->setText(m_strAccess);
    showPath(m_lblWorkDir, m_strWorkDir);
    m_lblPercent->setText(m_strPercent);
    m_lblRemaining->setText(m_strRemaining);
    setWindowTitle(m_hWim && !m_strFilePath.isEmpty()
                       ? QStringLiteral("%1 - Pellwick").arg(QFileInfo(m_strFilePath).fileName())
                       : QStringLiteral("Pellwick"));
    showEmptyHint();
    if (m_lblEmptyHint)
        ShowMounts();
}

void CTarnboxDlg::showEmptyHint()
{
    if (!m_lblEmptyHint)
        return;
    m_lblEmptyHint->setText(m_hWim ? QStringLiteral("右键单击此处添加映像")
                                   : QStringLiteral("右键单击此处打开或新建映像文件，\n或者把映像文件拖放到这里"));
    m_lblEmptyHint->setGeometry(m_List->viewport()->rect());
    m_lblEmptyHint->setVisible(m_List->rowCount() == 0);
}

int CTarnboxDlg::SelectedRow() const
{
    const QModelIndex current = m_List->currentIndex();
    if (!current.isValid())
        return -1;
    const int row = current.row();
    return m_List->selectionModel()->isRowSelected(row, QModelIndex()) ? row : -1;
}

void CTarnboxDlg::SelectAndFocusRow(int r)
{
    if (r < 0 || r >= m_List->rowCount())
        return;
    m_List->setCurrentCell(r, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_List->setFocus();
}

int CTarnboxDlg::ContextMenuIndex() const
{
    if (!AcceptsCommands())
        return -1;
    return res::mainListPopupIndex(m_hWim != nullptr, SelectedRow() >= 0);
}

QMenu *CTarnboxDlg::CreateContextMenu()
{
    const int index = ContextMenuIndex();
    if (index < 0)
        return nullptr;
    res::MenuPopup popup = mainListMenu().at(index);
    if (index == 1)
        popup = res::withRecentArchives(std::move(popup), m_recent.paths(),
                                        [](const QString &path) { return QFileInfo(path).isFile(); });
    return buildPopupMenu(popup, this, [this](int command) { OnCommand(command); });
}

void CTarnboxDlg::onListClicked()
{
    if (SelectedRow() >= 0)
        RefreshWindow();
}

void CTarnboxDlg::onListRightClicked(const QPoint &)
{
    QMenu *menu = CreateContextMenu();
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(QCursor::pos());
}

bool CTarnboxDlg::AcceptsCommands() const
{
    return m_runner.acceptsCommands() && !IsBusy();
}

bool CTarnboxDlg::RefuseForLastingOperations(ArchiveEffect effect)
{
    if (effect == ArchiveEffect::None || !m_hWim)
        return false;
    for (const auto &lasting : m_runner.lasting()) {
        if (lasting->archive() == m_strArchiveOnDisk && lasting->holdsAgainst(effect)) {
            uiThread::messageBox(this, QStringLiteral("映像文件正被使用，请先卸载映像。"), QStringLiteral("错误提示"),
                                 MB_OK | MB_ICONEXCLAMATION, lasting->description());
            return true;
        }
    }
    return false;
}

void CTarnboxDlg::OnCommand(int command)
{
    OnCommand(command, QString());
}

void CTarnboxDlg::OnCommand(int command, const QString &path)
{
    const MainWindowCommand *entry = findMainWindowCommand(command);
    if (!entry || (entry->refusedWhileBusy && !AcceptsCommands()))
        return;
    if (RefuseForLastingOperations(entry->effect))
        return;
    entry->handler(*this, command, path);
}

QString CTarnboxDlg::PickFolder(QObject *owner, const QString &start)
{
    return uiThread::pickFolderPath(owner, start);
}

ArchiveState CTarnboxDlg::OpenArchiveState() const
{
    return {m_hWim.get(), m_strFilePath, m_strArchiveOnDisk, m_strWorkDir, m_Images.compression, SelectedRow()};
}

void CTarnboxDlg::SetWorkDir()
{
    const QString path = PickFolder(this);
    if (path.isEmpty())
        return;
    if (!m_hWim) {
        m_strWorkDir = path;
        RefreshWindow();
        return;
    }
    if (imaging().WIMSetTemporaryPath(m_hWim.get(), path)) {
        m_strWorkDir = path;
        RefreshWindow();
    } else {
        reportFailure(lcArchive, this, QStringLiteral("临时目录设置失败！"), QStringLiteral("错误提示"),
                      imaging().LastError());
    }
}

void CTarnboxDlg::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        OnCommand(res::kIdOk);
        event->accept();
        return;
    case Qt::Key_Escape:
        OnCommand(res::kIdCancel);
        event->accept();
        return;
    case Qt::Key_B:
        // Ctrl+B browses the selected image, as pop-up 0 offers it.
        if (event->modifiers() == Qt::ControlModifier) {
            OnCommand(res::ID_BROWSE_IMAGE);
            event->accept();
            return;
        }
        QDialog::keyPressEvent(event);
        return;
    case Qt::Key_O:
        // Ctrl+Shift+O opens the most recent archive again, as pop-up 1's first recent entry.
        if (event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier)) {
            OnCommand(res::ID_REOPEN_LAST);
            event->accept();
            return;
        }
        QDialog::keyPressEvent(event);
        return;
    default: QDialog::keyPressEvent(event);
    }
}

void CTarnboxDlg::closeEvent(QCloseEvent *event)
{
    // The close box is command 2; the window ends only through CloseWorker.
    event->ignore();
    OnCommand(res::kIdCancel);
}

void CTarnboxDlg::reject()
{
    OnCommand(res::kIdCancel);
}

bool CTarnboxDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_List->viewport())
        return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::Resize && m_lblEmptyHint) {
        m_lblEmptyHint->setGeometry(m_List->viewport()->rect());
        shareColumnWidths();
        ShowMounts();
    }
    if (event->type() == QEvent::MouseButtonDblClick) {
        // The list's double-click, wherever it lands, edits the selected row.
        OnListDblClk();
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress) {
        const auto *press = static_cast<QMouseEvent *>(event);
        const QPoint at = press->position().toPoint();
        if (!m_List->indexAt(at).isValid()) {
            // Full-row selection: beside a row's cells is still that row.
            const int row = m_List->rowAt(at.y());
            if (row >= 0) {
                m_List->setCurrentCell(row, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
                return true;
            }
            // As in the platform's list view, a right press over no row drops
            // the selection first: the menu then offers nothing that acts on a
            // row the pointer is not on.
            if (press->button() == Qt::RightButton)
                m_List->clearSelection();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CTarnboxDlg::shareColumnWidths()
{
    // The columns fill the list in the template's proportions, each at least
    // as wide as its heading: no column hides behind a scroll bar.
    QHeaderView *header = m_List->horizontalHeader();
    const int margin = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 4;
    QList<int> weights, minimums;
    for (const Column &column : kColumns) {
        weights << column.width;
        minimums << header->fontMetrics().horizontalAdvance(QString::fromUtf16(column.heading)) + margin;
    }
    const QList<int> widths = res::sharedColumnWidths(weights, minimums, m_List->viewport()->width());
    for (int c = 0; c < int(widths.size()); ++c)
        m_List->setColumnWidth(c, widths[c]);
}

void CTarnboxDlg::showPath(QLabel *label, const QString &path)
{
    label->setText(label->fontMetrics().elidedText(path, Qt::ElideMiddle, label->width()));
    label->setToolTip(path);
}

void CTarnboxDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    const QSize growth = size() - m_templateSize;
    for (const auto &[control, atTemplateSize] : std::as_const(m_templateRects))
        control->setGeometry(
            res::mainWindowControlRect(control->property("controlId").toInt(), atTemplateSize, growth));
    if (!m_lblFilePath)
        return;
    // What the fields show now, not the members: the window shows a field
    // only when it is refreshed.
    showPath(m_lblFilePath, m_lblFilePath->toolTip());
    showPath(m_lblWorkDir, m_lblWorkDir->toolTip());
}

void CTarnboxDlg::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void CTarnboxDlg::dragMoveEvent(QDragMoveEvent *event)
{
    // Refused at once while an operation runs, and for anything but one
    // archive: the pointer says so, and nothing is asked.
    if (AcceptsCommands() && !DroppedArchive(event->mimeData()->urls()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CTarnboxDlg::dropEvent(QDropEvent *event)
{
    const QString path = DroppedArchive(event->mimeData()->urls());
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // After the drop has ended: the open may ask and wait, which the program
    // the file came from must not. The command entry decides then.
    QTimer::singleShot(0, this, [this, path] { OnCommand(res::ID_OPEN_FILE, path); });
}
