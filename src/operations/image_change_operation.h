#pragma once

#include "archive/image_changes.h"
#include "imaging/imaging_library.h"
#include "imaging/wim_handle.h"
#include "imaging/wim_types.h"
#include "operations/operation.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>

class QTemporaryDir;

// Changing the files of an image of the open archive in place: one
// WIMUpdateImage, that is one commit through the append path every change
// takes (a kill or a full disk leaves the image as it was or as changed),
// under the archive's exclusive lock. An add runs as an extraction does (the
// progress area, the completion message, the output dialog; a close
// confirmed meanwhile stops it and nothing is written); a delete, a rename
// and a new folder are quick: the progress area while the commit is written,
// no completion message. A name an add brings that the folder already holds
// is asked about first (replace or skip). At the end `finished` runs on the
// UI thread with the library's error (kind None after the change) so that
// the window shows the image as it now is.
class ImageChangeOperation : public LongOperation
{
public:
    ImageChangeOperation(uint32_t imageIndex, ImageChange change, std::function<void(const ImagingError &)> finished);
    ~ImageChangeOperation() override;

    // The message of a failed change of this kind.
    static QString FailureText(ImageChange::Kind kind);

protected:
    bool prepare(OperationContext &ctx) override;
    void registrationFailed(OperationContext &ctx) override;
    bool work(OperationContext &ctx) override;

private:
    const uint32_t m_index;
    const ImageChange m_change;
    const std::function<void(const ImagingError &)> m_finished;
    WimHandle m_image;
    QList<ImagingUpdate> m_updates;
    std::unique_ptr<QTemporaryDir> m_emptyFolder;  // the source of a new folder
};
