// Exporting an image into another archive.
#include "app/ctarnbox_dlg.h"

void CTarnboxDlg::ExportImage() {}
void CTarnboxDlg::ExportWorker(HWIM, HWIM) {}
