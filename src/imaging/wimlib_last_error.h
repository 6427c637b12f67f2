#pragma once

#include "imaging/imaging_library.h"
#include "imaging/wimlib_errors.h"

// The calling thread's last failure in the wimlib backend, shared by the
// files that implement its calls.

// Records `error` as the calling thread's last failure; returns false so that
// a failing call can `return wimlibFail(...)`.
bool wimlibFail(ImagingError error);
const ImagingError &wimlibLastFailure();

// A failure of wimlib's call with `code`: its kind, and errno only when the
// code names a failed system call (elsewhere errno is left over from before).
ImagingError wimlibError(int code, int systemError, const QString &text);
