#pragma once

#include "app/recent_archives.h"
#include "archive/image_info.h"
#include "archive/image_table.h"
#include "imaging/wim_handle.h"
#include "imaging/wim_types.h"
#include "operations/lasting_operation.h"
#include "operations/operation_host.h"
#include "operations/operation_runner.h"

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QPair>
#include <QRect>
#include <QString>
#include <atomic>
#include <memory>

class QFileSystemWatcher;
class QLabel;
class QMenu;
class QProgressBar;
class QSettings;
class QPushButton;
class QTableWidget;
class QTimer;
struct CaptureRequest;
struct ImagingError;
struct ImageChange;
class CBrowseImageDlg;

// The main window: the open archive, its image list, the status fields, the
// progress area and the context menus through which every command is given.
// It owns every piece of state the operations share. Its handlers run on the
// UI thread. The long operations (src/operations) run under its operation
// runner and reach it only as their OperationHost, through the hand-over of
// support/ui_thread.h; they never know this class.
class CTarnboxDlg : public QDialog, public OperationHost
{
    Q_OBJECT

public:
    explicit CTarnboxDlg(QWidget *parent = nullptr);
    ~CTarnboxDlg() override;

    // ---- Fields, in declaration order ----
    QIcon m_hIcon;
    std::atomic<bool> m_bFilterActive{false};  // the capture's exclusion filter is on
    qint64 m_tStart = 0;                       // wall-clock seconds when the operation began
    qint64 m_tStartMonotonicMs = 0;            // the same moment on the monotonic clock (elapsed times)
    QString m_strCapturePath;
    QString m_strAppDir;  // the executable's folder, with its trailing separator
    QString m_strLog;
    WimHandle m_hWim;
    qint16 m_nAccess = -1;
    int m_nTotalParts = 1;  // the parts of the open archive's set; 1: not split
    ImageTable m_Images;
    QTableWidget *m_List = nullptr;
    QString m_strCompression;
    int m_nImageCount = 0;
    QString m_strFilePath;
    QString m_strAccess;
    QString m_strWorkDir;
    QString m_strWinTemp;  // default working directory
    QProgressBar *m_Progress = nullptr;
    QString m_strPercent;
    QString m_strRemaining;

    // ---- Main window ----
    // Copies every bound field into its control (fields to controls only).
    void RefreshWindow();
    // The first row that is both focused and selected, or -1.
    int SelectedRow() const;
    // Makes row r selected and focused and gives the list the keyboard focus.
    void SelectAndFocusRow(int r);
    // The pop-up of menu 129 the right click shows now: 0, 1 or 2; -1 while busy.
    int ContextMenuIndex() const;
    // Builds that pop-up (nullptr while busy); its items run OnCommand.
    QMenu *CreateContextMenu();
    // The one entry of every command: menu items, buttons, Enter, Escape and
    // the close box, the list's double-click, and whatever is added later (a
    // command that brings data, such as a dropped archive, comes through here
    // too, not around it). While an operation is claimed, or once the window
    // is closing, every command but the close is refused here, silently, as
    // the menu refuses to open.
    void OnCommand(int command);
    // A command with what it brings: for command 1 and ID_OPEN_FILE, the
    // archive to open instead of asking with the chooser (a dropped archive,
    // the one named on the command line). Refused as OnCommand refuses.
    void OnCommand(int command, const QString &path);
    // Whether OnCommand would run a command other than the close now.
    bool AcceptsCommands() const;
    // True, having told the user why, when something left running on the
    // open archive (a mounted image) holds it against a command of `effect`.
    bool RefuseForLastingOperations(ArchiveEffect effect);
    const OperationRunner &Runner() const { return m_runner; }
    OperationRunner &Runner() { return m_runner; }
    // The folder picker: the chosen folder without one trailing separator, or "".
    static QString PickFolder(QObject *owner, const QString &start = {});
    void SetWorkDir();

    // ---- Opening and creating archives ----
    void OpenArchive();
    // The same open, of `path`, without the chooser.
    void OpenArchive(const QString &path);
    // Opens `path` once the window runs, as the open command does (the
    // command line's archive).
    void OpenAtStart(const QString &path);
    void NewArchive();
    // The recent archives of pop-up 1, kept in `settings` from now on (the
    // program's per-user configuration; without it, in memory only).
    void UseRecentArchivesFrom(QSettings *settings);
    const RecentArchives &Recent() const { return m_recent; }
    // Opens the recent archive `i` (0: the most recent) again, if there is one.
    void OpenRecentArchive(int i);

    // ---- Image list ----
    bool LoadImageList() override;
    // On failure, *cause (when given) is what was shown beneath the message.
    bool LoadImageList(QString *cause);
    void AddImageRow(int r);
    void SetRowText(int row, int column, const QString &text);

    // ---- The archive changed by another program (ctarnbox_dlg_watch.cpp) ----
    // Watches the open archive's file (and its folder, for a rename over it).
    void WatchArchive();
    // Reads the list again when another program changed the archive: now
    // when idle, else once the window is idle (no operation, no modal dialog).
    void ReadListAgainWhenIdle();
    // Reads the archive and the list again, keeping the selection on the
    // same image where it still exists.
    void ReloadImageList();
    // After a refused change: reads the list again when another program had
    // changed the archive (the failure's cause tells the user so).
    void ReloadIfChangedElsewhere(const ImagingError &why);

    // ---- Background operations (the window's side of OperationHost) ----
    void BeginBusy() override;
    void EndBusy() override;
    // Hides the progress area at once, without EndBusy's pause: the early
    // ends of a capture.
    void HideBusyNow() override;
    bool IsBusy() const override;
    void ReportFinished() override;
    void ShowLog() override;
    void SetFilterActive(bool active) override;
    void OnOpProgress(int percent) override;
    void AppendLogLine(unsigned message, const QString &path, qint32 code) override;
    // Decides a WIM_MSG_PROCESS on the library's thread: may clear *keep.
    void OnOpProcess(const char16_t *path, int32_t *keep) override;
    QObject *PromptOwner() override { return this; }
    ArchiveState OpenArchiveState() const override;
    void ClearLog() override;
    void AddCapturedImage(const ImageInfo &record) override;
    void AppendLogText(const QString &line) override;
    void CloseApp();
    // A logout or kill: as CloseApp, but with no long step running nothing is
    // asked; what is still open (a completion message) ends with the window.
    void CloseForSessionEnd();
    void CloseWorker();
    // The close worker, before the window goes: asks what becomes of what is
    // left running (commit, discard, leave it); false when the user cancels.
    // Then ends each as chosen, under the closed runner.
    bool AskAboutLastingOperations(std::vector<std::unique_ptr<Operation>> *endings);

    // ---- Capture ----
    void AddImage();
    void CaptureWorker(const CaptureRequest &request, std::unique_ptr<ImageInfo> info);

    // ---- Apply, export ----
    void ApplyImage();
    void ApplyWorker();
    void ExportImage();
    void ExportWorker(HWIM destination, HWIM image);

    // ---- Browsing an image, extracting from it ----
    // Opens a browse dialog on the selected image (modeless; several may be open).
    void BrowseImage();
    // The browse dialog's "提取到…": the destination, then the extraction as a
    // long operation.
    void ExtractFromImage(uint32_t imageIndex, const QStringList &paths, QWidget *chooserOwner);
    // Ends every browse dialog: their images belong to the archive as it was
    // before it was replaced or lost an image.
    void CloseBrowseDialogs();
    // A change of the image's files the browse dialog `browse` asks for,
    // and what the window and the dialog show after it.
    void ChangeImage(uint32_t imageIndex, ImageChange change, CBrowseImageDlg *browse);
    void ShowImageChanged(uint32_t imageIndex, const ImageChange &change, const ImagingError &error,
                          CBrowseImageDlg *browse);

    // ---- Split, verify, optimize (ESD and split sets) ----
    void SplitFile();
    void VerifyFile();
    void OptimizeFile();

    // ---- Mounting an image as a folder (ctarnbox_dlg_mount.cpp) ----
    // The selected image mounted at a folder the user picks (an empty one).
    void MountImage(bool readWrite);
    // The selected image's mount unmounted; a read-write one asks first
    // whether its changes are committed or discarded.
    void UnmountImage();
    // The mounts an earlier run left (the window was killed, or left them):
    // kept as this run's, and the user is offered to unmount them.
    void OfferRecordedMounts();
    void LastingOperationsChanged(const QString &folderToShow) override;
    // Marks the rows whose image is mounted (an icon, where it is as tooltip).
    void ShowMounts();

    // True, having told the user why, when the open archive is a split set:
    // the write commands are refused before they ask anything.
    bool RefuseWriteToSplitSet();
    // "文件无法写入" with why: a split set, or an archive opened read-only.
    void ReportWriteRefused();

    // ---- Delete, boot flag, edit ----
    void DeleteImage();
    // The question before a delete (index and name, default "否"); true on "是".
    bool ConfirmDelete(int r);
    void SetBootImage();
    void EditImage();
    void OnListDblClk();

    // ---- Exclusion list ----
    void LoadExclusionList();
    void SaveExclusionList();
    void SetExclusions();

    QString m_strArchiveOnDisk;  // canonical path of the open archive

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;
    // The list's mouse presses and double-clicks, wherever they land.
    bool eventFilter(QObject *watched, QEvent *event) override;
    // One archive dropped on the window opens it; anything else is not taken.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void onListClicked();
    void onListRightClicked(const QPoint &pos);
    void setBusyVisible(bool visible);
    // A path field: the path elided in the middle when it does not fit, the
    // whole path as its tooltip.
    static void showPath(QLabel *label, const QString &path);
    // Spreads the list's width over its columns (a resize of the list).
    void shareColumnWidths();
    // The hint in the empty list: how to begin; hidden once it has rows.
    void showEmptyHint();
    // Ends every modal dialog but this window (UI thread).
    void rejectOpenDialogs();

    QLabel *m_lblCompression = nullptr;
    QLabel *m_lblImageCount = nullptr;
    QLabel *m_lblFilePath = nullptr;
    QLabel *m_lblAccess = nullptr;
    QLabel *m_lblWorkDir = nullptr;
    QLabel *m_lblBusy = nullptr;
    QLabel *m_lblRemaining = nullptr;
    QLabel *m_lblPercent = nullptr;
    QLabel *m_lblEmptyHint = nullptr;
    QFileSystemWatcher *m_archiveWatcher = nullptr;
    QTimer *m_rereadTimer = nullptr;
    QSize m_templateSize;                            // the smallest size: the template's
    QList<QPair<QWidget *, QRect>> m_templateRects;  // each control at that size
    std::atomic<bool> m_busy{false};                 // mirrors the visibility of the busy label
    std::atomic<bool> m_closeRequested{false};
    std::atomic<bool> m_closeWithoutAsking{false};  // the session ends: CloseForSessionEnd
    RecentArchives m_recent;
    // Declared last, so destroyed first: it waits for a running operation
    // while the rest of the window is still whole.
    OperationRunner m_runner{*this};
};

// The one main window; set by its constructor, cleared by its destructor.
extern std::atomic<CTarnboxDlg *> g_pMainDlg;
