#pragma once

#include <QByteArray>

#include <wimlib.h>

#include <sys/stat.h>

// Whether extracting `image` into the folder `target` would write over the
// file `archive` (the archive being read): true when the image holds an entry
// at a path below the target that is that file now (same device and inode),
// reached through any symbolic link, bind mount or hard link on the way.
// Only folders that exist below the target are looked into, so an empty
// target costs one listing of the image's root. *where receives the image's
// path of that entry, empty when there is none. Returns 0 or a wimlib error
// code.
int findArchiveInImage(WIMStruct *wim, int image, const QByteArray &target, const struct stat &archive,
                       QByteArray *where);
