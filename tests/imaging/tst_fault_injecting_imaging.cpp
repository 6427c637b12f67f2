// The fault-injecting decorator over the real backend.
#include "fault_injecting_imaging.h"
#include "imaging/wimlib_backend.h"
#include "imaging_test_support.h"
#include "memory_imaging.h"
#include "test_archives.h"

#include <QTemporaryDir>
#include <QTest>
#include <functional>

using namespace imagingtest;
using Call = FaultInjectingImaging::Call;

namespace {
uint32_t silent(uint32_t, uintptr_t, intptr_t, void *)
{
    return WIM_MSG_SUCCESS;
}
}  // namespace

class TestFaultInjectingImaging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void failsTheNthUseOnly();
    void failsEveryUseUntilReset();
    void failedChangesLeaveTheArchiveAlone_data();
    void failedChangesLeaveTheArchiveAlone();
    void failedCloseStillReleasesTheHandle();
    void failuresReachThePrograms();
    void extensionDefaultsSayUnsupported();

private:
    QTemporaryDir m_dir;
    QString m_tree;
};

void TestFaultInjectingImaging::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_tree = m_dir.filePath(QStringLiteral("tree"));
    QVERIFY(makeDataTree(m_tree, 3, 3000));
}

void TestFaultInjectingImaging::failsTheNthUseOnly()
{
    WimlibBackend real;
    FaultInjectingImaging faults(real);
    const QString path = m_dir.filePath(QStringLiteral("nth.wim"));
    WimHandle wim(faults, createWim(faults, path));
    QVERIFY(wim);
    faults.failOn(Call::GetAttributes, 3);
    QList<bool> results;
    for (int i = 0; i < 5; ++i) {
        WIM_INFO info{};
        results << faults.WIMGetAttributes(wim.get(), &info, sizeof info);
        if (!results.last())
            QCOMPARE(faults.LastErrorText(), QStringLiteral("WIMGetAttributes: injected failure"));
    }
    QCOMPARE(results, (QList<bool>{true, true, false, true, true}));
    QCOMPARE(faults.uses(Call::GetAttributes), 5);
    QCOMPARE(faults.failures(Call::GetAttributes), 1);
    // After a forwarded call the real backend's text is back.
    QVERIFY(!faults.WIMLoadImage(wim.get(), 9));
    QVERIFY(faults.LastErrorText().startsWith(QStringLiteral("WIMLoadImage: image 9")));
}

void TestFaultInjectingImaging::failsEveryUseUntilReset()
{
    WimlibBackend real;
    FaultInjectingImaging faults(real);
    faults.failAlways(Call::RegisterMessageCallback);
    QCOMPARE(faults.WIMRegisterMessageCallback(nullptr, silent, nullptr), INVALID_CALLBACK_VALUE);
    QCOMPARE(faults.WIMRegisterMessageCallback(nullptr, silent, nullptr), INVALID_CALLBACK_VALUE);
    faults.failOn(Call::CreateFile);
    faults.resetAll();
    QVERIFY(faults.WIMRegisterMessageCallback(nullptr, silent, nullptr) != INVALID_CALLBACK_VALUE);
    QVERIFY(faults.WIMUnregisterMessageCallback(nullptr, silent));
    WimHandle wim(faults, createWim(faults, m_dir.filePath(QStringLiteral("reset.wim"))));
    QVERIFY(wim);
    QCOMPARE(faults.failures(Call::RegisterMessageCallback), 2);
    QCOMPARE(faults.failures(Call::CreateFile), 0);
}

void TestFaultInjectingImaging::failedChangesLeaveTheArchiveAlone_data()
{
    QTest::addColumn<int>("call");
    QTest::newRow("capture") << int(Call::CaptureImage);
    QTest::newRow("set information") << int(Call::SetImageInformation);
    QTest::newRow("delete") << int(Call::DeleteImage);
    QTest::newRow("boot image") << int(Call::SetBootImage);
    QTest::newRow("export into it") << int(Call::ExportImage);
}

void TestFaultInjectingImaging::failedChangesLeaveTheArchiveAlone()
{
    QFETCH(int, call);
    WimlibBackend real;
    FaultInjectingImaging faults(real);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.wim"));
    {
        WimHandle wim(faults, createWim(faults, path));
        QVERIFY(WimHandle(faults, faults.WIMCaptureImage(wim.get(), m_tree, 0)));
    }
    const QByteArray before = fileBytes(path);
    faults.failAlways(Call(call));

    WimHandle wim(faults, openWim(faults, path));
    WimHandle image(faults, faults.WIMLoadImage(wim.get(), 1));
    const QString xml = QStringLiteral("<IMAGE><NAME>changed</NAME></IMAGE>");
    bool result = true;
    switch (Call(call)) {
    case Call::CaptureImage: result = bool(WimHandle(faults, faults.WIMCaptureImage(wim.get(), m_tree, 0))); break;
    case Call::SetImageInformation: result = faults.WIMSetImageInformation(image.get(), xml, 200); break;
    case Call::DeleteImage: result = faults.WIMDeleteImage(wim.get(), 1); break;
    case Call::SetBootImage: result = faults.WIMSetBootImage(wim.get(), 1); break;
    default: result = faults.WIMExportImage(image.get(), wim.get(), WIM_EXPORT_ALLOW_DUPLICATES); break;
    }
    QVERIFY(!result);
    QCOMPARE(faults.failures(Call(call)), 1);
    QCOMPARE(fileBytes(path), before);
    // The same change goes through once the failure is lifted.
    faults.reset(Call(call));
    QVERIFY(faults.WIMSetBootImage(wim.get(), 1));
    QVERIFY(fileBytes(path) != before);
}

void TestFaultInjectingImaging::failedCloseStillReleasesTheHandle()
{
    WimlibBackend real;
    FaultInjectingImaging faults(real);
    const HWIM wim = createWim(faults, m_dir.filePath(QStringLiteral("close.wim")));
    QVERIFY(wim);
    faults.failOn(Call::CloseHandle);
    QVERIFY(!WimHandle(faults, wim).close());
    QVERIFY(!WimHandle(real, wim).close());  // already released underneath
    QCOMPARE(faults.uses(Call::CloseHandle), 1);
}

void TestFaultInjectingImaging::failuresReachThePrograms()
{
    // Installed as the process-wide instance, it is what imaging() answers with.
    WimlibBackend real;
    FaultInjectingImaging faults(real);
    ScopedImaging use(&faults);
    faults.failOn(Call::CreateFile);
    QVERIFY(!createWim(imaging(), m_dir.filePath(QStringLiteral("global.wim"))));
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("global.wim"))));
    WimHandle wim(imaging(), createWim(imaging(), m_dir.filePath(QStringLiteral("global.wim"))));
    QVERIFY(wim);
}

// The fake fails every call it does not model with a reason, never silently,
// and a refusal made earlier on the thread never stands in for it.
void TestFaultInjectingImaging::extensionDefaultsSayUnsupported()
{
    MemoryImaging stub;
    const HWIM h = MemoryImaging::fakeHandle();
    QVERIFY(!stub.WIMLoadImage(h, 1));
    ImagingVerifyResult verified;
    QList<ImagingOversizedFile> oversized;
    const QList<std::pair<const char *, std::function<bool()>>> calls = {
        {"WIMListImageFolder", [&] { return stub.WIMListImageFolder(h, {}, nullptr, nullptr); }},
        {"WIMVisitImageTree",
         [&] { return stub.WIMVisitImageTree(h, {}, [](const WimDirEntryView &) { return true; }); }},
        {"WIMExtractImagePaths", [&] { return stub.WIMExtractImagePaths(h, {}, {}); }},
        {"WIMUpdateImage", [&] { return stub.WIMUpdateImage(h, {}); }},
        {"WIMSplitFile", [&] { return stub.WIMSplitFile(h, {}, 1, 0); }},
        {"WIMSplitOversizedFiles", [&] { return stub.WIMSplitOversizedFiles(h, 1, &oversized); }},
        {"WIMVerifyFile", [&] { return stub.WIMVerifyFile(h, &verified); }},
        {"WIMOptimizeFile", [&] { return stub.WIMOptimizeFile(h); }},
        {"WIMCaptureImage", [&] { return stub.WIMCaptureImageWithInformation(h, {}, 0, {}, 0) != nullptr; }},
        {"WIMMountImage", [&] { return stub.WIMMountImage(h, {}, 0, {}); }},
        {"WIMUnmountImage", [&] { return stub.WIMUnmountImage({}, 0); }},
    };
    for (const auto &[name, call] : calls) {
        QVERIFY2(!call(), name);
        const ImagingError why = stub.LastError();
        QCOMPARE(int(why.kind), int(ImagingError::Kind::Unsupported));
        QVERIFY2(why.text.contains(QLatin1String(name)), qPrintable(why.text));
        QCOMPARE(stub.LastErrorText(), why.text);
    }
    // The plan fails them as it fails the modelled ones.
    stub.failOn(MemoryImaging::Call::VerifyFile);
    QVERIFY(!stub.WIMVerifyFile(h, &verified));
    QCOMPARE(stub.failures(MemoryImaging::Call::VerifyFile), 1);
    QCOMPARE(stub.LastErrorText(), QStringLiteral("WIMVerifyFile: injected failure"));
}

QTEST_GUILESS_MAIN(TestFaultInjectingImaging)
#include "tst_fault_injecting_imaging.moc"
