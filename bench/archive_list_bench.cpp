// Opens and lists an archive through the main window, offscreen, several times,
// and prints the median time of one open in milliseconds.
//   archive_list_bench WIMFILE [REPEATS]
#include "app/ctarnbox_dlg.h"
#include "imaging/imaging_library.h"
#include "support/prompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableWidget>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Answers the open chooser with the archive and records any message box.
class BenchPrompts : public Prompts
{
public:
    explicit BenchPrompts(QString path) : m_path(std::move(path)) {}
    int messageBox(QObject *, const QString &text, const QString &, uint32_t type) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        ++failures;
        return defaultAnswer(type);
    }
    QString pickFolder(QObject *, const QString &) override { return {}; }
    QString openFile(QObject *, const FileChooser &) override { return m_path; }
    QString saveFile(QObject *, const FileChooser &) override { return {}; }
    int execDialog(QDialog &) override { return 0; }
    int failures = 0;

private:
    QString m_path;
};

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: archive_list_bench WIMFILE [REPEATS]\n");
        return 2;
    }
    const int repeats = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 5;
    BenchPrompts prompts(args.at(1));
    setPrompts(&prompts);

    int rows = 0;
    std::vector<double> times;
    {
        CTarnboxDlg dlg;
        dlg.show();
        for (int i = 0; i < repeats; ++i) {
            QElapsedTimer timer;
            timer.start();
            dlg.OpenArchive();
            QCoreApplication::processEvents();
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
            rows = dlg.m_List->rowCount();
            if (prompts.failures)
                break;
        }
        dlg.m_hWim.close();
    }
    setPrompts(nullptr);
    if (prompts.failures)
        return 1;
    std::sort(times.begin(), times.end());
    std::printf("rows %d\nmedian_ms %.3f\n", rows, times[times.size() / 2]);
    return 0;
}
