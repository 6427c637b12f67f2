// Captures a folder into a new archive through the main window, offscreen, and
// reports how long the capture took (from the command to the new row) and the
// longest time the UI thread could not serve a 5 ms timer meanwhile.
//   capture_ui_bench FOLDER WIMFILE
#include "app/ctarnbox_dlg.h"
#include "capture_settings/cwim_image_info.h"
#include "imaging/imaging_library.h"
#include "support/background_task.h"
#include "support/prompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>

namespace {

class BenchPrompts : public Prompts
{
public:
    BenchPrompts(QString folder, QString wim) : m_folder(std::move(folder)), m_wim(std::move(wim)) {}
    int messageBox(QObject *, const QString &text, const QString &, uint32_t type) override
    {
        if (text.startsWith(QStringLiteral("操作完成")))
            finished = true;
        else
            failed = true, std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return defaultAnswer(type);
    }
    QString pickFolder(QObject *, const QString &) override { return {}; }
    QString openFile(QObject *, const FileChooser &) override { return {}; }
    QString saveFile(QObject *, const FileChooser &) override { return m_wim; }
    int execDialog(QDialog &dialog) override
    {
        auto *info = qobject_cast<CWIM_Image_Info *>(&dialog);
        if (!info)
            return QDialog::Accepted;  // the output dialog: the log is printed below
        info->m_capturePath = m_folder;
        info->m_imageName = QStringLiteral("bench");
        return QDialog::Accepted;
    }
    bool finished = false;
    bool failed = false;

private:
    QString m_folder;
    QString m_wim;
};

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: capture_ui_bench FOLDER WIMFILE\n");
        return 2;
    }
    BenchPrompts prompts(args.at(1), args.at(2));
    setPrompts(&prompts);

    qint64 captureNs = -1;
    qint64 busyNs = -1;
    qint64 longestStallNs = 0;
    int rows = 0;
    {
        CTarnboxDlg dlg;
        dlg.show();
        // NewArchive creates the empty archive, then runs the capture command.
        QElapsedTimer timer;
        QElapsedTimer sinceTick;
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longestStallNs = std::max(longestStallNs, sinceTick.nsecsElapsed() - 5'000'000);
            sinceTick.restart();
            if (busyNs < 0 && dlg.IsBusy())
                busyNs = timer.nsecsElapsed();
            if (captureNs < 0 && dlg.m_List->rowCount() == 1)
                captureNs = timer.nsecsElapsed();
        });
        timer.start();
        sinceTick.start();
        ticker.start();
        dlg.NewArchive();
        while (!prompts.finished && !prompts.failed)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        ticker.stop();
        backgroundTasks::waitForAll(60000);
        rows = dlg.m_List->rowCount();
        if (!dlg.m_strLog.isEmpty())
            std::fprintf(stderr, "log:%s\n", qPrintable(dlg.m_strLog));
        dlg.m_hWim.close();
    }
    setPrompts(nullptr);
    if (prompts.failed || rows != 1 || captureNs < 0)
        return 1;
    std::printf("capture_ms %.1f\nbusy_after_ms %.1f\nlongest_ui_stall_ms %.1f\n", double(captureNs) / 1e6,
                double(busyNs) / 1e6, double(std::max<qint64>(0, longestStallNs)) / 1e6);
    return 0;
}
