#pragma once

#include <wimlib.h>

#include <cstdint>

class WimlibProgress;

// Helpers of the backend's calls on whole archive files (split, verify,
// optimize; wimlib_media.cpp holds the calls themselves).
namespace wimmedia {

// Reports `done` of `total` through `progress` as a WIM_MSG_PROGRESS
// percentage (never going back; nothing when total is 0) and asks with
// WIM_MSG_PROCESS whether to go on. For calls whose wimlib reports are not
// one write or one extraction from 0 to 100 %: each phase maps its own to
// the whole call's.
wimlib_progress_status overall(WimlibProgress &progress, uint64_t done, uint64_t total);

}  // namespace wimmedia
