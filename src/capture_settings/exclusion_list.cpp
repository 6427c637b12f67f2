#include "capture_settings/exclusion_list.h"

#include "support/error_cause.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <cerrno>

namespace {

// A list is a few hundred bytes; anything past this is not a list we wrote,
// and reading it whole would only cost memory.
constexpr qint64 kMaxListBytes = 16 * 1024 * 1024;

constexpr char16_t kLf = 0x000A;
constexpr char16_t kCr = 0x000D;
constexpr char16_t kBom = 0xFEFF;
constexpr char16_t kSwappedBom = 0xFFFE;

QString listFile(const QString &dir, const char *name)
{
    QString path = dir;
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + QLatin1String(name);
}

void appendLine(ExclusionList &list, QString line)
{
    if (line.endsWith(QChar(kCr)))
        line.chop(1);
    // A NUL ends the text as the wide-character reads of the original format
    // do; whatever follows it on the line is not part of the entry.
    const qsizetype nul = line.indexOf(QChar(0));
    if (nul >= 0)
        line.truncate(nul);
    list.append(line);  // skips empty lines
}

}  // namespace

bool ExclusionList::append(const QString &entry)
{
    if (entry.isEmpty() || count() >= kMaxEntries)
        return false;
    m_entries.append(entry);
    m_edited = true;
    return true;
}

void ExclusionList::removeAt(int i)
{
    if (i < 0 || i >= m_entries.size())
        return;
    m_entries.removeAt(i);
    m_edited = true;
}

const QStringList &ExclusionList::defaults()
{
    static const QStringList d{
        QStringLiteral("\\hiberfil.sys"),
        QStringLiteral("\\pagefile.sys"),
        QStringLiteral("\\swapfile.sys"),
        QStringLiteral("\\$recycle.bin\\"),
        QStringLiteral("\\system volume information\\"),
        QStringLiteral("\\windows\\logs\\"),
        QStringLiteral("\\windows\\csc\\"),
        QStringLiteral("\\windows\\temp\\"),
    };
    return d;
}

ExclusionList &exclusionList()
{
    static ExclusionList list;
    return list;
}

void parseExclusionList(ExclusionList &list, const QByteArray &bytes, bool complete)
{
    const qsizetype units = bytes.size() / 2;  // an odd last byte is not a code unit
    const uchar *data = reinterpret_cast<const uchar *>(bytes.constData());
    const auto unitAt = [data](qsizetype i, bool bigEndian) -> char16_t {
        return bigEndian ? qFromBigEndian<quint16>(data + 2 * i) : qFromLittleEndian<quint16>(data + 2 * i);
    };
    qsizetype i = 0;
    bool bigEndian = false;
    if (units > 0 && unitAt(0, false) == kBom) {
        i = 1;
    } else if (units > 0 && unitAt(0, false) == kSwappedBom) {
        i = 1;
        bigEndian = true;
    }
    QString line;
    for (; i < units && list.count() < ExclusionList::kMaxEntries; ++i) {
        const char16_t unit = unitAt(i, bigEndian);
        if (unit == kLf) {
            appendLine(list, line);
            line.clear();
        } else {
            line.append(QChar(unit));
        }
    }
    if (complete && i == units)
        appendLine(list, line);
}

namespace {

void fillFromFile(ExclusionList &list, const QString &dir)
{
    const QString path = listFile(dir, "set2.data");
    const QFileInfo info(path);
    if (!info.exists()) {
        for (const QString &e : ExclusionList::defaults())
            list.append(e);
        return;
    }
    QFile::remove(listFile(dir, "set.data"));

    // Only a regular file: opening a FIFO of that name would block forever.
    if (!info.isFile())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.read(kMaxListBytes);
    // A cut-off last line is not an entry.
    const bool complete = !(bytes.size() == kMaxListBytes && !file.atEnd());
    parseExclusionList(list, bytes, complete);
}

}  // namespace

void LoadExclusionList(ExclusionList &list, const QString &dir)
{
    list.clear();
    fillFromFile(list, dir);
    list.setEdited(false);
}

QByteArray serializeExclusionList(const ExclusionList &list)
{
    QByteArray out;
    const auto put = [&out](char16_t unit) {
        out.append(char(unit & 0xFF));
        out.append(char(unit >> 8));
    };
    for (int i = 0; i < list.count(); ++i) {
        if (i > 0) {
            put(kCr);
            put(kLf);
        }
        for (QChar c : list.at(i))
            put(c.unicode());
    }
    return out;
}

bool SaveExclusionList(const ExclusionList &list, const QString &dir, QString *error)
{
    // Unchanged, the file (or the defaults) says it already; and an empty list
    // nobody emptied (a file that could not be read) must not overwrite that file.
    if (!list.isEdited())
        return true;
    // A new file that replaces the old one only when complete: a failed write
    // keeps the list saved before.
    const QString path = listFile(dir, "set2.data");
    QSaveFile file(path);
    const QByteArray bytes = serializeExclusionList(list);
    errno = 0;
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    // The failing step's system error, read before anything else runs; in the
    // user's language when it is a common one.
    const int failedErrno = errno;
    if (error)
        *error = path + QStringLiteral(": ") + (failedErrno > 0 ? systemErrorText(failedErrno) : file.errorString());
    file.cancelWriting();
    return false;
}
