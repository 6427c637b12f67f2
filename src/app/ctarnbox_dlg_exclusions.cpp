// The main window's side of the exclusion list: loading at start-up, the
// dialog command and the save after it.
#include "app/ctarnbox_dlg.h"

#include "capture_settings/capture_log.h"
#include "capture_settings/cwith_out_path.h"
#include "capture_settings/exclusion_list.h"
#include "support/failure_report.h"
#include "support/platform.h"
#include "support/prompts.h"
#include "support/ui_thread.h"

void CTarnboxDlg::LoadExclusionList()
{
    ::LoadExclusionList(exclusionList(), platform::exclusionListDirectory(m_strAppDir));
}

void CTarnboxDlg::SaveExclusionList()
{
    QString cause;
    if (::SaveExclusionList(exclusionList(), platform::exclusionListDirectory(m_strAppDir), &cause))
        exclusionList().setEdited(false);  // saved: the next unchanged close writes nothing
    else
        reportFailure(lcCapture, this, QStringLiteral("排除名单保存失败，修改只在本次运行中有效！"),
                      QStringLiteral("错误提示"), cause);
}

void CTarnboxDlg::SetExclusions()
{
    // The result does not matter: edits take effect as they are made, and
    // the list is saved however the dialog was closed.
    CWithOutPath dialog;
    prompts().execDialog(dialog);
    SaveExclusionList();
}
