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
    const QStringList &entries() const { return m_entries; }
    int count() const { return int(m_entries.size()); }
    const QString &at(int i) const { return m_entries.at(i); }
    void append(const QString &entry);  // empty entries are ignored
    void removeAt(int i);               // no-op outside the list
    void clear() { m_entries.clear(); }

    // The eight built-in entries, in order.
    static const QStringList &defaults();

private:
    QStringList m_entries;
};

// The one list of the program.
ExclusionList &exclusionList();

// Replaces the content of `list` with "set2.data" in `dir` (deleting
// "set.data" there when "set2.data" exists), or with the defaults when there
// is no "set2.data". An existing file that cannot be read gives an empty list.
void LoadExclusionList(ExclusionList &list, const QString &dir);

// The file format: UTF-16LE code units, entries separated by CR LF, nothing
// after the last. Parsing takes LF alone as a line end too, drops one CR
// before it, skips empty lines and cuts an entry at a NUL; `complete` false
// drops a last line without a line end (a file cut off while reading).
void parseExclusionList(ExclusionList &list, const QByteArray &bytes, bool complete = true);
QByteArray serializeExclusionList(const ExclusionList &list);

// Writes `list` to "set2.data" in `dir`, replacing the old file atomically;
// an empty list writes nothing. Returns false when the file could not be written.
bool SaveExclusionList(const ExclusionList &list, const QString &dir);
