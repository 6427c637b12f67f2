#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The process-wide ordered list of exclusion entries. Each entry is a path
// relative to the root of a drive, beginning with "\"; a folder entry ends
// with "\". Changed only on the UI thread while no operation runs; read by the
// capture's matcher while a capture runs.
class ExclusionList
{
public:
    // Every path of a capture is matched against each entry in turn; a list
    // far longer than anyone types is a damaged file, not a list.
    static constexpr int kMaxEntries = 4096;

    const QStringList &entries() const { return m_entries; }
    int count() const { return int(m_entries.size()); }
    const QString &at(int i) const { return m_entries.at(i); }
    // False (and nothing added) for an empty entry or a full list.
    bool append(const QString &entry);
    void removeAt(int i);  // no-op outside the list
    void clear() { m_entries.clear(); }

    // Whether entries were added or removed since the list was loaded: only
    // then is an empty list the user's and worth saving.
    bool isEdited() const { return m_edited; }
    void setEdited(bool edited) { m_edited = edited; }

    // The eight built-in entries, in order.
    static const QStringList &defaults();

private:
    QStringList m_entries;
    bool m_edited = false;
};

// The one list of the program.
ExclusionList &exclusionList();

// Replaces the content of `list` with "set2.data" in `dir` (deleting
// "set.data" there when "set2.data" exists), or with the defaults when there
// is no "set2.data". An existing file that cannot be read gives an empty list.
void LoadExclusionList(ExclusionList &list, const QString &dir);

// The file format: UTF-16LE code units, entries separated by CR LF, nothing
// after the last. Parsing skips a byte-order mark at the start (and reads the
// file as big-endian after a big-endian one, as text editors may write it),
// takes LF alone as a line end too, drops one CR before it, skips empty lines,
// cuts an entry at a NUL and stops at kMaxEntries; `complete` false drops a
// last line without a line end (a file cut off while reading).
void parseExclusionList(ExclusionList &list, const QByteArray &bytes, bool complete = true);
QByteArray serializeExclusionList(const ExclusionList &list);

// Writes `list` to "set2.data" in `dir`, replacing the old file atomically,
// when it was edited (isEdited); an unchanged list writes nothing. An emptied
// list is written as an empty file, so that its old entries do not come back. Returns false, with the file and the
// cause in *error, when the file could not be written.
bool SaveExclusionList(const ExclusionList &list, const QString &dir, QString *error = nullptr);
