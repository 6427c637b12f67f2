#pragma once

#include "window_view.h"

// Shared pieces of the apply, export and quick-edit tests: a recording
// decorator over the imaging library, real archives made with wimlib-imagex,
// and file-backed drives on loop devices.

#include "app/ctarnbox_dlg.h"
#include "fault_injecting_imaging.h"
#include "forwarding_imaging.h"
#include "imaging/wimlib_backend.h"
#include "operations/operation.h"
#include "operations/operation_runner.h"
#include "recording_host.h"
#include "recording_prompts.h"

#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <set>

// Forwards every call to another library and writes down what the program
// asked, on whichever thread. It also
// - counts the handles it handed out and which of them came back closed;
// - refuses (without forwarding) every apply whose target lies outside
//   `allowedApplyRoot`, so that a test can never write into a real system
//   path, even when the code under test goes wrong;
// - can send scripted library messages through the registered callback while
//   an apply or an export runs, as the library does;
// - can replace the metadata text the library returns (to hand the program a
//   damaged one).
class RecordingImaging : public ForwardingImaging
{
public:
    struct Message {
        uint32_t id;
        QString path;
        int32_t code;
    };

    explicit RecordingImaging(ImagingLibrary &inner);

    QString allowedApplyRoot;
    QList<Message> messagesDuringLongCalls;
    std::function<QString(const QString &xml)> xmlFilter;

    // "LoadImage 2", "ApplyImage /t 6", "CreateFile /x.wim c0000000 4 0 2",
    // "SetTemporaryPath /w", "Export 1", "Delete 3", "SetBoot 3",
    // "SetImageInformation", "GetImageInformation", "Register", "Unregister", "Close".
    QStringList calls() const;
    QStringList callsStartingWith(const QString &prefix) const;
    // The texts given to WIMSetImageInformation and returned by WIMGetImageInformation, in order.
    QStringList xmlWritten() const;
    QStringList xmlRead() const;
    void clear();
    // Handles handed out and not closed yet.
    int openHandles() const;
    // Closes of handles this decorator never handed out (or closed twice).
    int strayCloses() const;

    HWIM WIMCreateFile(const QString &path, uint32_t desiredAccess, uint32_t creationDisposition,
                       uint32_t flagsAndAttributes, uint32_t compressionType, uint32_t *creationResult) override;
    bool WIMCloseHandle(HWIM handle) override;
    bool WIMSetTemporaryPath(HWIM wim, const QString &path) override;
    bool WIMGetAttributes(HWIM wim, WIM_INFO *info, uint32_t cbInfo) override;
    HWIM WIMLoadImage(HWIM wim, uint32_t index) override;
    bool WIMGetImageInformation(HWIM image, QString *xml, uint32_t *byteCount) override;
    bool WIMSetImageInformation(HWIM image, const QString &xml, uint32_t byteCount) override;
    HWIM WIMCaptureImage(HWIM wim, const QString &path, uint32_t captureFlags) override;
    // Noted as "CaptureImage <path>"; its texts count as written.
    HWIM WIMCaptureImageWithInformation(HWIM wim, const QString &path, uint32_t captureFlags, const QString &xml,
                                        uint32_t byteCount) override;
    bool WIMApplyImage(HWIM image, const QString &path, uint32_t applyFlags) override;
    bool WIMExportImage(HWIM image, HWIM destinationWim, uint32_t exportFlags) override;
    bool WIMDeleteImage(HWIM wim, uint32_t index) override;
    bool WIMSetBootImage(HWIM wim, uint32_t index) override;
    uint32_t WIMRegisterMessageCallback(HWIM wim, WIMMessageCallback callback, void *userData) override;
    bool WIMUnregisterMessageCallback(HWIM wim, WIMMessageCallback callback) override;
    QString LastErrorText() const override;

private:
    void note(const QString &call);
    HWIM opened(HWIM handle);
    void sendScriptedMessages();

    mutable QMutex m_mutex;
    QStringList m_calls;
    QStringList m_xmlWritten;
    QStringList m_xmlRead;
    std::set<HWIM> m_open;
    int m_strayCloses = 0;
    WIMMessageCallback m_callback = nullptr;
    void *m_userData = nullptr;
};

namespace opsfixture {

// One test's world: recording prompts; the real backend under the
// fault-injecting decorator under the recording one, installed while it
// lives; and a shown main window with `wimPath` open (read only when
// `readOnly`: opening for writing is made to fail). What the opening asked and
// called is forgotten.
struct WindowOnArchive {
    explicit WindowOnArchive(const QString &wimPath, bool readOnly = false);
    // Closes the window's archive and the window. "" when every handle the
    // library handed out came back, each once; otherwise what went wrong.
    QString finish();

    RecordingPrompts prompts;
    WimlibBackend real;
    FaultInjectingImaging faults{real};
    RecordingImaging library{faults};
    ScopedImaging scoped{&library};
    std::unique_ptr<CTarnboxDlg> dlg;
};

// The same world without the window: `wimPath` opened with `access` (for
// writing, as the window opens it, by default), given to a recording host as
// the open archive with `selectedRow` selected, and a runner of its own. What
// the opening called is forgotten.
struct HostOnArchive {
    HostOnArchive(const QString &wimPath, int selectedRow = 0, uint32_t access = WIM_GENERIC_READ_WRITE);
    // Runs `operation` to its end on the runner's worker, claimed as a command does.
    void run(std::unique_ptr<Operation> operation);
    // One command as the window's handler runs it: `open` on this thread
    // with the runner claimed (its first half: choosers, handles), then the
    // operation it returns, if any, on a worker. Returns at the run's end.
    void run(const std::function<std::unique_ptr<Operation>(OperationHost &)> &open);
    // Closes the archive; "" when every handle came back once, as finish() above.
    QString finish();

    RecordingPrompts prompts;
    WimlibBackend real;
    FaultInjectingImaging faults{real};
    RecordingImaging library{faults};
    ScopedImaging scoped{&library};
    RecordingHost host;
    OperationRunner runner{host};
    HWIM wim = nullptr;
};

// An operation's test world with the window (its tests of what the window
// shows) or on a recording host (the rest): the parts both have point into
// whichever is open.
struct WindowOrHost {
    // Opens `wimPath` in a new window (read only when `readOnly`); false when
    // its list is not `rows` long.
    bool openWindow(const QString &wimPath, int rows, bool readOnly = false);
    // Gives `wimPath` to a recording host; false when it does not open.
    bool openHost(const QString &wimPath, int selectedRow = 0);
    // The progress area was shown.
    bool started() const;
    // shownMessages of whichever is open.
    QStringList messages() const;
    // finish() of whichever is open ("" when neither), then closes it.
    QString finish();

    std::unique_ptr<WindowOnArchive> w;
    std::unique_ptr<HostOnArchive> h;
    RecordingPrompts *prompts = nullptr;
    FaultInjectingImaging *faults = nullptr;
    RecordingImaging *library = nullptr;
    CTarnboxDlg *dlg = nullptr;
};

// The start of the completion message; its time follows.
inline const QString kDone = QStringLiteral("操作完成，一共耗时 ");

// The message boxes shown, in order, the completion message cut to kDone; on
// a recording host, which shows no completion message, its ReportFinished
// counts as one.
QStringList shownMessages(const RecordingPrompts &prompts, const RecordingHost *host = nullptr);

// Runs wimlib-imagex; on failure `why` says what it printed.
bool wimlib(const QStringList &arguments, QString *why);

// Captures one tree per image into a new archive with wimlib-imagex. Image i
// is named names[i] with the description "说明 i+1".
bool makeArchive(const QString &wimPath, const QList<QString> &trees, const QStringList &names, QString *why,
                 const QString &compression = QStringLiteral("LZX"));

// In `folder`: t, `files` noise files of 300000 bytes; a.wim, one image "一"
// of t made by wimlib-imagex; and made of a.wim for each of `kinds`: "esd"
// (a.esd, solid) and "swm" (the set a.swm, a2.swm, ... of 1 MiB parts).
bool makeMediaArchives(const QString &folder, int files, const QStringList &kinds, QString *why);

// Opens `wimPath` in the window through its own command, answering the chooser.
void openInWindow(CTarnboxDlg &dlg, const QString &wimPath);

using windowview::closeArchive;

using windowview::rows;
// Column `column` of every row.
QStringList column(const CTarnboxDlg &dlg, int column);

// Waits for the background operations the test started; keeps the UI thread serving them.
bool waitForOperations(int timeoutMs = 120000);

// Why loop-device drives cannot be made here ("" when they can). `ntfs`
// adds what formatting to NTFS and mounting it back need.
QString loopDrivesUnavailable(bool ntfs);

// A file-backed disk attached to a loop device, formatted with `filesystem`
// and mounted at <dir>/mnt. Everything is undone by the destructor, also when
// a test fails half-way: unmounted (as often as it was mounted over) and detached.
class LoopDrive
{
public:
    LoopDrive(const QString &dir, int sizeMiB, const QString &filesystem);
    ~LoopDrive();
    LoopDrive(const LoopDrive &) = delete;
    LoopDrive &operator=(const LoopDrive &) = delete;

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QString mountPoint() const { return m_mountPoint; }
    QString device() const { return m_device; }
    // The filesystem type and label blkid finds on the device now.
    QString fsType() const;
    QString label() const;

private:
    QString m_image;
    QString m_device;
    QString m_mountPoint;
    QString m_error;
};

}  // namespace opsfixture
