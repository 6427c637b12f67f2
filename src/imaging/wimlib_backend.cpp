#include "imaging/wimlib_backend.h"

WimlibBackend::WimlibBackend() = default;
WimlibBackend::~WimlibBackend() = default;

HWIM WimlibBackend::WIMCreateFile(const QString &, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t *) { return nullptr; }
bool WimlibBackend::WIMCloseHandle(HWIM) { return false; }
bool WimlibBackend::WIMSetTemporaryPath(HWIM, const QString &) { return false; }
bool WimlibBackend::WIMGetAttributes(HWIM, WIM_INFO *, uint32_t) { return false; }
HWIM WimlibBackend::WIMLoadImage(HWIM, uint32_t) { return nullptr; }
bool WimlibBackend::WIMGetImageInformation(HWIM, QString *, uint32_t *) { return false; }
bool WimlibBackend::WIMSetImageInformation(HWIM, const QString &, uint32_t) { return false; }
HWIM WimlibBackend::WIMCaptureImage(HWIM, const QString &, uint32_t) { return nullptr; }
bool WimlibBackend::WIMApplyImage(HWIM, const QString &, uint32_t) { return false; }
bool WimlibBackend::WIMExportImage(HWIM, HWIM, uint32_t) { return false; }
bool WimlibBackend::WIMDeleteImage(HWIM, uint32_t) { return false; }
bool WimlibBackend::WIMSetBootImage(HWIM, uint32_t) { return false; }
uint32_t WimlibBackend::WIMRegisterMessageCallback(HWIM, WIMMessageCallback, void *) { return INVALID_CALLBACK_VALUE; }
bool WimlibBackend::WIMUnregisterMessageCallback(HWIM, WIMMessageCallback) { return false; }
QString WimlibBackend::LastErrorText() const { return QStringLiteral("not built yet"); }
