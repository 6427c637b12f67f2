#pragma once

#include "archive/image_info.h"

#include <vector>

// The open archive's images; record i is list row i.
struct ImageTable {
    int capacity = 4;
    int count = 0;
    qint16 compression = 2;  // 0 none, 1 XPRESS, 2 LZX (3 LZMS)
    int bootRow = -1;        // 0-based row of the boot image, -1 for none
    std::vector<ImageInfo> records = std::vector<ImageInfo>(4);

    // Counts a new last record (growing the capacity by one when full) and
    // returns it for filling.
    ImageInfo &append();
    // Removes record r; the later records move up by one.
    void remove(int r);
    // Empties the table; the slots stay allocated.
    void reset();
};

// The row of `table` that holds the image that was at row `oldRow` as
// `image` when the archive was read before, or -1 when it is gone: an image
// with a name is known by its name (no two images share one), one without by
// all its texts and its size; of several alike, the one nearest `oldRow`.
int FindSameImage(const ImageTable &table, const ImageInfo &image, int oldRow);
