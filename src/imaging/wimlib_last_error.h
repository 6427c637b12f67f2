#pragma once

#include "imaging/imaging_library.h"
#include "imaging/wimlib_errors.h"

// The calling thread's last failure in the wimlib backend, shared by the
// files that implement its calls.

// Records `error` as the calling thread's last failure; returns false so that
// a failing call can `return wimlibFail(...)`.
bool wimlibFail(ImagingError error);
const ImagingError &wimlibLastFailure();
