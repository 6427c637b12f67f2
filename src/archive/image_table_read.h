#pragma once

#include "archive/image_table.h"
#include "imaging/wim_types.h"
#include "support/imaging_error.h"

#include <cstdint>

class ImagingLibrary;

// What ReadImageTable found.
struct ImageTableRead {
    enum Result {
        Read,
        AttributesNotRead,  // the archive's attributes: nothing was read
        ImageNotRead,       // image `image` could not be loaded or its text read
        ImageMalformed,     // image `image`'s text holds an unclosed value
    };
    Result result = Read;
    uint32_t image = 0;  // 1-based: the image that failed
    ImagingError why;    // AttributesNotRead, ImageNotRead: the failing call's
    int totalParts = 1;  // the parts of the archive's split set; 1: not split
};

// Fills `table` (emptied first) from the archive `wim`: its compression, its
// boot image and every image's record, in order, each image handle closed
// before the next is loaded. After a failure the images read before it stay
// counted, a malformed one too with what was read of it. Any thread, with the
// handle used by that thread alone meanwhile.
ImageTableRead ReadImageTable(ImagingLibrary &lib, HWIM wim, ImageTable &table);
