#include "archive/image_table_read.h"

#include "archive/image_texts.h"
#include "imaging/imaging_library.h"
#include "imaging/wim_handle.h"

#include <algorithm>

ImageTableRead ReadImageTable(ImagingLibrary &lib, HWIM wim, ImageTable &table)
{
    table.reset();
    ImageTableRead read;
    WIM_INFO info{};
    if (!lib.WIMGetAttributes(wim, &info, sizeof info)) {
        read.result = ImageTableRead::AttributesNotRead;
        read.why = lib.LastError();
        return read;
    }
    table.bootRow = int(info.BootIndex) - 1;
    table.compression = qint16(info.CompressionType & 0xFFFFu);
    read.totalParts = std::max(1, int(info.TotalParts));
    for (uint32_t i = 1; i <= info.ImageCount; ++i) {
        const WimHandle image(lib, lib.WIMLoadImage(wim, i));
        ImageInfo record;
        const ImageRead got = image ? ReadImageRecord(lib, image.get(), &record) : ImageRead::NotRead;
        if (got == ImageRead::NotRead) {
            read.result = ImageTableRead::ImageNotRead;
            read.image = i;
            read.why = lib.LastError();
            return read;
        }
        table.append() = record;
        if (got == ImageRead::Malformed) {
            read.result = ImageTableRead::ImageMalformed;
            read.image = i;
            return read;
        }
    }
    return read;
}
