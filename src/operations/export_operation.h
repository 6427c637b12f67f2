#pragma once

#include "imaging/wim_types.h"
#include "operations/operation.h"

class OperationHost;

// The two handles an export's worker receives, and owns from then on.
struct ExportHandles {
    HWIM destination = nullptr;
    HWIM image = nullptr;
};

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

    ExportHandles m_handles;
};
