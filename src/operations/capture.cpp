// Capturing a folder into a new image.
#include "app/ctarnbox_dlg.h"

void CTarnboxDlg::AddImage() {}
void CTarnboxDlg::CaptureWorker(std::unique_ptr<ImageInfo>) {}
void CTarnboxDlg::OnOpProcess(const char16_t *, int32_t *) {}
