// The export command: the destination and the handles on the UI thread, then
// the copy on its worker.
#include "app/ctarnbox_dlg.h"

#include "operations/export_operation.h"

void CTarnboxDlg::ExportImage()
{
    OperationRunner::Claim claim = m_runner.claim();
    if (!claim)
        return;
    ExportHandles handles;
    if (!OpenExportHandles(*this, &handles))
        return;
    m_runner.start(std::move(claim), [this, handles] { ExportWorker(handles.destination, handles.image); });
}

void CTarnboxDlg::ExportWorker(HWIM destination, HWIM image)
{
    ExportOperation exporting({destination, image});
    m_runner.run(exporting);
}
