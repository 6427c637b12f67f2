// LongOperation::run against a recording host: the order of the window's steps
// for every profile and every way a run ends, and the steps each real
// operation takes on a real archive.
#include "fake_clock.h"
#include "fault_injecting_imaging.h"
#include "memory_imaging.h"
#include "operations/apply_operation.h"
#include "operations/capture_operation.h"
#include "operations/export_operation.h"
#include "operations/operation.h"
#include "operations/operation_runner.h"
#include "operations/optimize_operation.h"
#include "operations/split_operation.h"
#include "operations/verify_operation.h"
#include "ops_fixture.h"
#include "recording_host.h"
#include "recording_prompts.h"
#include "test_archives.h"

#include <QTemporaryDir>
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
    void stepsOfEachOperation_data();
    void stepsOfEachOperation();
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

void TestLongOperation::stepsOfEachOperation_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("steps");    // the host's progress and log steps, joined by " "
    QTest::addColumn<QString>("message");  // the one message shown, if any

    // Whatever the library reports is shown at the end, and nothing left over.
    const QString archiveFile = QStringLiteral("BeginBusy ClearLog EndBusy ReportFinished ShowLog");
    QTest::newRow("export") << "export" << archiveFile << "";
    QTest::newRow("split") << "split" << archiveFile << "";
    QTest::newRow("verify") << "verify" << archiveFile << "校验通过，映像文件完好无损。";
    QTest::newRow("optimize") << "optimize" << archiveFile << "";
    // The apply's folder is asked and its image loaded before it is busy.
    QTest::newRow("apply") << "apply"
                           << "ClearLog BeginBusy EndBusy ReportFinished ShowLog"
                           << "";
    QTest::newRow("capture") << "capture" << archiveFile << "";
}

// The profile each operation sets: a changed one (the log no longer emptied,
// say) changes this record.
void TestLongOperation::stepsOfEachOperation()
{
    QFETCH(QString, operation);
    QFETCH(QString, steps);
    QFETCH(QString, message);
    if (!testarchives::haveTool(QStringLiteral("wimlib-imagex")))
        QSKIP("wimlib-imagex (package wimtools) is needed to make the test archive");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tree = dir.filePath(QStringLiteral("tree"));
    testarchives::writeTree(tree,
                            {{QStringLiteral("a.txt"), "a"}, {QStringLiteral("sub/b.bin"), QByteArray(5000, 'b')}});
    const QString wim = dir.filePath(QStringLiteral("a.wim"));
    QString why;
    QVERIFY2(opsfixture::makeArchive(wim, {tree}, {QStringLiteral("one")}, &why), qPrintable(why));

    FakeClock clock;
    opsfixture::HostOnArchive h(wim);
    QVERIFY(h.wim);
    const ArchiveState state = h.host.OpenArchiveState();
    const QString target = dir.filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(target));
    h.library.allowedApplyRoot = target;
    h.run([&](OperationHost &host) -> std::unique_ptr<Operation> {
        if (operation == QLatin1String("export")) {
            h.prompts.answerSaveFile(dir.filePath(QStringLiteral("out.wim")));
            ExportHandles handles;
            return OpenExportHandles(host, &handles) ? std::make_unique<ExportOperation>(handles) : nullptr;
        }
        if (operation == QLatin1String("split")) {
            h.prompts.answerSaveFile(dir.filePath(QStringLiteral("parts.swm")));
            h.prompts.answerInput(QStringLiteral("1"));
            return std::make_unique<SplitOperation>(state.wim, wim);
        }
        if (operation == QLatin1String("verify"))
            return std::make_unique<VerifyOperation>(state.wim);
        if (operation == QLatin1String("optimize"))
            return std::make_unique<OptimizeOperation>(state.wim, 2);
        if (operation == QLatin1String("apply")) {
            h.prompts.answerFolder(target);
            return std::make_unique<ApplyOperation>();
        }
        auto texts = std::make_unique<ImageInfo>();
        texts->name = QStringLiteral("two");
        return std::make_unique<CaptureOperation>(CaptureRequest{state.wim, tree, state.canonicalPath, state.workDir},
                                                  std::move(texts));
    });

    QStringList shown;
    for (const QString &call : h.host.calls()) {
        static const QStringList kSteps{QStringLiteral("BeginBusy"),      QStringLiteral("EndBusy"),
                                        QStringLiteral("HideBusyNow"),    QStringLiteral("ClearLog"),
                                        QStringLiteral("ReportFinished"), QStringLiteral("ShowLog")};
        if (kSteps.contains(call))
            shown << call;
    }
    QCOMPARE(shown.join(QLatin1Char(' ')), steps);
    // Each ran to its end: no failure was shown.
    QCOMPARE(h.prompts.messageTexts(), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(h.finish(), QString());
}

QTEST_MAIN(TestLongOperation)
#include "tst_long_operation.moc"
