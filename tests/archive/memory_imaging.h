#pragma once

#include "imaging/imaging_library.h"

#include <QMap>
#include <QSet>
#include <QStringList>
#include <memory>
#include <set>
#include <vector>

// An imaging library of archives held in memory, for the window's own logic:
// it records every call with its arguments, hands out real handles whose
// lifetime it checks, and fails on request. What it cannot show (real files,
// real XML) is covered by the tests on archives made by wimlib-imagex.
class MemoryImaging : public ImagingLibrary
{
public:
    struct Archive {
        uint32_t compression = WIM_COMPRESS_LZX;
        uint32_t bootIndex = 0;
        QStringList xml;  // metadata text of each image, in order
    };

    QMap<QString, Archive> archives;  // by path

    // Failures on request.
    QSet<uint32_t> refusedAccess;  // desired-access values WIMCreateFile refuses
    bool failCreate = false;       // WIM_CREATE_ALWAYS fails
    bool failTemporaryPath = false;

    // "WIMCreateFile <path> 0x<access> <disposition> 0x<flags> <compression>",
    // "WIMSetTemporaryPath <path>", "WIMGetAttributes <size>", "WIMLoadImage <index>",
    // "WIMGetImageInformation <index>", "WIMCloseHandle <archive|image n>".
    QStringList calls;

    // Handles handed out and not closed yet.
    int openHandles() const { return int(m_live.size()); }
    // A handle that was closed twice or never handed out.
    int badCloses() const { return m_badCloses; }

    HWIM WIMCreateFile(const QString &path, uint32_t desiredAccess, uint32_t creationDisposition,
                       uint32_t flagsAndAttributes, uint32_t compressionType, uint32_t *creationResult) override;
    bool WIMCloseHandle(HWIM handle) override;
    bool WIMSetTemporaryPath(HWIM wim, const QString &path) override;
    bool WIMGetAttributes(HWIM wim, WIM_INFO *info, uint32_t cbInfo) override;
    HWIM WIMLoadImage(HWIM wim, uint32_t index) override;
    bool WIMGetImageInformation(HWIM image, QString *xml, uint32_t *byteCount) override;
    bool WIMSetImageInformation(HWIM, const QString &, uint32_t) override { return false; }
    HWIM WIMCaptureImage(HWIM, const QString &, uint32_t) override { return nullptr; }
    bool WIMApplyImage(HWIM, const QString &, uint32_t) override { return false; }
    bool WIMExportImage(HWIM, HWIM, uint32_t) override { return false; }
    bool WIMDeleteImage(HWIM, uint32_t) override { return false; }
    bool WIMSetBootImage(HWIM, uint32_t) override { return false; }
    uint32_t WIMRegisterMessageCallback(HWIM, WIMMessageCallback, void *) override { return INVALID_CALLBACK_VALUE; }
    bool WIMUnregisterMessageCallback(HWIM, WIMMessageCallback) override { return false; }
    QString LastErrorText() const override { return QStringLiteral("refused by the test"); }

    // The metadata text of an image with these texts (wimlib's shape, escaped).
    static QString imageXml(uint32_t index, const QString &name, const QString &displayName = {},
                            quint64 totalBytes = 0);

private:
    struct Handle {
        QString path;
        uint32_t image = 0;  // 0 for the archive itself
    };
    Handle *find(HWIM handle);

    std::set<Handle *> m_live;
    std::vector<std::unique_ptr<Handle>> m_all;  // never reused, so a stale handle stays recognisable
    int m_badCloses = 0;
};
