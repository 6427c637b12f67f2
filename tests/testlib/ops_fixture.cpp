#include "ops_fixture.h"

#include "app/ctarnbox_dlg.h"
#include "recording_prompts.h"
#include "support/background_task.h"
#include "support/prompts.h"
#include "test_archives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTableWidget>

#include <unistd.h>
#include <utility>

using testarchives::runTool;

RecordingImaging::RecordingImaging(ImagingLibrary &inner) : ForwardingImaging(inner) {}

void RecordingImaging::note(const QString &call)
{
    QMutexLocker lock(&m_mutex);
    m_calls.append(call);
}

HWIM RecordingImaging::opened(HWIM handle)
{
    if (handle) {
        QMutexLocker lock(&m_mutex);
        m_open.insert(handle);
    }
    return handle;
}

QStringList RecordingImaging::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

QStringList RecordingImaging::callsStartingWith(const QString &prefix) const
{
    QStringList out;
    for (const QString &c : calls()) {
        if (c.startsWith(prefix))
            out.append(c);
    }
    return out;
}

QStringList RecordingImaging::xmlWritten() const
{
    QMutexLocker lock(&m_mutex);
    return m_xmlWritten;
}

QStringList RecordingImaging::xmlRead() const
{
    QMutexLocker lock(&m_mutex);
    return m_xmlRead;
}

void RecordingImaging::clear()
{
    QMutexLocker lock(&m_mutex);
    m_calls.clear();
    m_xmlWritten.clear();
    m_xmlRead.clear();
}

int RecordingImaging::openHandles() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_open.size());
}

int RecordingImaging::strayCloses() const
{
    QMutexLocker lock(&m_mutex);
    return m_strayCloses;
}

void RecordingImaging::sendScriptedMessages()
{
    WIMMessageCallback callback;
    void *userData;
    QList<Message> messages;
    {
        QMutexLocker lock(&m_mutex);
        callback = m_callback;
        userData = m_userData;
        messages = messagesDuringLongCalls;
    }
    if (!callback)
        return;
    for (const Message &m : messages)
        callback(m.id, reinterpret_cast<uintptr_t>(m.path.utf16()), m.code, userData);
}

HWIM RecordingImaging::WIMCreateFile(const QString &path, uint32_t desiredAccess, uint32_t creationDisposition,
                                     uint32_t flagsAndAttributes, uint32_t compressionType, uint32_t *creationResult)
{
    note(QStringLiteral("CreateFile %1 %2 %3 %4 %5")
             .arg(path)
             .arg(desiredAccess, 0, 16)
             .arg(creationDisposition)
             .arg(flagsAndAttributes)
             .arg(compressionType));
    return opened(inner().WIMCreateFile(path, desiredAccess, creationDisposition, flagsAndAttributes, compressionType,
                                        creationResult));
}

bool RecordingImaging::WIMCloseHandle(HWIM handle)
{
    note(QStringLiteral("Close"));
    {
        QMutexLocker lock(&m_mutex);
        if (m_open.erase(handle) == 0)
            ++m_strayCloses;
    }
    return inner().WIMCloseHandle(handle);
}

bool RecordingImaging::WIMSetTemporaryPath(HWIM wim, const QString &path)
{
    note(QStringLiteral("SetTemporaryPath ") + path);
    return inner().WIMSetTemporaryPath(wim, path);
}

bool RecordingImaging::WIMGetAttributes(HWIM wim, WIM_INFO *info, uint32_t cbInfo)
{
    return inner().WIMGetAttributes(wim, info, cbInfo);
}

HWIM RecordingImaging::WIMLoadImage(HWIM wim, uint32_t index)
{
    note(QStringLiteral("LoadImage %1").arg(index));
    return opened(inner().WIMLoadImage(wim, index));
}

bool RecordingImaging::WIMGetImageInformation(HWIM image, QString *xml, uint32_t *byteCount)
{
    note(QStringLiteral("GetImageInformation"));
    const bool ok = inner().WIMGetImageInformation(image, xml, byteCount);
    if (ok && xml) {
        std::function<QString(const QString &)> filter;
        {
            QMutexLocker lock(&m_mutex);
            filter = xmlFilter;
        }
        if (filter)
            *xml = filter(*xml);
        QMutexLocker lock(&m_mutex);
        m_xmlRead.append(*xml);
    }
    return ok;
}

bool RecordingImaging::WIMSetImageInformation(HWIM image, const QString &xml, uint32_t byteCount)
{
    note(QStringLiteral("SetImageInformation %1").arg(byteCount));
    {
        QMutexLocker lock(&m_mutex);
        m_xmlWritten.append(xml);
    }
    return inner().WIMSetImageInformation(image, xml, byteCount);
}

HWIM RecordingImaging::WIMCaptureImage(HWIM wim, const QString &path, uint32_t captureFlags)
{
    note(QStringLiteral("CaptureImage ") + path);
    return opened(inner().WIMCaptureImage(wim, path, captureFlags));
}

HWIM RecordingImaging::WIMCaptureImageWithInformation(HWIM wim, const QString &path, uint32_t captureFlags,
                                                      const QString &xml, uint32_t byteCount)
{
    note(QStringLiteral("CaptureImage ") + path);
    {
        QMutexLocker lock(&m_mutex);
        m_xmlWritten.append(xml);
    }
    return opened(inner().WIMCaptureImageWithInformation(wim, path, captureFlags, xml, byteCount));
}

bool RecordingImaging::WIMApplyImage(HWIM image, const QString &path, uint32_t applyFlags)
{
    const QString call = QStringLiteral("ApplyImage %1 %2").arg(path).arg(applyFlags);
    QString root;
    {
        QMutexLocker lock(&m_mutex);
        root = allowedApplyRoot;
    }
    const QString target = QFileInfo(path).canonicalFilePath();
    const QString allowed = QFileInfo(root).canonicalFilePath();
    if (allowed.isEmpty() || allowed == QLatin1String("/") || target.isEmpty()
        || !(target == allowed || target.startsWith(allowed + QLatin1Char('/')))) {
        note(call + QStringLiteral(" refused"));
        return false;
    }
    note(call);
    sendScriptedMessages();
    return inner().WIMApplyImage(image, path, applyFlags);
}

bool RecordingImaging::WIMExportImage(HWIM image, HWIM destinationWim, uint32_t exportFlags)
{
    note(QStringLiteral("Export %1").arg(exportFlags));
    sendScriptedMessages();
    return inner().WIMExportImage(image, destinationWim, exportFlags);
}

bool RecordingImaging::WIMDeleteImage(HWIM wim, uint32_t index)
{
    note(QStringLiteral("Delete %1").arg(index));
    return inner().WIMDeleteImage(wim, index);
}

bool RecordingImaging::WIMSetBootImage(HWIM wim, uint32_t index)
{
    note(QStringLiteral("SetBoot %1").arg(index));
    return inner().WIMSetBootImage(wim, index);
}

uint32_t RecordingImaging::WIMRegisterMessageCallback(HWIM wim, WIMMessageCallback callback, void *userData)
{
    note(QStringLiteral("Register"));
    const uint32_t result = inner().WIMRegisterMessageCallback(wim, callback, userData);
    if (result != INVALID_CALLBACK_VALUE) {
        QMutexLocker lock(&m_mutex);
        m_callback = callback;
        m_userData = userData;
    }
    return result;
}

bool RecordingImaging::WIMUnregisterMessageCallback(HWIM wim, WIMMessageCallback callback)
{
    note(QStringLiteral("Unregister"));
    {
        QMutexLocker lock(&m_mutex);
        m_callback = nullptr;
        m_userData = nullptr;
    }
    return inner().WIMUnregisterMessageCallback(wim, callback);
}

QString RecordingImaging::LastErrorText() const
{
    return inner().LastErrorText();
}

namespace opsfixture {

WindowOnArchive::WindowOnArchive(const QString &wimPath, bool readOnly) : dlg(std::make_unique<CTarnboxDlg>())
{
    dlg->show();
    if (readOnly)
        faults.failOn(FaultInjectingImaging::Call::CreateFile);
    prompts.answerOpenFile(wimPath);
    dlg->OpenArchive();
    prompts.clear();
    library.clear();
}

QString WindowOnArchive::finish()
{
    if (dlg)
        closeArchive(*dlg);
    dlg.reset();
    // Handles that windows close off the UI thread (a browsed image's).
    backgroundTasks::waitForAll(60000);
    QStringList problems;
    if (library.openHandles() != 0)
        problems << QStringLiteral("%1 handles left open").arg(library.openHandles());
    if (library.strayCloses() != 0)
        problems << QStringLiteral("%1 closes of handles not open").arg(library.strayCloses());
    return problems.join(QStringLiteral("; "));
}

HostOnArchive::HostOnArchive(const QString &wimPath, int selectedRow, uint32_t access)
{
    wim = library.WIMCreateFile(wimPath, access, WIM_OPEN_EXISTING, WIM_FLAG_SHARE_WRITE, WIM_COMPRESS_LZX, nullptr);
    WIM_INFO info{};
    ArchiveState state;
    if (wim && library.WIMGetAttributes(wim, &info, sizeof info))
        state.compression = qint16(info.CompressionType);
    state.wim = wim;
    state.filePath = wimPath;
    state.canonicalPath = QFileInfo(wimPath).canonicalFilePath();
    state.workDir = QDir::tempPath();
    state.selectedRow = selectedRow;
    if (wim)
        library.WIMSetTemporaryPath(wim, state.workDir);
    host.setArchive(state);
    library.clear();
}

void HostOnArchive::run(std::unique_ptr<Operation> operation)
{
    runner.start(runner.claim(), std::move(operation));
    runner.waitForRelease();
}

void HostOnArchive::run(const std::function<std::unique_ptr<Operation>(OperationHost &)> &open)
{
    OperationRunner::Claim claim = runner.claim();
    if (!claim)
        return;
    std::unique_ptr<Operation> operation = open(host);
    if (!operation)
        return;  // the claim is dropped, as the window's handler drops it
    runner.start(std::move(claim), std::move(operation));
    runner.waitForRelease();
}

QString HostOnArchive::finish()
{
    runner.waitForRelease();
    if (wim)
        library.WIMCloseHandle(std::exchange(wim, nullptr));
    QStringList problems;
    if (library.openHandles() != 0)
        problems << QStringLiteral("%1 handles left open").arg(library.openHandles());
    if (library.strayCloses() != 0)
        problems << QStringLiteral("%1 closes of handles not open").arg(library.strayCloses());
    return problems.join(QStringLiteral("; "));
}

bool WindowOrHost::openWindow(const QString &wimPath, int rows, bool readOnly)
{
    w = std::make_unique<WindowOnArchive>(wimPath, readOnly);
    prompts = &w->prompts;
    faults = &w->faults;
    library = &w->library;
    dlg = w->dlg.get();
    return dlg->m_List->rowCount() == rows;
}

bool WindowOrHost::openHost(const QString &wimPath, int selectedRow)
{
    h = std::make_unique<HostOnArchive>(wimPath, selectedRow);
    prompts = &h->prompts;
    faults = &h->faults;
    library = &h->library;
    return h->wim != nullptr;
}

bool WindowOrHost::started() const
{
    return h ? h->host.calls().contains(QStringLiteral("BeginBusy")) : dlg->m_tStart != 0;
}

QStringList WindowOrHost::messages() const
{
    return shownMessages(*prompts, h ? &h->host : nullptr);
}

QString WindowOrHost::finish()
{
    const QString handles = w ? w->finish() : h ? h->finish() : QString();
    w.reset();
    h.reset();
    prompts = nullptr;
    faults = nullptr;
    library = nullptr;
    dlg = nullptr;
    return handles;
}

QStringList shownMessages(const RecordingPrompts &prompts, const RecordingHost *host)
{
    QStringList out;
    for (const QString &text : prompts.messageTexts())
        out << (text.startsWith(kDone) ? kDone : text);
    if (host) {
        for (const QString &call : host->calls()) {
            if (call == QLatin1String("ReportFinished"))
                out << kDone;
        }
    }
    return out;
}

bool wimlib(const QStringList &arguments, QString *why)
{
    const testarchives::ToolResult r = runTool(QStringLiteral("wimlib-imagex"), arguments);
    if (r.exitCode == 0)
        return true;
    if (why)
        *why = QStringLiteral("wimlib-imagex %1: %2").arg(arguments.join(QLatin1Char(' ')), r.output);
    return false;
}

bool makeArchive(const QString &wimPath, const QList<QString> &trees, const QStringList &names, QString *why,
                 const QString &compression)
{
    for (qsizetype i = 0; i < trees.size(); ++i) {
        QStringList args{i == 0 ? QStringLiteral("capture") : QStringLiteral("append"), trees[i], wimPath,
                         names.value(i), QStringLiteral("说明 %1").arg(i + 1)};
        if (i == 0)
            args << QStringLiteral("--compress=") + compression;
        if (!wimlib(args, why))
            return false;
    }
    return true;
}

bool makeMediaArchives(const QString &folder, int files, const QStringList &kinds, QString *why)
{
    QMap<QString, QByteArray> tree;
    for (int i = 0; i < files; ++i)
        tree.insert(QStringLiteral("data/f%1.bin").arg(i), testarchives::noise(300000, quint32(i)));
    const QString t = folder + QStringLiteral("/t");
    testarchives::writeTree(t, tree);
    const QString wim = folder + QStringLiteral("/a.wim");
    if (!makeArchive(wim, {t}, {QStringLiteral("一")}, why))
        return false;
    for (const QString &kind : kinds) {
        const QString made = folder + QStringLiteral("/a.") + kind;
        if ((kind == u"esd"
             && !wimlib({QStringLiteral("export"), wim, QStringLiteral("all"), made, QStringLiteral("--solid")}, why))
            || (kind == u"swm" && !wimlib({QStringLiteral("split"), wim, made, QStringLiteral("1")}, why)))
            return false;
    }
    return true;
}

void openInWindow(CTarnboxDlg &dlg, const QString &wimPath)
{
    auto *recording = dynamic_cast<RecordingPrompts *>(&prompts());
    if (recording)
        recording->answerOpenFile(wimPath);
    dlg.OpenArchive();
}

QStringList column(const CTarnboxDlg &dlg, int column)
{
    QStringList out;
    for (int r = 0; r < dlg.m_List->rowCount(); ++r) {
        const QTableWidgetItem *item = dlg.m_List->item(r, column);
        out << (item ? item->text() : QStringLiteral("<none>"));
    }
    return out;
}

bool waitForOperations(int timeoutMs)
{
    return backgroundTasks::waitForAll(timeoutMs);
}

QString loopDrivesUnavailable(bool ntfs)
{
    if (::geteuid() != 0)
        return QStringLiteral("attaching and mounting loop devices needs root");
    if (!QFileInfo::exists(QStringLiteral("/dev/loop-control")))
        return QStringLiteral("this machine has no /dev/loop-control");
    for (const char *tool : {"losetup", "mount", "umount", "mkfs.ext2", "blkid"}) {
        if (!testarchives::haveTool(QString::fromLatin1(tool)))
            return QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool));
    }
    if (ntfs) {
        if (!QFileInfo::exists(QStringLiteral("/dev/fuse")))
            return QStringLiteral("this machine has no /dev/fuse for ntfs-3g");
        for (const char *tool : {"mkntfs", "ntfs-3g"}) {
            if (!testarchives::haveTool(QString::fromLatin1(tool)))
                return QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool));
        }
    }
    return {};
}

LoopDrive::LoopDrive(const QString &dir, int sizeMiB, const QString &filesystem)
{
    const QString base = QDir().mkpath(dir) ? QFileInfo(dir).canonicalFilePath() : QString();
    if (base.isEmpty() || base == QLatin1String("/")) {
        m_error = QStringLiteral("cannot make the folder ") + dir;
        return;
    }
    m_image = base + QStringLiteral("/disk.img");
    m_mountPoint = base + QStringLiteral("/mnt");
    QDir().mkpath(m_mountPoint);
    {
        QFile f(m_image);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(qint64(sizeMiB) << 20)) {
            m_error = QStringLiteral("cannot make the disk file ") + m_image;
            return;
        }
    }
    auto r = runTool(QStringLiteral("losetup"), {QStringLiteral("--find"), QStringLiteral("--show"), m_image}, 60000);
    if (r.exitCode != 0) {
        m_error = QStringLiteral("losetup cannot attach a loop device: ") + r.output.trimmed();
        return;
    }
    m_device = r.output.trimmed();
    const QString mkfs =
        filesystem == QLatin1String("ntfs") ? QStringLiteral("mkntfs") : QStringLiteral("mkfs.") + filesystem;
    QStringList mkfsArgs = filesystem == QLatin1String("ntfs")
                               ? QStringList{QStringLiteral("--quick"), QStringLiteral("--force")}
                               : QStringList{QStringLiteral("-q")};
    mkfsArgs << m_device;
    r = runTool(mkfs, mkfsArgs, 120000);
    if (r.exitCode != 0) {
        m_error = mkfs + QStringLiteral(" failed: ") + r.output.trimmed();
        return;
    }
    r = runTool(QStringLiteral("mount"), {m_device, m_mountPoint}, 60000);
    if (r.exitCode != 0)
        m_error = QStringLiteral("cannot mount the loop device: ") + r.output.trimmed();
}

LoopDrive::~LoopDrive()
{
    if (m_mountPoint.isEmpty())
        return;
    // The code under test may have mounted it again (once or more): undo all.
    for (int i = 0; i < 5; ++i) {
        QFile mounts(QStringLiteral("/proc/self/mountinfo"));
        if (!mounts.open(QIODevice::ReadOnly) || !mounts.readAll().contains(" " + m_mountPoint.toUtf8() + " "))
            break;
        if (runTool(QStringLiteral("umount"), {m_mountPoint}, 60000).exitCode != 0)
            runTool(QStringLiteral("umount"), {QStringLiteral("--lazy"), m_mountPoint}, 60000);
    }
    if (!m_device.isEmpty())
        runTool(QStringLiteral("losetup"), {QStringLiteral("--detach"), m_device}, 60000);
    QFile::remove(m_image);
}

QString LoopDrive::fsType() const
{
    return runTool(QStringLiteral("blkid"),
                   {QStringLiteral("-p"), QStringLiteral("-s"), QStringLiteral("TYPE"), QStringLiteral("-o"),
                    QStringLiteral("value"), m_device},
                   60000)
        .output.trimmed();
}

QString LoopDrive::label() const
{
    return runTool(QStringLiteral("blkid"),
                   {QStringLiteral("-p"), QStringLiteral("-s"), QStringLiteral("LABEL"), QStringLiteral("-o"),
                    QStringLiteral("value"), m_device},
                   60000)
        .output.trimmed();
}

}  // namespace opsfixture
