// The main window's side of the exclusion list: loading at start-up, the
// dialog command and the save after it.
#include "app/ctarnbox_dlg.h"

#include "capture_settings/exclusion_list.h"
#include "support/platform.h"

void CTarnboxDlg::LoadExclusionList()
{
    ::LoadExclusionList(exclusionList(), platform::exclusionListDirectory(m_strAppDir));
}

void CTarnboxDlg::SaveExclusionList()
{
    ::SaveExclusionList(exclusionList(), platform::exclusionListDirectory(m_strAppDir));
}

void CTarnboxDlg::SetExclusions() {}
