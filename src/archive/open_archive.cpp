// Opening and creating archives.
#include "app/ctarnbox_dlg.h"

void CTarnboxDlg::OpenArchive() {}
void CTarnboxDlg::NewArchive() {}
