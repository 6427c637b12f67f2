#pragma once

#include "archive/image_info.h"
#include "imaging/wim_types.h"

#include <QString>
#include <cstdint>

class QObject;

// What an operation reads of the window: the open archive and the selected row.
struct ArchiveState {
    HWIM wim = nullptr;      // null when no archive is open
    QString filePath;        // as the user chose it
    QString canonicalPath;   // "" when none is open
    QString workDir;         // the working directory given to the library
    qint16 compression = 2;  // the archive's compression type
    int selectedRow = -1;    // the selected row, -1 for none
};

// The window as the long operations see it; the one way an operation reaches
// the window. The window implements it; operations know nothing else of it.
//
// Threads:
// - The progress protocol (BeginBusy to SetFilterActive) may be called from any
//   thread: each member hands over to the UI thread itself and returns when
//   the window has done it.
// - OnOpProgress and AppendLogLine run on the UI thread (WimMessageCallback
//   hands them over); OnOpProcess runs on the library's thread inside the
//   callback, before the library goes on.
// - The rest runs on the UI thread only; a worker reaches it through the
//   hand-over of support/ui_thread.h.
class OperationHost
{
public:
    virtual ~OperationHost() = default;

    // ---- The progress protocol ----
    // Progress area shown with "正在预计" and "0%", start time taken, the
    // filter off, the abort answer reset (unless a close is confirmed).
    virtual void BeginBusy() = 0;
    // A pause of 500 ms, then the progress area hidden.
    virtual void EndBusy() = 0;
    // The progress area hidden at once: the early ends of a capture.
    virtual void HideBusyNow() = 0;
    virtual bool IsBusy() const = 0;
    // The completion message with the time since BeginBusy.
    virtual void ReportFinished() = 0;
    // The output dialog with the log, when the log is not empty.
    virtual void ShowLog() = 0;
    // Turns the exclusion filter of a capture on or off (OnOpProcess reads it).
    virtual void SetFilterActive(bool active) = 0;

    // ---- Library messages ----
    virtual void OnOpProgress(int percent) = 0;
    virtual void AppendLogLine(unsigned message, const QString &path, qint32 code) = 0;
    // May clear *keep: the path is then left out of the capture.
    virtual void OnOpProcess(const char16_t *path, int32_t *keep) = 0;

    // ---- UI thread ----
    // The owner of every prompt an operation shows (any thread; never null).
    virtual QObject *PromptOwner() = 0;
    virtual ArchiveState OpenArchiveState() const = 0;
    virtual void ClearLog() = 0;
    // Appends a captured image's record to the table, shows it as the last
    // row and refreshes the window.
    virtual void AddCapturedImage(const ImageInfo &record) = 0;
    // Appends a line of the operation's own to the log (the output dialog).
    virtual void AppendLogText(const QString &line) = 0;
    // Reads the open archive's images into the list again (after a rebuild);
    // false when that failed, after its message.
    virtual bool LoadImageList() = 0;
    // What the runner keeps running (mounted images) changed: the list shows
    // it again; `folderToShow`, when given, opens in the desktop's file manager.
    virtual void LastingOperationsChanged(const QString &folderToShow) { Q_UNUSED(folderToShow); }
};
