// Noticing that another program changed the open archive, and reading the
// list again without losing the user's place in it.
#include "app/ctarnbox_dlg.h"

#include "archive/archive_log.h"
#include "imaging/imaging_library.h"

#include <QApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTableWidget>
#include <QTimer>

namespace {

// A write comes as many notices: one look once they have settled.
constexpr int kSettleMs = 300;

}  // namespace

void CTarnboxDlg::WatchArchive()
{
    if (!m_archiveWatcher) {
        m_archiveWatcher = new QFileSystemWatcher(this);
        m_rereadTimer = new QTimer(this);
        m_rereadTimer->setSingleShot(true);
        m_rereadTimer->setInterval(kSettleMs);
        connect(m_rereadTimer, &QTimer::timeout, this, &CTarnboxDlg::ReadListAgainWhenIdle);
        const auto notice = [this] {
            // A file replaced by a rename leaves the watch: follow the new one.
            if (!m_strArchiveOnDisk.isEmpty() && !m_archiveWatcher->files().contains(m_strArchiveOnDisk)
                && QFileInfo::exists(m_strArchiveOnDisk))
                m_archiveWatcher->addPath(m_strArchiveOnDisk);
            m_rereadTimer->start();
        };
        connect(m_archiveWatcher, &QFileSystemWatcher::fileChanged, this, notice);
        connect(m_archiveWatcher, &QFileSystemWatcher::directoryChanged, this, notice);
    }
    const QStringList watched = m_archiveWatcher->files() + m_archiveWatcher->directories();
    if (!watched.isEmpty())
        m_archiveWatcher->removePaths(watched);
    if (m_strArchiveOnDisk.isEmpty())
        return;
    m_archiveWatcher->addPath(m_strArchiveOnDisk);
    m_archiveWatcher->addPath(QFileInfo(m_strArchiveOnDisk).absolutePath());
}

void CTarnboxDlg::ReadListAgainWhenIdle()
{
    if (!m_hWim)
        return;
    // An operation or an open dialog works from the list as it is; its end brings another look.
    if (IsBusy() || !AcceptsCommands() || QApplication::activeModalWidget()) {
        m_rereadTimer->start();
        return;
    }
    bool changed = false;
    if (!imaging().WIMRefreshFile(m_hWim.get(), &changed)) {
        // Gone or unreadable: the next command on it says so with its own message.
        qCInfo(lcArchive, "the open archive cannot be read again: %s", qUtf8Printable(imaging().LastErrorText()));
        return;
    }
    if (changed)
        ReloadImageList();
}

void CTarnboxDlg::ReloadImageList()
{
    const int row = SelectedRow();
    const bool selected = row >= 0 && row < m_Images.count;
    const ImageInfo image = selected ? m_Images.records[std::size_t(row)] : ImageInfo();
    bool changed = false;
    imaging().WIMRefreshFile(m_hWim.get(), &changed);
    // Their images may have moved or gone.
    CloseBrowseDialogs();
    if (!LoadImageList())
        return;
    if (selected) {
        const int same = FindSameImage(m_Images, image, row);
        if (same >= 0)
            SelectAndFocusRow(same);
        else
            m_List->clearSelection();
    }
}

void CTarnboxDlg::ReloadIfChangedElsewhere(const ImagingError &why)
{
    if (why.kind == ImagingError::Kind::ChangedOnDisk)
        ReloadImageList();
}
