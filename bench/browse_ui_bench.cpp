// Browses an archive through the main window's browse dialog, offscreen, and
// reports how long the dialog took to show the root of image 1 (from the
// command) and the longest time the UI thread could not serve a 5 ms timer
// in each step: opening, going into folders, sorting by every column,
// selecting all, closing; then the same on image 2, whose folder FOLDER is
// expected to hold tens of thousands of entries. With FIND, image 1 is also
// searched for FIND in its find box: the time from Enter to the last result.
//   browse_ui_bench WIMFILE FOLDER [FIND]
#include "app/ctarnbox_dlg.h"
#include "archive/cbrowse_image_dlg.h"
#include "imaging/imaging_library.h"
#include "resources/resource_ids.h"
#include "support/background_task.h"
#include "support/prompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMap>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <functional>

namespace {

class BenchPrompts : public Prompts
{
public:
    explicit BenchPrompts(QString wim) : m_wim(std::move(wim)) {}
    int messageBox(QObject *, const QString &text, const QString &, uint32_t type) override
    {
        failed = true;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return defaultAnswer(type);
    }
    QString pickFolder(QObject *, const QString &) override { return {}; }
    QString openFile(QObject *, const FileChooser &) override { return m_wim; }
    QString saveFile(QObject *, const FileChooser &) override { return {}; }
    int execDialog(QDialog &) override { return QDialog::Rejected; }
    bool failed = false;

private:
    QString m_wim;
};

bool waitFor(const std::function<bool()> &done, int timeoutMs = 120000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Lets the event loop run for `ms`, so that the ticker sees what follows a step.
void settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: browse_ui_bench WIMFILE FOLDER\n");
        return 2;
    }
    BenchPrompts prompts(args.at(1));
    setPrompts(&prompts);

    QMap<QString, qint64> stallNs;  // by step, the longest
    QString step = QStringLiteral("start");
    qint64 rootNs = -1;
    qint64 findNs = -1;
    int found = -1;
    bool ok = true;
    {
        CTarnboxDlg dlg;
        dlg.show();
        dlg.OpenArchive();
        QElapsedTimer sinceTick;
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            stallNs[step] = std::max(stallNs.value(step), sinceTick.nsecsElapsed() - 5'000'000);
            sinceTick.restart();
        });
        sinceTick.start();
        ticker.start();

        for (int row = 0; row < 2 && ok; ++row) {
            const QString image = QStringLiteral("image %1: ").arg(row + 1);
            step = image + QStringLiteral("open to root");
            dlg.SelectAndFocusRow(row);
            QElapsedTimer timer;
            timer.start();
            dlg.OnCommand(res::ID_BROWSE_IMAGE);
            CBrowseImageDlg *browse = dlg.findChild<CBrowseImageDlg *>();
            ok = browse && waitFor([browse] { return browse->CurrentFolder() == QLatin1String("/"); });
            if (!ok)
                break;
            if (row == 0)
                rootNs = timer.nsecsElapsed();
            settle(100);

            const QStringList folders =
                row == 0 ? QStringList{QStringLiteral("/d7/e2"), QStringLiteral("/d7")} : QStringList{args.at(2)};
            for (const QString &folder : folders) {
                step = image + QStringLiteral("go to ") + folder;
                browse->OpenPath(folder);
                ok = ok
                     && waitFor([browse, folder] { return browse->CurrentFolder() == folder && !browse->IsLoading(); });
                settle(100);
            }
            if (row == 0 && args.size() > 3 && ok) {
                step = image + QStringLiteral("find ") + args.at(3);
                bool finished = false;
                const auto connection = QObject::connect(browse, &CBrowseImageDlg::findFinished, [&](int count) {
                    found = count;
                    finished = true;
                });
                QElapsedTimer timer;
                timer.start();
                browse->m_Find->blockSignals(true);
                browse->m_Find->setText(args.at(3));
                browse->m_Find->blockSignals(false);
                emit browse->m_Find->returnPressed();
                ok = waitFor([&finished] { return finished; });
                findNs = timer.nsecsElapsed();
                QObject::disconnect(connection);
                settle(100);
                browse->m_Find->clear();
                settle(300);
            }
            for (int column = 0; column < 4 && ok; ++column) {
                step = image + QStringLiteral("sort by column %1").arg(column);
                browse->m_List->sortByColumn(column, Qt::DescendingOrder);
                settle(50);
                browse->m_List->sortByColumn(column, Qt::AscendingOrder);
                settle(50);
            }
            step = image + QStringLiteral("select all");
            browse->m_List->selectAll();
            settle(100);
            std::printf("listed %s%d entries in %s\n", qPrintable(image), browse->m_List->model()->rowCount(),
                        qPrintable(browse->CurrentFolder()));
            step = image + QStringLiteral("close");
            browse->close();
            settle(300);
        }
        ticker.stop();
        backgroundTasks::waitForAll(60000);
        dlg.m_hWim.close();
    }
    setPrompts(nullptr);
    if (!ok || prompts.failed || rootNs < 0)
        return 1;
    qint64 longest = 0;
    for (auto it = stallNs.begin(); it != stallNs.end(); ++it) {
        longest = std::max(longest, it.value());
        std::printf("stall_ms %.1f %s\n", double(std::max<qint64>(0, it.value())) / 1e6, qPrintable(it.key()));
    }
    if (findNs >= 0)
        std::printf("find_ms %.1f\nfound %d\n", double(findNs) / 1e6, found);
    std::printf("root_ms %.1f\nlongest_ui_stall_ms %.1f\n", double(rootNs) / 1e6,
                double(std::max<qint64>(0, longest)) / 1e6);
    return 0;
}
