#include "archive/image_table.h"

ImageInfo &ImageTable::append()
{
    if (count == capacity) {
        ++capacity;
        records.resize(std::size_t(capacity));
    }
    ++count;
    ImageInfo &record = records[std::size_t(count - 1)];
    record = ImageInfo();
    return record;
}

void ImageTable::remove(int r)
{
    if (r < 0 || r >= count)
        return;
    --count;
    for (int i = r; i < count; ++i)
        records[std::size_t(i)] = records[std::size_t(i + 1)];
}

void ImageTable::reset()
{
    count = 0;
    compression = 2;
    bootRow = -1;
}
