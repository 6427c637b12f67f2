#pragma once

#include "archive/image_browser.h"
#include "archive/image_changes.h"
#include "archive/image_entries.h"
#include "imaging/wim_types.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class ImageFolderModel;
class ImageSearchResults;
class QTimer;
class ImageFolderTree;
class QLabel;
class SelectedRowCount;
class QLineEdit;
class QMenu;
class QMimeData;
class QTemporaryDir;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QTreeView;

// Looking inside one image: a folder tree, the entries of the folder shown
// (name, size, modified, type; sorted by any column, several selectable), a
// path bar, and "提取到…" for the selection. Modeless; it ends with the main
// window, which also ends it when its archive changes.
//
// Every listing runs on a worker, one at a time, and the UI thread only
// shows the result: the first reads the whole tree of the image (seconds on
// a Windows installation) while the dialog shows that it is loading. The
// extraction is the main window's operation: the dialog only asks for it
// (extractRequested) and goes on listing while it runs.
//
// Owns the image handle it is given; it is closed off the UI thread once the
// dialog has ended and no listing uses it any more.
class CBrowseImageDlg : public QDialog
{
    Q_OBJECT

public:
    CBrowseImageDlg(HWIM image, const QString &imageName, QWidget *parent);
    ~CBrowseImageDlg() override;

    // Shows the folder `path` (as typed in the path bar), or the folder
    // holding it with it selected when it is not a folder.
    void OpenPath(const QString &path);
    // The folder shown ("" until the first one is), and whether a folder
    // for the list is being read.
    QString CurrentFolder() const;
    bool IsLoading() const { return m_showing || m_pendingShow.has_value(); }
    // The image paths of the selected entries.
    QStringList SelectedPaths() const;
    // Builds the list's context menu for the selection now.
    QMenu *CreateContextMenu();

    // Whether the archive may be changed: the entries that change the
    // image's files are offered (and drops taken) only then.
    void SetWritable(bool writable);
    // The line about the image as a whole (ImageDetailsText).
    void SetImageDetails(const QString &text);
    bool IsWritable() const { return m_writable; }
    // A change of the image's files, as the menu, the keys and drops ask for
    // it: the window claims the operation (changeRequested) and then lets the
    // dialog ask what it needs (CompleteChange).
    void RequestChange(ImageChange change);
    // The questions of a change the window has claimed: the file or folder
    // to add (when none was dropped), whether to delete, the new name. False
    // when the user cancelled or gave a name that cannot be used (after its
    // message).
    bool CompleteChange(ImageChange *change);
    // Reads the folders `folders` again after a change, the one shown with
    // `select` selected.
    void Refresh(const QStringList &folders, const QString &select);
    // Files for the desktop (a file opened, a drag out) are extracted into a
    // folder of the dialog's own under `dir`, removed when the dialog ends.
    void SetWorkDirectory(const QString &dir) { m_workDir = dir; }
    // Extracts the file at `path` and opens it with the desktop's default application.
    void OpenEntry(const QString &path);
    // What a drag of the selection carries: the file URLs of the entries;
    // a drop target asking for them starts their extraction and waits for
    // it (and gets none when it failed). nullptr for no selection.
    QMimeData *CreateDragData();

    // The image folder a drop at `pos` of the list's viewport goes into: the
    // folder under it, else the folder shown.
    QString DropFolderAt(const QPoint &pos) const;

    ImageFolderModel *m_Entries = nullptr;
    ImageFolderTree *m_Folders = nullptr;
    QTreeView *m_List = nullptr;
    QTreeView *m_Tree = nullptr;
    QLineEdit *m_PathBar = nullptr;
    // Find: the box, and what it found in the whole image (shown in place
    // of the list while the box holds text).
    QLineEdit *m_Find = nullptr;
    QTreeView *m_Results = nullptr;
    ImageSearchResults *m_Found = nullptr;
    bool IsFinding() const { return m_finding; }

public slots:
    void done(int result) override;

signals:
    // "提取到…" for these image paths: the window decides (and may refuse).
    void extractRequested(const QStringList &paths);
    // Extracting `paths` into `destination` for the desktop; the window runs
    // it (or refuses) and calls `done` on the UI thread with the outcome.
    void desktopExtractRequested(const QStringList &paths, const QString &destination,
                                 const std::function<void(bool)> &done);
    // A change of the image's files: the window decides (and may refuse).
    void changeRequested(const ImageChange &change);
    // A folder's entries are on show (tests and the benchmark wait for it).
    void folderShown(const QString &path);
    // A find has walked the whole image.
    void findFinished(int found);

private:
    struct Request {
        Request(QString p = {}, bool s = true, QString sel = {}) : path(std::move(p)), show(s), select(std::move(sel))
        {}
        QString path;
        bool show = true;  // for the list; else only for the tree
        QString select;    // the entry to select once shown
    };

    void request(Request r);
    void startNext();
    void onListed(const Request &r, FolderListing listing);
    void showListing(const Request &r, FolderListing listing);
    void syncTree(const QString &path);
    void onActivated(const QModelIndex &index);
    void goUp();
    void requestExtract(const QStringList &paths);
    void updateStatus();
    void startFind();
    void stopFind();
    void releaseImage();
    bool eventFilter(QObject *watched, QEvent *event) override;
    // The entry's new name, asked with `name` shown first; "" when cancelled
    // or not usable (after its message). `self`: the entry renamed, if any.
    QString askName(const QString &title, const QString &label, const QString &name, const QString &self);

    std::shared_ptr<ImageBrowser> m_browser;
    // Cleared when the dialog goes: a listing that ends later finds no one.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    bool m_listing = false;  // a worker lists for this dialog
    bool m_showing = false;  // ... a folder for the list
    std::optional<Request> m_pendingShow;
    QStringList m_pendingFolders;
    bool m_syncingTree = false;
    QString m_failedStatus;
    SelectedRowCount *m_selected = nullptr;
    bool m_writable = false;
    // A new folder for files going to the desktop; "" after its message.
    QString newDesktopFolder();
    QString m_workDir;
    std::unique_ptr<QTemporaryDir> m_desktopFiles;
    int m_desktopFolders = 0;
    QTimer *m_findDelay = nullptr;
    bool m_finding = false;
    // Set for the find running: a newer text, or the dialog's end, stops it.
    std::shared_ptr<std::atomic<bool>> m_findStop;

    QToolButton *m_Up = nullptr;
    QStackedWidget *m_ListArea = nullptr;
    QLabel *m_Loading = nullptr;
    QLabel *m_Status = nullptr;
    QLabel *m_Details = nullptr;
    QPushButton *m_Extract = nullptr;
};
