#pragma once

#include "imaging/imaging_library.h"

// What kind of failure a wimlib error code is. systemError is errno as it
// was right after the failed call: wimlib leaves it set for its file errors
// (open, read, write, rename, ...), which are classified by it.
ImagingError::Kind wimlibErrorKind(int code, int systemError);

// The kind of a failed system call's errno; Other when it has none of ours.
ImagingError::Kind systemErrorKind(int systemError);

// errno as far as it belongs to the failure: wimlib leaves stale values
// behind its own errors, so only its file errors keep it (0 otherwise).
int wimlibSystemError(int code, int systemError);
