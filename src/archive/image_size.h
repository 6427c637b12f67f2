#pragma once

#include <QString>
#include <QtGlobal>

// A byte count as the list shows it: whole kibibytes as KB, MB above 1024 KB,
// GB above 1024 MB; two decimals with trailing zeros trimmed, no space before
// the unit ("0KB", "1.5GB", "12.05MB").
QString FormatImageSize(quint64 bytes);

// The label of an archive's compression type: "无压缩", "快速压缩",
// "最大压缩" and "LZMS压缩" for 0 to 3 (3: solid ESD files); any other type
// is named by its number, so no earlier archive's label stays on show.
QString CompressionLabel(int compression);
