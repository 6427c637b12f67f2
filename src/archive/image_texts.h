#pragma once

#include "archive/image_info.h"
#include "archive/metadata_xml.h"
#include "imaging/wim_types.h"
#include "support/imaging_error.h"

#include <QString>

class ImagingLibrary;

// The five texts of an image that the user gives at a capture and changes in
// an edit: the record's field, the image list's column and the metadata's
// element of each, in the order they are written into the metadata.
struct ImageText {
    QString ImageInfo::*field;
    int column;
    MetadataTag tag;
};
inline constexpr ImageText kImageTexts[] = {
    {&ImageInfo::description, 3, MetadataTag::Description},
    {&ImageInfo::name, 2, MetadataTag::Name},
    {&ImageInfo::flags, 4, MetadataTag::Flags},
    {&ImageInfo::displayDescription, 1, MetadataTag::DisplayDescription},
    {&ImageInfo::displayName, 0, MetadataTag::DisplayName},
};

// The image list's columns after the texts, and what the boot column shows.
constexpr int kSizeColumn = 5;
constexpr int kBootColumn = 6;
QString BootColumnText(bool boot);

// Writes into the metadata text `xml` each text of `texts` that differs from
// `old`'s (so, with the default, each text that is not empty). False (invalid
// argument) when an old value is unclosed; `xml` may be written in part then.
[[nodiscard]] bool WriteImageTexts(QString &xml, const ImageInfo &texts, const ImageInfo &old = {});

// The metadata a new image is captured with, holding `texts` (an empty text is
// left out, so the image has none).
QString NewImageTexts(const ImageInfo &texts);

// The five texts of `from` in `to`; the size and the rest of `to` stay.
void CopyImageTexts(const ImageInfo &from, ImageInfo &to);

// Reading one loaded image's record through the boundary.
enum class ImageRead {
    Read,
    NotRead,    // the library call failed: its LastError() says why
    Malformed,  // a value runs to the end of the text (invalid argument)
};
// The library's text may carry its terminating NUL: the text ends there.
// Malformed: `*record` holds what was read before the unclosed value.
ImageRead ReadImageRecord(ImagingLibrary &lib, HWIM image, ImageInfo *record);

// What ChangeImageTexts did.
struct ImageTextsChange {
    enum Result {
        Stored,     // the archive holds the new texts
        NotRead,    // the image or its metadata could not be read; nothing changed
        Malformed,  // its metadata holds an unclosed value; nothing changed
        Refused,    // the library refused to store them
    };
    Result result = NotRead;
    ImagingError why;  // NotRead and Refused: the failing call's
    ImageInfo held;    // the texts the archive holds afterwards (Stored, Refused)
};

// Changes the texts of image `index` (1-based) of the archive `wim` from
// `current` (as the list shows them) to `wanted`: the texts that differ are
// written into its metadata, which is stored in one commit. After a refusal
// the texts are read back, as the archive kept them (`current`'s when that
// fails too); not when another program changed the archive (kind
// ChangedOnDisk), whose list must be read again. The image handle is closed
// when this returns.
ImageTextsChange ChangeImageTexts(ImagingLibrary &lib, HWIM wim, uint32_t index, const ImageInfo &current,
                                  const ImageInfo &wanted);
