// Applying an image to a folder or a drive.
#include "app/ctarnbox_dlg.h"

void CTarnboxDlg::ApplyImage() {}
void CTarnboxDlg::ApplyWorker() {}
