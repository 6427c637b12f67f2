#pragma once

#include "operations/archive_file_operation.h"

#include <QString>
#include <cstdint>

// Parts of 4000 MB fit a FAT32 stick (at most 4 GiB less a byte per file)
// with room to spare. A megabyte is 1 MiB here, as for wimlib-imagex split.
constexpr uint64_t kDefaultPartSizeMb = 4000;
constexpr uint64_t kMaxPartSizeMb = 1024 * 1024;

// The part size typed by the user, in megabytes: a whole number from 1 to
// kMaxPartSizeMb, blanks around it and a "MB" or "M" after it allowed. False
// for anything else.
bool ParsePartSizeMb(const QString &text, uint64_t *megabytes);

// Why the archive described by `info` cannot be split, as the message says
// it; "" when it can.
QString SplitRefusal(const WIM_INFO &info);

// The question before a split whose parts will not all keep to the size
// asked, `partBytes`: which files force it, their sizes and their parts.
QString SplitOversizedQuestion(const QList<ImagingOversizedFile> &files, uint64_t partBytes);

// Writing the open archive as a split set. On the worker, before anything is
// busy: the refusals, the first part's name (save chooser) and the part
// size, and whether to go on when a file makes a part larger. The parts take their names only once all are written: a
// failure or an abort leaves none behind.
class SplitOperation : public ArchiveFileOperation
{
public:
    SplitOperation(HWIM wim, const QString &archivePath);

protected:
    bool prepare(OperationContext &ctx) override;
    bool work(OperationContext &ctx) override;

private:
    bool askPartSize(OperationContext &ctx);
    bool confirmOversized(OperationContext &ctx);

    QString m_archivePath;
    QString m_firstPart;
    uint64_t m_partBytes = 0;
};
