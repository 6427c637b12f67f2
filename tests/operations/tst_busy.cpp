// The busy state, progress, the log, the completion report and closing.
#include "app/ctarnbox_dlg.h"
#include "fake_clock.h"
#include "imaging/wim_types.h"
#include "memory_imaging.h"
#include "operations/message_callback.h"
#include "recording_prompts.h"
#include "support/background_task.h"
#include "support/error_cause.h"
#include "support/ui_thread.h"

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>
#include <QThread>
#include <atomic>
#include <thread>

namespace {

QString text(const QWidget *w, const char *name)
{
    auto *label = w->findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<missing>");
}

bool shown(const QWidget *w, const char *name)
{
    auto *child = w->findChild<QWidget *>(QString::fromLatin1(name));
    return child && !child->isHidden();
}

// Runs `body` on a worker thread while the UI thread keeps serving hand-overs.
template <class F>
void onWorker(F body)
{
    std::atomic<bool> done{false};
    std::thread t([&] {
        body();
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 20000);
    t.join();
}

uint32_t process(const char16_t *path)
{
    int32_t keep = 1;
    return WimMessageCallback(WIM_MSG_PROCESS, reinterpret_cast<uintptr_t>(path), reinterpret_cast<intptr_t>(&keep),
                              nullptr);
}

}  // namespace

class TestBusy : public QObject
{
    Q_OBJECT

private slots:
    void beginShowsEstimatingState();
    void progressTexts();
    void endHidesAfterPause();
    void callbackLogsAndIgnoresOthers();
    void abortAnswerStaysUntilNextBegin();
    void reportAndLog();
    void emptyLogShowsNothing();
    void closeWhenIdle();
    void closeWhileBusyCancelled();
    void closeWhileBusyConfirmed();
};

void TestBusy::beginShowsEstimatingState()
{
    RecordingPrompts prompts;
    FakeClock clock;
    CTarnboxDlg dlg;
    dlg.show();
    onWorker([&] { dlg.BeginBusy(); });
    QVERIFY(dlg.IsBusy());
    for (const char *name : {"IDC_1010", "IDC_1011", "IDC_1022", "IDC_1023"})
        QVERIFY2(shown(&dlg, name), name);
    QCOMPARE(text(&dlg, "IDC_1011"), QStringLiteral("请你等待……正在处理，需要："));
    QCOMPARE(text(&dlg, "IDC_1023"), QStringLiteral("正在预计"));
    QCOMPARE(text(&dlg, "IDC_1022"), QStringLiteral("0%"));
    QCOMPARE(dlg.m_Progress->value(), 0);
    QCOMPARE(dlg.m_tStart, clock.wallSeconds());
    QVERIFY(!dlg.m_bFilterActive);
    dlg.EndBusy();
}

void TestBusy::progressTexts()
{
    RecordingPrompts prompts;
    FakeClock clock;
    CTarnboxDlg dlg;
    dlg.show();
    dlg.BeginBusy();
    clock.advanceSeconds(3);
    dlg.OnOpProgress(0);  // changes no text
    QCOMPARE(text(&dlg, "IDC_1023"), QStringLiteral("正在预计"));
    QCOMPARE(text(&dlg, "IDC_1022"), QStringLiteral("0%"));
    clock.advanceSeconds(7);
    // Through the callback from the library's thread, as during an operation.
    onWorker([] { WimMessageCallback(WIM_MSG_PROGRESS, 50, 123456, nullptr); });
    QCOMPARE(text(&dlg, "IDC_1023"), QStringLiteral("10秒"));
    QCOMPARE(text(&dlg, "IDC_1022"), QStringLiteral("50%"));
    QCOMPARE(dlg.m_Progress->value(), 50);
    // Changing the system time does not disturb the estimate.
    clock.setWallSeconds(clock.wallSeconds() - 86400);
    clock.advanceSeconds(20);
    dlg.OnOpProgress(100);
    QCOMPARE(text(&dlg, "IDC_1023"), QStringLiteral("0秒"));
    QCOMPARE(text(&dlg, "IDC_1022"), QStringLiteral("100%"));
    dlg.EndBusy();
}

void TestBusy::endHidesAfterPause()
{
    RecordingPrompts prompts;
    FakeClock clock;
    CTarnboxDlg dlg;
    dlg.show();
    dlg.BeginBusy();
    dlg.OnOpProgress(40);
    const qint64 slept = clock.totalSleptMs();
    onWorker([&] { dlg.EndBusy(); });
    QCOMPARE(clock.totalSleptMs() - slept, qint64(500));
    QVERIFY(!dlg.IsBusy());
    for (const char *name : {"IDC_1010", "IDC_1011", "IDC_1022", "IDC_1023"})
        QVERIFY2(!shown(&dlg, name), name);
    // Texts and bar stay as they were.
    QCOMPARE(dlg.m_strPercent, QStringLiteral("40%"));
    QCOMPARE(dlg.m_Progress->value(), 40);
}

void TestBusy::callbackLogsAndIgnoresOthers()
{
    RecordingPrompts prompts;
    FakeClock clock;
    CTarnboxDlg dlg;
    dlg.BeginBusy();
    onWorker([] {
        QCOMPARE(WimMessageCallback(WIM_MSG_ERROR, reinterpret_cast<uintptr_t>(u"/d/a.txt"), 5, nullptr),
                 WIM_MSG_SUCCESS);
        QCOMPARE(WimMessageCallback(WIM_MSG_SCANNING, 0, 0, nullptr), WIM_MSG_SUCCESS);
        QCOMPARE(WimMessageCallback(WIM_MSG_WARNING, reinterpret_cast<uintptr_t>(u"/d/b.txt"), 32, nullptr),
                 WIM_MSG_SUCCESS);
        WimMessageCallback(WIM_MSG_RETRY, reinterpret_cast<uintptr_t>(u"r"), 1, nullptr);
        WimMessageCallback(WIM_MSG_INFO, reinterpret_cast<uintptr_t>(u"i"), 2, nullptr);
    });
    // Each line as it stands, then the system's words for its number.
    QCOMPARE(dlg.m_strLog,
             QStringLiteral("\r\n错误: /d/a.txt [err = 5] 读写设备时出错\r\n警告: /d/b.txt [err = 32] ")
                 + systemErrorText(32)
                 + QStringLiteral("\r\n超时: r [err = 1] 不允许此操作\r\n信息: i [err = 2] 文件或文件夹不存在"));
    QCOMPARE(dlg.m_strRemaining, QStringLiteral("正在预计"));
    dlg.EndBusy();
}

void TestBusy::abortAnswerStaysUntilNextBegin()
{
    RecordingPrompts prompts;
    FakeClock clock;
    CTarnboxDlg dlg;
    dlg.BeginBusy();
    QCOMPARE(process(u"/x"), WIM_MSG_SUCCESS);
    g_nAbort = -1;
    QCOMPARE(process(u"/x"), WIM_MSG_ABORT_IMAGE);
    QCOMPARE(process(u"/y"), WIM_MSG_ABORT_IMAGE);
    dlg.EndBusy();
    QCOMPARE(process(u"/z"), WIM_MSG_ABORT_IMAGE);
    dlg.BeginBusy();
    QCOMPARE(process(u"/z"), WIM_MSG_SUCCESS);
    dlg.EndBusy();
}

void TestBusy::reportAndLog()
{
    RecordingPrompts prompts;
    FakeClock clock;
    QStringList shownTexts;
    prompts.onDialog([&](QDialog &d) {
        auto *edit = d.findChild<QPlainTextEdit *>(QStringLiteral("IDC_OUTPUT_TEXT"));
        shownTexts << (edit ? edit->toPlainText() : QString());
        return int(QDialog::Accepted);
    });
    CTarnboxDlg dlg;
    dlg.show();
    onWorker([&] {
        dlg.BeginBusy();
        WimMessageCallback(WIM_MSG_ERROR, reinterpret_cast<uintptr_t>(u"/a"), 5, nullptr);
        WimMessageCallback(WIM_MSG_WARNING, reinterpret_cast<uintptr_t>(u"/b"), 6, nullptr);
        clock.advanceSeconds(64);
        dlg.EndBusy();  // 500 ms
        clock.advanceMs(500);
        dlg.ReportFinished();
        dlg.ShowLog();
    });
    const auto messages = prompts.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("操作完成，一共耗时 1分: 5秒"));
    QCOMPARE(messages[0].caption, QStringLiteral("温馨提示"));
    QVERIFY(messages[0].onUiThread);
    QCOMPARE(dlg.m_strRemaining, QStringLiteral("1分: 5秒"));
    QCOMPARE(shownTexts,
             QStringList{QStringLiteral("\n错误: /a [err = 5] 读写设备时出错\n警告: /b [err = 6] 设备不存在")});
    // The log stays until an operation empties it.
    QVERIFY(!dlg.m_strLog.isEmpty());
}

void TestBusy::emptyLogShowsNothing()
{
    RecordingPrompts prompts;
    FakeClock clock;
    CTarnboxDlg dlg;
    onWorker([&] { dlg.ShowLog(); });
    QVERIFY(prompts.calls().isEmpty());
}

void TestBusy::closeWhenIdle()
{
    RecordingPrompts prompts;
    FakeClock clock;
    MemoryImaging library;
    ScopedImaging scoped(&library);
    CTarnboxDlg dlg;
    dlg.show();
    dlg.m_hWim.reset(library, library.open(QStringLiteral("/archives/a.wim")));
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 10000);
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QVERIFY(dlg.m_hWim == nullptr);
    QCOMPARE(library.closed.load(), 1);
    QVERIFY(prompts.calls().isEmpty());
    QVERIFY(backgroundTasks::waitForAll(10000));
}

void TestBusy::closeWhileBusyCancelled()
{
    RecordingPrompts prompts;
    FakeClock clock;
    CTarnboxDlg dlg;
    dlg.show();
    dlg.BeginBusy();
    prompts.answerMessage(IDCANCEL);
    dlg.CloseApp();
    QTRY_COMPARE_WITH_TIMEOUT(prompts.messages().size(), 1, 10000);
    QVERIFY(backgroundTasks::waitForAll(10000));
    const auto m = prompts.messages().at(0);
    QCOMPARE(m.text, QStringLiteral("当前正在处理中，你确定要关闭应用程序？"));
    QCOMPARE(m.caption, QStringLiteral("温馨提示"));
    QCOMPARE(m.type, MB_OKCANCEL | MB_ICONEXCLAMATION);
    QVERIFY(dlg.isVisible());
    QVERIFY(dlg.IsBusy());
    QCOMPARE(g_nAbort.load(), 0);
    dlg.EndBusy();
}

void TestBusy::closeWhileBusyConfirmed()
{
    RecordingPrompts prompts;
    FakeClock clock;
    CTarnboxDlg dlg;
    dlg.show();
    // An operation that runs until the library is told to stop.
    std::atomic<int> filesBeforeAbort{0};
    std::atomic<bool> started{false};
    backgroundTasks::start([&] {
        dlg.BeginBusy();
        started = true;
        while (process(u"/file") != WIM_MSG_ABORT_IMAGE) {
            ++filesBeforeAbort;
            QThread::msleep(2);
        }
        dlg.EndBusy();
        // The failure message after the window has gone is answered at once.
        uiThread::messageBox(&dlg, QStringLiteral("无法捕获次映像！"), QStringLiteral("错误提示"));
    });
    QTRY_VERIFY_WITH_TIMEOUT(started.load(), 10000);
    prompts.answerMessage(IDOK);
    dlg.CloseApp();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 20000);
    QVERIFY(backgroundTasks::waitForAll(20000));
    QVERIFY(!dlg.IsBusy());
    QCOMPARE(g_nAbort.load(), -1);
    QVERIFY(filesBeforeAbort.load() > 0);
    // The failure message races the close: either it was asked before the
    // window went (and ended with it), or it was answered without asking.
    const QStringList texts = prompts.messageTexts();
    QVERIFY(texts.size() == 1 || texts.size() == 2);
    QCOMPARE(texts.at(0), QStringLiteral("当前正在处理中，你确定要关闭应用程序？"));
    if (texts.size() == 2)
        QCOMPARE(texts.at(1), QStringLiteral("无法捕获次映像！"));
}

QTEST_MAIN(TestBusy)
#include "tst_busy.moc"
