#pragma once

#include "imaging/imaging_library.h"

#include <array>
#include <functional>
#include <mutex>

// Which boundary calls of an imaging double fail on purpose, and how often
// each was made. The in-memory fake and the fault-injecting decorator share it,
// so that a test fails a call the same way whichever of them it stands on.
//
//   plan.failOn(Call::SetImageInformation);      // the next use fails
//   plan.failOn(Call::CloseHandle, 2);           // the second use from now fails
//   plan.failAlways(Call::RegisterMessageCallback);
//
// A failed use leaves the calling thread's LastError() naming the injected
// failure. Thread-safe: the program calls from its worker threads.
class FailurePlan
{
public:
    enum class Call {
        CreateFile,
        CloseHandle,
        SetTemporaryPath,
        GetAttributes,
        LoadImage,
        GetImageInformation,
        SetImageInformation,
        CaptureImage,
        ApplyImage,
        ExportImage,
        DeleteImage,
        SetBootImage,
        RegisterMessageCallback,
        UnregisterMessageCallback,
        SplitFile,
        VerifyFile,
        OptimizeFile,
        RefreshFile,
        UpdateImage,
        SplitOversizedFiles,
    };
    static constexpr int kCallCount = int(Call::SplitOversizedFiles) + 1;

    // The nth use of `call` from now on fails (nth >= 1); uses before it are
    // not failed. A later failOn for the same call replaces the earlier one.
    void failOn(Call call, int nth = 1);
    // Every use of `call` fails until reset.
    void failAlways(Call call);
    void reset(Call call);
    void resetAll();
    // Runs `hook` on the calling thread at each use of `call`, before the call
    // is failed or made (to hold it, or to send a library message first).
    void onCall(Call call, std::function<void()> hook);

    // How often `call` was made (failed or not) since construction.
    int uses(Call call) const;
    // How many uses of `call` were failed on purpose.
    int failures(Call call) const;

    static const char *callName(Call call);

protected:
    // Counts the use; true when this use is to fail.
    bool shouldFail(Call call);
    // Why the calling thread's last planned call failed; empty when it did not.
    static QString injected();
    static ImagingError injectedError();

private:
    struct Rule {
        int countdown = 0;  // fail when it reaches 0 from 1; 0 = no pending failure
        bool always = false;
        int uses = 0;
        int failures = 0;
        std::function<void()> hook;
    };

    mutable std::mutex m_mutex;
    std::array<Rule, kCallCount> m_rules{};
};
