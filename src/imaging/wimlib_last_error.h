#pragma once

#include "imaging/imaging_library.h"

// The calling thread's last failure in the wimlib backend, shared by the
// files that implement its calls.

// Records `error` as the calling thread's last failure; returns false so that
// a failing call can `return wimlibFail(...)`.
bool wimlibFail(ImagingError error);
const ImagingError &wimlibLastFailure();

// A failure of wimlib's call with `code`: its kind, and errno only when the
// code names a failed system call (elsewhere errno is left over from before).
ImagingError wimlibError(int code, int systemError, const QString &text);

// The kind of failure a wimlib error code stands for; file-system errors
// (open, read, write, mkdir, ...) are told apart by `systemError` (errno).
ImagingError::Kind wimlibErrorKind(int code, int systemError);
// The kind of failure an errno value stands for (Other when none fits).
ImagingError::Kind systemErrorKind(int systemError);
