#pragma once

#include "imaging/imaging_library.h"
#include "imaging/wim_handle.h"
#include "imaging/wim_types.h"
#include "operations/operation.h"

#include <QString>
#include <QStringList>
#include <functional>

// Extracting chosen paths of an image of the open archive into a folder,
// run like an apply: the image loaded on the worker, the progress area, the
// completion message and the output dialog; a close confirmed meanwhile stops
// it at the library's next answer, and the destination is left as it was.
// The destination was chosen before (on the UI thread, after the claim).
// For the desktop (a file opened, a drag out) it is quick: the progress
// area only, no completion message; `extracted` runs on the UI thread at
// the end with whether everything was extracted.
class ExtractOperation : public LongOperation
{
public:
    ExtractOperation(uint32_t imageIndex, QStringList paths, QString destination);
    ExtractOperation(uint32_t imageIndex, QStringList paths, QString destination,
                     std::function<void(bool extracted)> extracted);
    ~ExtractOperation() override;

protected:
    void beforeRegistering(OperationContext &ctx) override;
    void registrationFailed(OperationContext &ctx) override;
    bool work(OperationContext &ctx) override;

private:
    const uint32_t m_index;
    const QStringList m_paths;
    const QString m_destination;
    void tell(bool extracted);

    std::function<void(bool)> m_extracted;  // cleared once told
    WimHandle m_image;
    ImagingError m_loadError;
};

// What the user reads beneath a failed extraction: the cause of `error` in
// our words, and for the clash of a chosen entry with a name in the
// destination, which kind of entry is in the way.
QString ExtractionFailureCause(const ImagingError &error);
