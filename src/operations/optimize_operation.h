#pragma once

#include "operations/archive_file_operation.h"

#include <QString>

// Why the archive described by `info`, open with access level `access`,
// cannot be rebuilt, as the message says it; "" when it can.
QString OptimizeRefusal(const WIM_INFO &info, qint16 access);

// Rebuilding the open archive to give back the space no image uses any more.
// The library writes a new file beside it and renames it over the archive
// only when it is complete: a failure, an abort, a kill or a full disk leaves
// the archive as it was. Afterwards the list shows the archive as it now is.
class OptimizeOperation : public ArchiveFileOperation
{
public:
    OptimizeOperation(HWIM wim, qint16 access);

protected:
    bool prepare(OperationContext &ctx) override;
    bool work(OperationContext &ctx) override;

private:
    qint16 m_access;
};
