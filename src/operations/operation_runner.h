#pragma once

#include <QList>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

class LastingOperation;
class Operation;
class OperationContext;
class OperationHost;

// Owns the rule "one long operation at a time" for the window that made it.
//
// Who claims: the window's command handler of a long operation, on the UI
// thread, before the operation's first step: before any question, chooser or
// dialog it shows and before any worker (of its own or of a dialog) starts.
// An empty claim means the command is refused: do nothing, show nothing.
//
// Who releases: whoever holds the claim when the operation's last step is
// done. A claim handed to start() is released by the worker after the body
// returns, that is after the completion message and the output dialog. A claim
// still held on the UI thread (a cancelled chooser, a check that failed before
// any worker) is released when it is dropped.
//
// What is refused: while a claim is held, and from the moment the window has
// decided to close, acceptsCommands() is false. The window's one command
// entry checks it, so every command (menus, Enter, double-click, drops and
// whatever comes later) is refused the way the menu is; only the close goes on.
//
// Closing: closeIfIdle() closes the door when nothing is claimed. While an
// operation is claimed the window asks the user; on OK abort() answers
// WIM_MSG_ABORT_IMAGE to the library from now on (BeginBusy no longer resets
// it), answers every later prompt with its default, refuses every later claim,
// and the window waits for the release without blocking the UI thread. An
// operation checks OperationContext::aborted() between its long steps; a
// format chain is never cut, the operation stops after it.
//
// Lasting operations: what an operation leaves running after its end (a
// mounted image) is kept here until the operation that ends it forgets it;
// the window refuses commands it holds against and its close asks about each.
//
// Threads: claim(), start() and dropping a claim on the UI thread; run() on the
// worker inside a started body; the queries and abort() on any thread.
class OperationRunner
{
public:
    // The right to run one operation. Move-only; dropping it releases.
    class Claim
    {
    public:
        Claim() = default;
        Claim(Claim &&other) noexcept : m_runner(std::exchange(other.m_runner, nullptr)) {}
        Claim &operator=(Claim &&other) noexcept;
        ~Claim();
        explicit operator bool() const { return m_runner != nullptr; }

    private:
        friend class OperationRunner;
        explicit Claim(OperationRunner *runner) : m_runner(runner) {}
        OperationRunner *m_runner = nullptr;
    };

    // The window's runner; it delivers the library's messages to `host`.
    explicit OperationRunner(OperationHost &host);
    // Waits for a started operation's end, as the window must before it goes.
    ~OperationRunner();
    OperationRunner(const OperationRunner &) = delete;
    OperationRunner &operator=(const OperationRunner &) = delete;

    // UI thread: a claim, or an empty one when the command is refused.
    Claim claim();
    // UI thread: runs `body` as a background task and releases the claim after
    // it returns. An empty claim starts nothing.
    void start(Claim claim, std::function<void()> body);
    // The same for an operation object: the body is run(*operation).
    void start(Claim claim, std::unique_ptr<Operation> operation);
    // Worker, inside a started body: runs the operation with a context of its own.
    void run(Operation &operation);

    bool isClaimed() const;
    // Neither claimed nor closing.
    bool acceptsCommands() const;

    // When nothing is claimed: no claim from now on, and true.
    bool closeIfIdle();
    // The close is confirmed (see above). Idempotent.
    void abort();
    bool abortRequested() const;
    // What BeginBusy stores as the library's abort answer.
    int32_t abortAnswer() const;

    // Returns when nothing is claimed; on the UI thread it keeps events
    // flowing, so that the operation's hand-overs are served.
    void waitForRelease() const;

    // Any thread. Keeps what an operation left running; forgets it once ended.
    void keep(std::shared_ptr<LastingOperation> lasting);
    void forget(const LastingOperation *lasting);
    QList<std::shared_ptr<LastingOperation>> lasting() const;

    OperationHost &host() const { return m_host; }
    // The library's thread: hands a WIM_MSG_PROCESS to the running operation.
    void process(const char16_t *path, int32_t *keep);

    // The host of the window whose runner is alive (WimMessageCallback's
    // target), or null.
    static OperationHost *messageHost();

private:
    enum class State { Idle, Claimed, Closed };

    void release();
    void setState(State state);

    OperationHost &m_host;
    mutable std::mutex m_mutex;
    State m_state = State::Idle;
    std::atomic<State> m_publicState{State::Idle};
    std::atomic<bool> m_abort{false};
    std::atomic<Operation *> m_running{nullptr};
    QList<std::shared_ptr<LastingOperation>> m_lasting;  // under m_mutex
};
