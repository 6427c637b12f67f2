#include "archive/image_table.h"

#include <cstdlib>

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

int FindSameImage(const ImageTable &table, const ImageInfo &image, int oldRow)
{
    const auto same = [&image](const ImageInfo &other) {
        if (!image.name.isEmpty())
            return other.name == image.name;
        return other.name.isEmpty() && other.displayName == image.displayName
               && other.displayDescription == image.displayDescription && other.description == image.description
               && other.flags == image.flags && other.expandedBytes == image.expandedBytes;
    };
    int found = -1;
    for (int r = 0; r < table.count; ++r) {
        if (same(table.records[std::size_t(r)]) && (found < 0 || std::abs(r - oldRow) < std::abs(found - oldRow)))
            found = r;
    }
    return found;
}
