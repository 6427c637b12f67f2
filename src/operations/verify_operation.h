#pragma once

#include "imaging/imaging_library.h"
#include "operations/archive_file_operation.h"

#include <QStringList>

// The lines of the output dialog for what a verify found: each damaged file
// by image and path in the image, then the damage no file accounts for.
// None for a whole archive.
QStringList VerifyReportLines(const ImagingVerifyResult &result);

// The verdict told at the end of a verify that ran to its end.
QString VerifyVerdict(const ImagingVerifyResult &result);

// Checking every resource of the open archive (and its integrity table, where
// it has one). The verdict comes after the progress area has gone, before
// the completion message; the damage is listed in the output dialog after it.
class VerifyOperation : public ArchiveFileOperation
{
public:
    explicit VerifyOperation(HWIM wim);

protected:
    bool work(OperationContext &ctx) override;
    void finishing(OperationContext &ctx) override;

private:
    bool m_checked = false;
    ImagingVerifyResult m_result;
};
