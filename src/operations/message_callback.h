#pragma once

#include <atomic>
#include <cstdint>

// What WimMessageCallback answers to WIM_MSG_PROCESS: 0, or
// WIM_MSG_ABORT_IMAGE (-1) once the user has confirmed closing during an
// operation, until the next BeginBusy.
extern std::atomic<int32_t> g_nAbort;

// The one callback registered with the imaging library: hands the library's
// messages to the window whose operation runner is alive
// (OperationRunner::messageHost).
uint32_t WimMessageCallback(uint32_t messageId, uintptr_t wParam, intptr_t lParam, void *userData);
