// The apply command: everything, the folder picker included, on its worker.
#include "app/ctarnbox_dlg.h"

#include "operations/apply_operation.h"

void CTarnboxDlg::ApplyImage()
{
    // Claimed before the folder picker: nothing can start beside the format
    // question and the format chain.
    OperationRunner::Claim claim = m_runner.claim();
    if (!claim)
        return;
    m_runner.start(std::move(claim), [this] { ApplyWorker(); });
}

void CTarnboxDlg::ApplyWorker()
{
    ApplyOperation apply;
    m_runner.run(apply);
}
