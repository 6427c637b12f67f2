#pragma once

#include "imaging/imaging_library.h"

// Forwards every call to another ImagingLibrary. Decorators (fault injection,
// the tests' recorders) derive from it and override only the calls they
// intercept, so a call added to the boundary reaches the real backend through
// every decorator without touching each of them.
class ForwardingImaging : public ImagingLibrary
{
public:
    explicit ForwardingImaging(ImagingLibrary &inner) : m_inner(inner) {}

    HWIM WIMCreateFile(const QString &path, uint32_t desiredAccess, uint32_t creationDisposition,
                       uint32_t flagsAndAttributes, uint32_t compressionType, uint32_t *creationResult) override
    {
        return m_inner.WIMCreateFile(path, desiredAccess, creationDisposition, flagsAndAttributes, compressionType,
                                     creationResult);
    }
    bool WIMCloseHandle(HWIM handle) override { return m_inner.WIMCloseHandle(handle); }
    bool WIMSetTemporaryPath(HWIM wim, const QString &path) override { return m_inner.WIMSetTemporaryPath(wim, path); }
    bool WIMGetAttributes(HWIM wim, WIM_INFO *info, uint32_t cbInfo) override
    {
        return m_inner.WIMGetAttributes(wim, info, cbInfo);
    }
    HWIM WIMLoadImage(HWIM wim, uint32_t index) override { return m_inner.WIMLoadImage(wim, index); }
    bool WIMGetImageInformation(HWIM image, QString *xml, uint32_t *byteCount) override
    {
        return m_inner.WIMGetImageInformation(image, xml, byteCount);
    }
    bool WIMSetImageInformation(HWIM image, const QString &xml, uint32_t byteCount) override
    {
        return m_inner.WIMSetImageInformation(image, xml, byteCount);
    }
    HWIM WIMCaptureImage(HWIM wim, const QString &path, uint32_t captureFlags) override
    {
        return m_inner.WIMCaptureImage(wim, path, captureFlags);
    }
    bool WIMApplyImage(HWIM image, const QString &path, uint32_t applyFlags) override
    {
        return m_inner.WIMApplyImage(image, path, applyFlags);
    }
    bool WIMExportImage(HWIM image, HWIM destinationWim, uint32_t exportFlags) override
    {
        return m_inner.WIMExportImage(image, destinationWim, exportFlags);
    }
    bool WIMDeleteImage(HWIM wim, uint32_t index) override { return m_inner.WIMDeleteImage(wim, index); }
    bool WIMSetBootImage(HWIM wim, uint32_t index) override { return m_inner.WIMSetBootImage(wim, index); }
    uint32_t WIMRegisterMessageCallback(HWIM wim, WIMMessageCallback callback, void *userData) override
    {
        return m_inner.WIMRegisterMessageCallback(wim, callback, userData);
    }
    bool WIMUnregisterMessageCallback(HWIM wim, WIMMessageCallback callback) override
    {
        return m_inner.WIMUnregisterMessageCallback(wim, callback);
    }
    QString LastErrorText() const override { return m_inner.LastErrorText(); }
    ImagingError LastError() const override { return m_inner.LastError(); }

    // ---- Extensions: forward each one added to ImagingLibrary here ----
    bool WIMListImageFolder(HWIM image, const QString &path, WimDirEntry *self, QList<WimDirEntry> *children) override
    {
        return m_inner.WIMListImageFolder(image, path, self, children);
    }
    bool WIMVisitImageTree(HWIM image, const QString &path, const WimDirVisitor &visit) override
    {
        return m_inner.WIMVisitImageTree(image, path, visit);
    }
    bool WIMExtractImagePaths(HWIM image, const QStringList &paths, const QString &destination) override
    {
        return m_inner.WIMExtractImagePaths(image, paths, destination);
    }
    bool WIMSplitFile(HWIM wim, const QString &firstPart, uint64_t partSize, uint32_t flags) override
    {
        return m_inner.WIMSplitFile(wim, firstPart, partSize, flags);
    }
    bool WIMSplitOversizedFiles(HWIM wim, uint64_t partSize, QList<ImagingOversizedFile> *files) override
    {
        return m_inner.WIMSplitOversizedFiles(wim, partSize, files);
    }
    bool WIMVerifyFile(HWIM wim, ImagingVerifyResult *result) override { return m_inner.WIMVerifyFile(wim, result); }
    bool WIMOptimizeFile(HWIM wim) override { return m_inner.WIMOptimizeFile(wim); }
    HWIM WIMCaptureImageWithInformation(HWIM wim, const QString &path, uint32_t captureFlags, const QString &xml,
                                        uint32_t byteCount) override
    {
        return m_inner.WIMCaptureImageWithInformation(wim, path, captureFlags, xml, byteCount);
    }
    bool WIMRefreshFile(HWIM wim, bool *changed) override { return m_inner.WIMRefreshFile(wim, changed); }
    bool WIMUpdateImage(HWIM image, const QList<ImagingUpdate> &updates) override
    {
        return m_inner.WIMUpdateImage(image, updates);
    }
    bool WIMMountImage(HWIM image, const QString &directory, uint32_t mountFlags, const QString &stagingPath) override
    {
        return m_inner.WIMMountImage(image, directory, mountFlags, stagingPath);
    }
    bool WIMUnmountImage(const QString &directory, uint32_t unmountFlags) override
    {
        return m_inner.WIMUnmountImage(directory, unmountFlags);
    }

protected:
    ImagingLibrary &inner() const { return m_inner; }

private:
    ImagingLibrary &m_inner;
};
