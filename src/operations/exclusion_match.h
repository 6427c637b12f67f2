#pragma once

#include <QStringView>

// A path relative to the root of its drive, seen through two pieces so that
// nothing is copied per file: `head`, the capture folder relative to its drive
// root with "\" separators ("" when the folder is the root), and `tail`, the
// rest of the library's path below the capture folder, whose "/" read as "\".
struct DriveRelativePath {
    QStringView head;
    QStringView tail;

    qsizetype size() const { return head.size() + tail.size(); }
    char16_t at(qsizetype i) const
    {
        const char16_t c = i < head.size() ? head[i].unicode() : tail[i - head.size()].unicode();
        return c == u'/' ? u'\\' : c;
    }
};

// Whether entry `e` of the exclusion list leaves out path `p`: a folder entry
// (ending in "\") every path that begins with it, a file entry exactly that
// path. A capital A-Z of the path also matches its small letter in the entry;
// nothing else is folded.
bool IsExcluded(const DriveRelativePath &p, QStringView e);
bool IsExcluded(QStringView p, QStringView e);
