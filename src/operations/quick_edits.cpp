// Deleting an image, marking the boot image and editing an image's texts.
#include "app/ctarnbox_dlg.h"

void CTarnboxDlg::DeleteImage() {}
void CTarnboxDlg::SetBootImage() {}
void CTarnboxDlg::EditImage() {}
void CTarnboxDlg::OnListDblClk() {}
