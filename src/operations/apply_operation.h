#pragma once

#include "imaging/wim_types.h"
#include "operations/operation.h"

#include <QString>

// Applying the selected image to a folder or a drive. The folder picker, the
// questions for a drive root and the format chain run on the worker before
// anything is busy; a close confirmed meanwhile lets a running format chain
// end and then stops before the image is loaded.
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

    QString m_target;
    HWIM m_image = nullptr;
};
