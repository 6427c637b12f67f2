#pragma once

#include "archive/image_info.h"
#include "imaging/wim_types.h"
#include "operations/ntfs_drive.h"
#include "operations/operation.h"

#include <QString>
#include <memory>
#include <optional>

// What the capture command settles on the UI thread for its worker.
struct CaptureRequest {
    HWIM wim = nullptr;     // the open archive that receives the image
    QString capturePath;    // the source folder, as the library gets it
    QString archivePath;    // canonical path of the open archive ("" when unknown)
    QString workDir;        // the library's working directory
    bool fullRead = false;  // read every file, none taken as unchanged from an earlier image
};

// Capturing a folder into a new image of the open archive: the library call,
// the five texts written into the new image's metadata, the new row; and the
// decision, for every path the library offers, whether the exclusion list
// leaves it out. A drive root holding NTFS is read through its block device
// (NTFS-3G mode) while it is not writable; a folder below a drive root is
// read the ordinary way, as only a whole volume can be read so.
class CaptureOperation : public LongOperation
{
public:
    // `texts`: the five texts for the new image, owned by the operation until
    // they are written.
    CaptureOperation(const CaptureRequest &request, std::unique_ptr<ImageInfo> texts);

    // Leaves out the open archive's own file and every path an entry of the
    // exclusion list names. Reads nothing that changes while the capture runs.
    void process(const char16_t *path, int32_t *keep) override;

protected:
    bool prepare(OperationContext &ctx) override;
    void busyStarted(OperationContext &ctx) override;
    void registrationFailed(OperationContext &ctx) override;
    bool work(OperationContext &ctx) override;

private:
    HWIM captureNtfsDrive(OperationContext &ctx, const QString &texts);
    uint32_t readFlags() const;

    const CaptureRequest m_request;
    std::unique_ptr<ImageInfo> m_texts;
    QString m_rootRelative;           // the capture folder relative to its drive root, "\" separators
    QString m_archiveInCapture;       // the open archive as the capture spells it ("" when outside it)
    QString m_libraryRoot;            // what the library's paths begin with: the folder, or the device
    std::optional<NtfsDrive> m_ntfs;  // the drive, when the folder is the root of one holding NTFS
};

// The open archive as a capture of `capturePath` spells it: the capture folder
// as given, followed by the archive's path below it. "" when the archive is
// not inside the capture folder.
QString ArchiveAsCaptured(const QString &archivePath, const QString &capturePath);
