#include "operations/message_callback.h"

#include "imaging/wim_types.h"
#include "operations/operation_host.h"
#include "operations/operation_runner.h"
#include "resources/resource_ids.h"
#include "support/ui_thread.h"

std::atomic<int32_t> g_nAbort{0};

uint32_t WimMessageCallback(uint32_t messageId, uintptr_t wParam, intptr_t lParam, void *)
{
    OperationHost *host = OperationRunner::messageHost();
    if (!host)
        return messageId == WIM_MSG_PROCESS ? uint32_t(g_nAbort.load()) : WIM_MSG_SUCCESS;

    unsigned logMessage = 0;
    switch (messageId) {
    case WIM_MSG_PROGRESS: {
        const int percent = int(wParam);
        uiThread::run([host, percent] { host->OnOpProgress(percent); });
        return WIM_MSG_SUCCESS;
    }
    case WIM_MSG_PROCESS:
        // Decided here, on the library's thread: the matcher reads only the
        // exclusion list and the filter flag, which cannot change while busy.
        host->OnOpProcess(reinterpret_cast<const char16_t *>(wParam), reinterpret_cast<int32_t *>(lParam));
        return uint32_t(g_nAbort.load(std::memory_order_acquire));
    case WIM_MSG_ERROR: logMessage = res::WM_OP_ERROR; break;
    case WIM_MSG_RETRY: logMessage = res::WM_OP_RETRY; break;
    case WIM_MSG_INFO: logMessage = res::WM_OP_INFO; break;
    case WIM_MSG_WARNING: logMessage = res::WM_OP_WARNING; break;
    default: return WIM_MSG_SUCCESS;
    }
    const auto *pathText = reinterpret_cast<const char16_t *>(wParam);
    const QString path = pathText ? QString::fromUtf16(pathText) : QString();
    const qint32 code = qint32(lParam);
    uiThread::run([host, logMessage, &path, code] { host->AppendLogLine(logMessage, path, code); });
    return WIM_MSG_SUCCESS;
}
