#include "operations/mounted_image.h"

#include "imaging/imaging_library.h"
#include "operations/operation_host.h"
#include "operations/operation_runner.h"
#include "support/platform.h"
#include "support/ui_thread.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

constexpr LongOperation::Profile kUnmountProfile{
    .busyBeforeRegistering = true,
    .clearsLog = false,
    .pausesBeforeEnd = false,
    .showsLog = false,
    .unregisterFailure = LongOperation::UnregisterFailure::Reported,
};

QString toolCause(const QByteArray &output)
{
    QString text = QString::fromUtf8(output).trimmed();
    text.remove(QStringLiteral("pellwick-wim: "));
    return text;
}

}  // namespace

QString mountToolPath()
{
    const QString given = qEnvironmentVariable("PELLWICK_WIM_TOOL");
    if (!given.isEmpty())
        return given;
    const QString beside = platform::executableDirectory() + QStringLiteral("pellwick-wim");
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(QStringLiteral("pellwick-wim"));
}

QStringList mountToolArguments(const MountRecord &record)
{
    QStringList arguments{QStringLiteral("mount"), record.archive, QString::number(record.image), record.directory};
    if (record.readWrite)
        arguments << QStringLiteral("--rw") << QStringLiteral("--staging") << record.staging;
    return arguments;
}

bool MountedImage::holdsAgainst(ArchiveEffect effect) const
{
    return effect == ArchiveEffect::Replaces || (m_record.readWrite && effect == ArchiveEffect::Changes);
}

QString MountedImage::description() const
{
    return QStringLiteral("%1 的映像 %2 挂载于 %3%4")
        .arg(QFileInfo(m_record.archive).fileName())
        .arg(m_record.image)
        .arg(m_record.directory, m_record.readWrite ? QStringLiteral("（可修改）") : QString());
}

std::unique_ptr<Operation> MountedImage::ending(Ending how)
{
    return std::make_unique<UnmountOperation>(*this, how == Ending::Commit && m_record.readWrite);
}

void MountOperation::run(OperationContext &ctx)
{
    const QString tool = mountToolPath();
    if (tool.isEmpty()) {
        ctx.failure(QStringLiteral("映像挂载失败！"), QStringLiteral("错误提示"),
                    QStringLiteral("找不到 pellwick-wim（挂载由它提供服务）。"));
        return;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, mountToolArguments(m_record));
    // Returns once the mount is up; its serving process goes on detached.
    const bool ended = process.waitForFinished(120000);
    if (!ended || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (!ended)
            process.kill();
        ctx.failure(QStringLiteral("映像挂载失败！"), QStringLiteral("错误提示"),
                    ended ? toolCause(process.readAll()) : QStringLiteral("pellwick-wim 没有响应。"));
        return;
    }
    ctx.runner().keep(std::make_shared<MountedImage>(m_record));
    OperationHost &host = ctx.host();
    const QString folder = m_record.directory;
    uiThread::run([&host, &folder] { host.LastingOperationsChanged(folder); });
}

UnmountOperation::UnmountOperation(const MountedImage &mount, bool commit)
    : LongOperation(kUnmountProfile), m_mount(mount), m_commit(commit)
{}

void UnmountOperation::registrationFailed(OperationContext &ctx)
{
    ctx.failure(QStringLiteral("无法注册回掉！"), QStringLiteral("错误提示"), QString());
}

bool UnmountOperation::work(OperationContext &ctx)
{
    const MountRecord record = m_mount.record();
    while (!imaging().WIMUnmountImage(record.directory, m_commit ? WIM_UNMOUNT_FLAG_COMMIT : 0)) {
        const ImagingError why = imaging().LastError();
        if (why.kind == ImagingError::Kind::Busy && !ctx.aborted()) {
            const int answer = uiThread::choose(
                ctx.host().PromptOwner(),
                QStringLiteral("%1 中还有打开的文件，或有程序正在使用它，暂时无法卸载。\n请关闭它们后重试。")
                    .arg(record.directory),
                QStringLiteral("温馨提示"), {QStringLiteral("重试"), QStringLiteral("取消")});
            if (answer == 0)
                continue;
            ctx.host().HideBusyNow();
            return false;
        }
        if (why.kind == ImagingError::Kind::NotFound)
            break;  // unmounted meanwhile by someone else: nothing is left to end
        ctx.host().HideBusyNow();
        // A serving process that ended meanwhile leaves no mount to retry.
        const bool over = mountState(record.directory) == MountState::Gone;
        ctx.failure(QStringLiteral("映像卸载失败！"), QStringLiteral("错误提示"), why,
                    over ? (m_commit ? QStringLiteral("挂载已结束。映像文件是挂载前的映像，或已包含提交的更改。")
                                     : QStringLiteral("挂载已结束，映像文件没有改变。"))
                    : record.readWrite ? QStringLiteral("映像仍处于挂载状态，更改保留在暂存文件夹中，可以稍后重试。")
                                       : QStringLiteral("映像仍处于挂载状态。"));
        if (over)
            forgetMount(ctx);
        return false;
    }
    forgetMount(ctx);
    return true;
}

void UnmountOperation::forgetMount(OperationContext &ctx)
{
    removeMountRecord(m_mount.record().directory);
    OperationHost &host = ctx.host();
    ctx.runner().forget(&m_mount);  // m_mount is gone from here on
    uiThread::run([&host] { host.LastingOperationsChanged(QString()); });
}
