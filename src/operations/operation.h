#pragma once

#include "imaging/imaging_library.h"
#include "support/prompts.h"

#include <QString>
#include <cstdint>

class OperationHost;
class OperationRunner;

// What an operation has while it runs on its worker: the window (as its
// host), its prompts, the library's message callback and the close request.
// Made by the runner for one run of one operation; used on that worker only.
class OperationContext
{
public:
    OperationContext(const OperationContext &) = delete;
    OperationContext &operator=(const OperationContext &) = delete;

    OperationHost &host() const;
    // The runner that runs it (lasting operations are kept there).
    OperationRunner &runner() const { return m_runner; }
    // A message box owned by the window, asked on the UI thread; its answer.
    // An empty caption is the application's name; `detail`, when not empty, is
    // shown beneath the text (the cause of a failure).
    int message(const QString &text, const QString &caption = {}, uint32_t type = MB_OK,
                const QString &detail = {}) const;
    // A failure: the message with its cause beneath, also logged once under
    // pellwick.operations. `error` is the library's last error, read on this
    // worker right after the failing call.
    // `more`, when given, goes beneath the cause (what the failure left).
    int failure(const QString &text, const QString &caption, const ImagingError &error, const QString &more = {}) const;
    int failure(const QString &text, const QString &caption, const QString &cause) const;
    // Registers WimMessageCallback for this operation; false when the library
    // refuses. Once per operation: a second call only says it is registered.
    bool registerCallback();
    // Unregisters what this operation registered, and only that: one
    // operation's end never removes another's callback. The library's answer;
    // true when nothing was registered.
    bool unregisterCallback();
    // The user has confirmed closing the window: stop before the next long step.
    bool aborted() const;

private:
    friend class OperationRunner;
    explicit OperationContext(OperationRunner &runner) : m_runner(runner) {}

    OperationRunner &m_runner;
    bool m_registered = false;
};

// One long operation (capture, apply, export and those still to come): an
// object with one owner, run once by the OperationRunner on a worker. It reports
// to the window only through its context's host, never by touching the window.
class Operation
{
public:
    virtual ~Operation() = default;

    // Worker thread: every step from the first one on the worker to the last
    // (the completion message and the output dialog included). The claim is
    // released when this returns.
    virtual void run(OperationContext &ctx) = 0;

    // The library's thread, for each WIM_MSG_PROCESS while the window's filter
    // is on: may clear *keep to leave the path out. Only a capture filters.
    virtual void process(const char16_t *path, int32_t *keep);
};

// The shape every long library call takes, with the places where operations
// differ as a profile and hooks. run() is, in this order:
//
//   prepare                  questions and choosers of the worker (apply's
//                            folder, format); false ends the run quietly
//   (a confirmed close ends the run here: nothing long has started)
//   BeginBusy, busyStarted   when busyBeforeRegistering
//   the log emptied          when clearsLog
//   beforeRegistering        (apply loads its image)
//   register the callback    refused: EndBusy when busy, registrationFailed, end
//   BeginBusy, busyStarted   when not busyBeforeRegistering
//   work                     the long call and the steps up to the
//                            unregistration; false: an early end that has
//                            shown its message, the callback is unregistered
//                            and the run ends without completion message
//   unregister               refused: as unregisterFailure says, "吊销出错！"
//   500 ms pause             when pausesBeforeEnd
//   EndBusy
//   finishing                what the run found, told before the completion
//                            message (verify's verdict)
//   ReportFinished (when reportsFinished), ShowLog (when showsLog)
//
// A new long operation (extract, split, verify, optimize, ...) derives from it,
// sets its profile and writes work() and registrationFailed(); its command
// handler claims on the UI thread and hands the claim and the operation to
// OperationRunner::start (see operation_runner.h).
class LongOperation : public Operation
{
public:
    enum class UnregisterFailure {
        EndsRun,   // progress area hidden at once, the message, no completion message (capture)
        Reported,  // EndBusy, the message, and the run goes on (apply)
        Ignored,   // the result is not examined (export)
    };
    struct Profile {
        bool busyBeforeRegistering = true;
        bool clearsLog = true;
        bool pausesBeforeEnd = false;
        bool showsLog = true;
        bool reportsFinished = true;  // the completion message (a quick change has none)
        UnregisterFailure unregisterFailure = UnregisterFailure::Reported;
    };

    void run(OperationContext &ctx) final;

protected:
    explicit LongOperation(const Profile &profile) : m_profile(profile) {}

    virtual bool prepare(OperationContext &) { return true; }
    virtual void busyStarted(OperationContext &) {}
    virtual void beforeRegistering(OperationContext &) {}
    // The operation's own message for a refused registration, and its clean-up.
    virtual void registrationFailed(OperationContext &ctx) = 0;
    virtual bool work(OperationContext &ctx) = 0;
    virtual void finishing(OperationContext &) {}

private:
    const Profile m_profile;
};

// The two shapes most operations on an image take.
// As an apply: its pauses, its log and its messages (extract, add files).
inline constexpr LongOperation::Profile kApplyLikeProfile{
    .busyBeforeRegistering = false,
    .clearsLog = true,
    .pausesBeforeEnd = true,
    .showsLog = true,
    .reportsFinished = true,
    .unregisterFailure = LongOperation::UnregisterFailure::Reported,
};
// Quick: the progress area while the library works, nothing after it
// (a file opened, a delete, a rename, a new folder).
inline constexpr LongOperation::Profile kQuickProfile{
    .busyBeforeRegistering = true,
    .clearsLog = false,
    .pausesBeforeEnd = false,
    .showsLog = false,
    .reportsFinished = false,
    .unregisterFailure = LongOperation::UnregisterFailure::Reported,
};
