#pragma once

#include "imaging/wim_handle.h"
#include "imaging/wim_types.h"
#include "operations/operation.h"

#include <QString>

struct NtfsProbe;

// Applying the selected image to a folder or a drive. The folder picker, the
// questions for a drive root and the format chain run on the worker before
// anything is busy; a close confirmed meanwhile lets a running format chain
// end and then stops before the image is loaded. A drive holding NTFS is
// written through its block device (NTFS-3G mode): unmounted for the apply
// and mounted back, a chain that a close never cuts either.
class ApplyOperation : public LongOperation
{
public:
    ApplyOperation();

protected:
    bool prepare(OperationContext &ctx) override;
    void beforeRegistering(OperationContext &ctx) override;
    void registrationFailed(OperationContext &ctx) override;
    bool work(OperationContext &ctx) override;

private:
    bool formatTarget(OperationContext &ctx);
    void applyOntoNtfsDrive(OperationContext &ctx, const NtfsProbe &probe);
    QString removeDamagedFiles(OperationContext &ctx);

    QString m_target;
    bool m_driveRoot = false;
    WimHandle m_image;
    HWIM m_wim = nullptr;        // m_image's archive
    uint32_t m_index = 0;        // m_image's index
    ImagingError m_loadFailure;  // why m_image is null
};
