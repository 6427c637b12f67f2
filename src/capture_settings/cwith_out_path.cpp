#include "capture_settings/cwith_out_path.h"

#include "resources/app_icon.h"
#include "resources/menu_builder.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "support/platform.h"
#include "support/ui_thread.h"

#include <QCursor>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QTableWidget>

namespace {

// Entries are compared with paths whose letters A to Z match lower-case ones
// only; no other character is folded.
QString lowerAsciiLetters(QString s)
{
    for (QChar &c : s) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return s;
}

// The chosen file relative to its drive: the folder is resolved to find the
// drive, the name is kept as chosen (a link is excluded by its own name).
QString driveRelativeFile(const QString &file)
{
    const QFileInfo info(file);
    const QString name = info.fileName();
    if (name.isEmpty())
        return platform::driveRelativePath(file);
    QString dir = platform::driveRelativePath(info.absolutePath());
    if (!dir.endsWith(QLatin1Char('\\')))
        dir += QLatin1Char('\\');
    return dir + name;
}

}  // namespace

CWithOutPath::CWithOutPath(QWidget *parent, ExclusionList &list) : QDialog(parent), m_entries(list)
{
    const auto controls = buildDialogFromTemplate(this, res::exclusionTemplate());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(appIcon());
    m_List = qobject_cast<QTableWidget *>(controls.value(res::IDC_EXCLUSION_LIST));

    m_List->setColumnCount(1);
    auto *heading = new QTableWidgetItem(QStringLiteral("需要排除的路径"));
    heading->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_List->setHorizontalHeaderItem(0, heading);
    m_List->setColumnWidth(0, 640);
    for (const QString &entry : m_entries.entries())
        appendRow(entry);

    connect(m_List, &QWidget::customContextMenuRequested, this, [this] {
        QMenu *menu = CreateContextMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(QCursor::pos());
    });
    m_List->setFocus();
}

int CWithOutPath::SelectedEntry() const
{
    const QModelIndex current = m_List->currentIndex();
    if (!current.isValid())
        return -1;
    return m_List->selectionModel()->isRowSelected(current.row(), QModelIndex()) ? current.row() : -1;
}

int CWithOutPath::PopupIndex() const
{
    return SelectedEntry() >= 0 ? 0 : 1;
}

QMenu *CWithOutPath::CreateContextMenu()
{
    return buildPopupMenu(res::exclusionMenu().at(PopupIndex()), this, [this](int command) { OnCommand(command); });
}

void CWithOutPath::OnCommand(int command)
{
    switch (command) {
    case res::ID_ADD_FOLDER: OnAddFolder(); break;
    case res::ID_ADD_FILE: OnAddFile(); break;
    case res::ID_REMOVE_ENTRY: OnRemove(); break;
    default: break;
    }
}

void CWithOutPath::OnAddFolder()
{
    const QString folder = uiThread::pickFolder(this, QStringLiteral("选择目录"));
    if (folder.isEmpty())
        return;
    QString entry = platform::driveRelativePath(folder);
    if (!entry.endsWith(QLatin1Char('\\')))
        entry += QLatin1Char('\\');
    addEntry(lowerAsciiLetters(entry));
}

void CWithOutPath::OnAddFile()
{
    FileChooser chooser;
    chooser.filter = QStringLiteral("所有文件(*.*)|*.*||");
    chooser.defaultExtension = QStringLiteral("*");
    chooser.overwritePrompt = true;
    const QString file = uiThread::openFile(this, chooser);
    if (file.isEmpty())
        return;
    addEntry(driveRelativeFile(file));
}

void CWithOutPath::OnRemove()
{
    const int row = SelectedEntry();
    if (row < 0)
        return;
    m_List->removeRow(row);
    m_entries.removeAt(row);
}

void CWithOutPath::addEntry(const QString &entry)
{
    // The list's file separates entries by line ends: a name holding one
    // would come back as two wrong entries.
    if (entry.isEmpty() || entry.contains(QLatin1Char('\n')) || entry.contains(QLatin1Char('\r')))
        return;
    if (!m_entries.append(entry)) {
        uiThread::messageBox(this, QStringLiteral("排除名单已满，最多 %1 项！").arg(ExclusionList::kMaxEntries),
                             QStringLiteral("错误提示"));
        return;
    }
    appendRow(entry);
}

void CWithOutPath::appendRow(const QString &text)
{
    const int row = m_List->rowCount();
    m_List->insertRow(row);
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_List->setItem(row, 0, item);
}

void CWithOutPath::keyPressEvent(QKeyEvent *event)
{
    // The OK button is hidden, so the dialog's own default-button handling
    // never fires: Enter closes the dialog here.
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}
