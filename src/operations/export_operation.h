#pragma once

#include "imaging/wim_handle.h"
#include "imaging/wim_types.h"
#include "operations/operation.h"

#include <QString>
#include <cstdint>

class OperationHost;

// The two handles an export's worker receives, and owns from then on (its
// operation closes them).
struct ExportHandles {
    HWIM destination = nullptr;
    HWIM image = nullptr;
};

// How WIMCreateFile makes an export's destination when it does not exist
// yet; an existing archive keeps its own form whatever is asked.
struct ExportTarget {
    uint32_t flags = 0;
    uint32_t compression = WIM_COMPRESS_LZX;
    friend bool operator==(const ExportTarget &, const ExportTarget &) = default;
};

// The form a new destination takes from the type of its name: an ".esd"
// is an ESD (solid LZMS); any other name a WIM with the open archive's
// compression, or LZX when the open archive's is none a WIM keeps (an ESD's
// LZMS): so an ESD becomes a WIM and back.
ExportTarget ExportTargetFor(const QString &destination, qint16 sourceCompression);

// The export command's first half, on the UI thread: the destination chooser,
// the selected image loaded, the destination archive opened or created and
// given the working directory. False when the command ends here, after its
// message; nothing is left open then.
bool OpenExportHandles(OperationHost &host, ExportHandles *handles);

// Copying an image into another archive: the second half, on the worker.
class ExportOperation : public LongOperation
{
public:
    explicit ExportOperation(const ExportHandles &handles);

protected:
    void registrationFailed(OperationContext &ctx) override;
    bool work(OperationContext &ctx) override;

private:
    void closeHandles();

    WimHandle m_image;
    WimHandle m_destination;
};
