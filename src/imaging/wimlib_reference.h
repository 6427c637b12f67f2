#pragma once

#include <QString>

#include <wimlib.h>

#include <cstdint>

// The reference image of a repeat capture: every image records the source it
// was captured from (an element of our own in its metadata, which wimlib and
// other tools keep and ignore), and a new capture of the same source compares
// each file with the newest such image, so that an unchanged file's data is
// taken from the archive instead of being read again (wimlib's template
// image, as wimlib-imagex append --update-of uses it).
namespace wimref {

// The image property that holds the source, "/"-separated as wimlib names
// nested elements: <PELLWICK><SOURCE>/srv/data</SOURCE></PELLWICK>.
inline constexpr char kSourceProperty[] = "PELLWICK/SOURCE";

// What a capture of `path` records as its source: the folder's or the
// device's canonical path, so that every spelling of it (a trailing "/", a
// symbolic link) names the same source. `path` itself when it cannot be
// resolved.
QString sourceOf(const QString &path);

// The newest of images 1..lastIndex that recorded `source` (the latest
// CREATIONTIME, the higher index among equal ones); 0 when none did.
uint32_t newestFrom(WIMStruct *wim, uint32_t lastIndex, const QString &source);

// Lets image `newImage`, just added from `source` and not yet written, take
// the data of unchanged files from the newest earlier image of the same
// source, and records the source in it. Returns the reference's index (0:
// none), or a wimlib error code through *code when the source cannot be
// recorded. A reference that cannot be read (damaged metadata) only costs
// the time of reading every file: the capture goes on without it.
uint32_t referenceAndRecord(WIMStruct *wim, uint32_t newImage, const QString &source, bool useReference, int *code);

}  // namespace wimref
