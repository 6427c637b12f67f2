#pragma once

#include "archive/image_table.h"

#include <QString>

// The error code of an unclosed value in the metadata text (invalid argument).
constexpr quint32 kInvalidArgument = 0x80070057u;

// The five editable elements, by the index callers pass.
enum class MetadataTag : int {
    Name = 0,
    Description = 1,
    DisplayName = 2,
    DisplayDescription = 3,
    Flags = 4,
};

QString openingTag(MetadataTag tag);
QString closingTag(MetadataTag tag);

// Appends a record to `table` and fills it from the image's metadata text.
// Text values are decoded (the five predefined entities and numeric
// character references), so they read back as they were typed. An element
// written empty ("<FLAGS/>", as other tools write it) reads as empty.
// Returns false (invalid argument) when a value runs to the end of the text
// without a "<"; the record stays counted with what was filled before.
[[nodiscard]] bool ReadImageInfo(const QString &text, ImageTable &table);

// Replaces the value of the element `tag` in `text` (an empty "<TAG/>" becomes
// "<TAG>value</TAG>"), or inserts the whole element before "</IMAGE>" (at the
// start when there is none). The value is
// escaped for XML. Returns false (invalid argument) on an unclosed old value,
// and then leaves the text as it was.
[[nodiscard]] bool SetMetadataTag(QString &text, const QString &value, MetadataTag tag);
