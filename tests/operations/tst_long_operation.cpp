// LongOperation::run against a recording host: the order of the window's steps
// for every profile and every way a run ends.
#include "fake_clock.h"
#include "fault_injecting_imaging.h"
#include "memory_imaging.h"
#include "operations/operation.h"
#include "operations/operation_runner.h"
#include "recording_host.h"
#include "recording_prompts.h"

#include <QTest>

using Fault = FaultInjectingImaging::Call;
using Failure = LongOperation::UnregisterFailure;

namespace {

enum class End { Refused, Aborted, RegistrationRefused, WorkFails, UnregisterRefused, Success };

// Notes each hook into the host's record; `end` chooses where the run stops.
class ScriptedOperation : public LongOperation
{
public:
    ScriptedOperation(const Profile &profile, End end) : LongOperation(profile), m_end(end) {}

protected:
    bool prepare(OperationContext &ctx) override
    {
        note(ctx, "prepare");
        return m_end != End::Refused;
    }
    void busyStarted(OperationContext &ctx) override { note(ctx, "busyStarted"); }
    void beforeRegistering(OperationContext &ctx) override { note(ctx, "beforeRegistering"); }
    void registrationFailed(OperationContext &ctx) override { note(ctx, "registrationFailed"); }
    bool work(OperationContext &ctx) override
    {
        note(ctx, "work");
        return m_end != End::WorkFails;
    }
    void finishing(OperationContext &ctx) override { note(ctx, "finishing"); }

private:
    static void note(OperationContext &ctx, const char *hook)
    {
        static_cast<RecordingHost &>(ctx.host()).note(QLatin1String(hook));
    }
    const End m_end;
};

}  // namespace

class TestLongOperation : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
};

void TestLongOperation::run_data()
{
    QTest::addColumn<bool>("busyFirst");
    QTest::addColumn<bool>("clearsLog");
    QTest::addColumn<bool>("pauses");
    QTest::addColumn<bool>("showsLog");
    QTest::addColumn<int>("unregisterFailure");
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("steps");        // the host's record, joined by " "
    QTest::addColumn<QString>("message");      // the one message shown, if any
    QTest::addColumn<int>("unregistrations");  // the library's unregistrations
    QTest::addColumn<bool>("reportsFinished");

    const QString none;
    const QString revoke = QStringLiteral("吊销出错！");
    auto row = [](const char *name) -> QTestData & { return QTest::newRow(name); };
    row("refused in prepare") << true << true << false << true << int(Failure::Reported) << int(End::Refused)
                              << "prepare" << none << 0 << true;
    row("a confirmed close before the start") << true << true << false << true << int(Failure::Reported)
                                              << int(End::Aborted) << "prepare" << none << 0 << true;
    row("registration refused, busy first")
        << true << true << false << true << int(Failure::Reported) << int(End::RegistrationRefused)
        << "prepare BeginBusy busyStarted ClearLog beforeRegistering EndBusy registrationFailed" << none << 0 << true;
    row("registration refused, busy after")
        << false << true << true << true << int(Failure::Reported) << int(End::RegistrationRefused)
        << "prepare ClearLog beforeRegistering registrationFailed" << none << 0 << true;
    row("work ends early") << true << false << false << true << int(Failure::Reported) << int(End::WorkFails)
                           << "prepare BeginBusy busyStarted beforeRegistering work" << none << 1 << true;
    row("success, archive file profile")
        << true << true << false << true << int(Failure::Reported) << int(End::Success)
        << "prepare BeginBusy busyStarted ClearLog beforeRegistering work EndBusy finishing ReportFinished ShowLog"
        << none << 1 << true;
    row("success, apply profile")
        << false << true << true << true << int(Failure::Reported) << int(End::Success)
        << "prepare ClearLog beforeRegistering BeginBusy busyStarted work EndBusy finishing ReportFinished ShowLog"
        << none << 1 << true;
    row("success without the log") << true << false << false << false << int(Failure::Ignored) << int(End::Success)
                                   << "prepare BeginBusy busyStarted beforeRegistering work EndBusy finishing "
                                      "ReportFinished"
                                   << none << 1 << true;
    row("unregistration refused ends the run")
        << true << true << true << true << int(Failure::EndsRun) << int(End::UnregisterRefused)
        << "prepare BeginBusy busyStarted ClearLog beforeRegistering work HideBusyNow" << revoke << 1 << true;
    row("unregistration refused is reported")
        << false << true << true << true << int(Failure::Reported) << int(End::UnregisterRefused)
        << "prepare ClearLog beforeRegistering BeginBusy busyStarted work EndBusy EndBusy finishing ReportFinished "
           "ShowLog"
        << revoke << 1 << true;
    row("unregistration refused is ignored")
        << true << true << false << true << int(Failure::Ignored) << int(End::UnregisterRefused)
        << "prepare BeginBusy busyStarted ClearLog beforeRegistering work EndBusy finishing ReportFinished ShowLog"
        << none << 1 << true;
    row("success of a quick change") << true << false << false << false << int(Failure::Ignored) << int(End::Success)
                                     << "prepare BeginBusy busyStarted beforeRegistering work "
                                        "EndBusy finishing"
                                     << none << 1 << false;
}

void TestLongOperation::run()
{
    QFETCH(bool, busyFirst);
    QFETCH(bool, clearsLog);
    QFETCH(bool, pauses);
    QFETCH(bool, showsLog);
    QFETCH(int, unregisterFailure);
    QFETCH(int, end);
    QFETCH(QString, steps);
    QFETCH(QString, message);
    QFETCH(int, unregistrations);
    QFETCH(bool, reportsFinished);

    MemoryImaging stub;
    FaultInjectingImaging faults(stub);
    ScopedImaging use(&faults);
    RecordingPrompts prompts;
    FakeClock clock;
    RecordingHost host;
    OperationRunner runner(host);

    if (End(end) == End::RegistrationRefused)
        faults.failOn(Fault::RegisterMessageCallback);
    if (End(end) == End::UnregisterRefused)
        faults.failOn(Fault::UnregisterMessageCallback);
    const LongOperation::Profile profile{busyFirst, clearsLog,       pauses,
                                         showsLog,  reportsFinished, Failure(unregisterFailure)};
    OperationRunner::Claim claim = runner.claim();
    QVERIFY(claim);
    if (End(end) == End::Aborted)
        runner.abort();
    runner.start(std::move(claim), std::make_unique<ScriptedOperation>(profile, End(end)));
    runner.waitForRelease();

    QCOMPARE(host.calls().join(QLatin1Char(' ')), steps);
    QCOMPARE(prompts.messageTexts(), message.isEmpty() ? QStringList() : QStringList{message});
    const bool registered = steps.contains(QLatin1String("work"));
    QCOMPARE(stub.registered, registered ? 1 : 0);
    // Every registration that succeeded is given back, refused or not.
    QCOMPARE(faults.uses(Fault::UnregisterMessageCallback), unregistrations);
    const bool ranToTheEnd =
        steps.endsWith(QLatin1String("ReportFinished")) || steps.endsWith(QLatin1String("ShowLog"));
    QCOMPARE(clock.totalSleptMs(), pauses && ranToTheEnd ? 500 : 0);
    // An early end of work hides the progress area itself; the run leaves it be.
    QCOMPARE(host.IsBusy(), End(end) == End::WorkFails);
    QVERIFY(runner.acceptsCommands() || End(end) == End::Aborted);
}

QTEST_MAIN(TestLongOperation)
#include "tst_long_operation.moc"
