#include "archive/metadata_xml.h"

// Placeholder until the metadata text lands.
QString openingTag(MetadataTag) { return {}; }
QString closingTag(MetadataTag) { return {}; }
bool ReadImageInfo(const QString &, ImageTable &table) { table.append(); return false; }
bool SetMetadataTag(QString &, const QString &, MetadataTag) { return false; }
