// Split, verify and optimize: commands on the open archive's file as a
// whole, each run on its worker under the window's claim.
#include "app/ctarnbox_dlg.h"

#include "operations/optimize_operation.h"
#include "operations/split_operation.h"
#include "operations/verify_operation.h"
#include "support/ui_thread.h"

namespace {

// Pop-up 1 also serves rows left over from an archive that failed to open.
bool archiveOpen(CTarnboxDlg &dlg)
{
    if (dlg.m_hWim)
        return true;
    uiThread::messageBox(&dlg, QStringLiteral("请先打开映像文件！"), QStringLiteral("错误提示"));
    return false;
}

}  // namespace

void CTarnboxDlg::SplitFile()
{
    OperationRunner::Claim claim = m_runner.claim();
    if (!claim || !archiveOpen(*this))
        return;
    m_runner.start(std::move(claim), std::make_unique<SplitOperation>(m_hWim.get(), m_strFilePath));
}

void CTarnboxDlg::VerifyFile()
{
    OperationRunner::Claim claim = m_runner.claim();
    if (!claim || !archiveOpen(*this))
        return;
    m_runner.start(std::move(claim), std::make_unique<VerifyOperation>(m_hWim.get()));
}

void CTarnboxDlg::OptimizeFile()
{
    OperationRunner::Claim claim = m_runner.claim();
    if (!claim || !archiveOpen(*this))
        return;
    m_runner.start(std::move(claim), std::make_unique<OptimizeOperation>(m_hWim.get(), m_nAccess));
}
