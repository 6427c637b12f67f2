#include "operations/drive_format.h"

#include "operations/drive_guardian.h"
#include "support/platform.h"
#include "support/shell_quote.h"

#include <QMutex>
#include <QStringList>

namespace {

constexpr int kTailLines = 8;
constexpr int kTailChars = 600;

QMutex g_runnerMutex;
FormatCommandRunner g_runner;

QString failedStep(const QString &commandLine, const CommandResult &result)
{
    if (!result.started)
        return QStringLiteral("无法运行命令：%1").arg(commandLine);
    QString text = QStringLiteral("命令失败（退出码 %1）：%2").arg(result.exitCode).arg(commandLine);
    const QString tail = OutputTail(result.output);
    if (!tail.isEmpty())
        text += QLatin1Char('\n') + tail;
    return text;
}

bool succeeded(const CommandResult &result)
{
    return result.started && result.exitCode == 0;
}

}  // namespace

QString OutputTail(const QString &output)
{
    QStringList lines = output.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    while (!lines.isEmpty() && lines.first().trimmed().isEmpty())
        lines.removeFirst();
    bool cut = false;
    if (lines.size() > kTailLines) {
        lines = lines.mid(lines.size() - kTailLines);
        cut = true;
    }
    QString tail = lines.join(QLatin1Char('\n'));
    if (tail.size() > kTailChars) {
        tail = tail.right(kTailChars);
        cut = true;
    }
    return cut ? QStringLiteral("…") + tail : tail;
}

FormatOutcome FormatDrive(const QString &mountPoint, const QString &label, bool privileged,
                          const FormatCommandRunner &run)
{
    FormatOutcome outcome;
    const QString device = platform::deviceOfMountPoint(mountPoint);
    const QStringList commands = platform::formatCommands(mountPoint, label);
    if (commands.isEmpty() || device.isEmpty()) {
        outcome.detail = QStringLiteral("%1 不是可以格式化的分区。").arg(mountPoint);
        return outcome;
    }
    if (!privileged) {
        outcome.detail = QStringLiteral("卸载、格式化和挂载分区需要 root 权限。");
        return outcome;
    }

    // The first command unmounts, the last mounts the new filesystem back,
    // those between format.
    const qsizetype last = commands.size() - 1;
    // Whatever the device holds when the program ends: the old filesystem or the new one.
    const QString remount = QStringLiteral("mount ") + shellQuote(device) + QLatin1Char(' ') + shellQuote(mountPoint);
    const DriveGuardian guardian(DriveGuardian::Taken::Unmounted, device, mountPoint, remount);
    if (!guardian.error().isEmpty()) {
        outcome.detail = guardian.error();
        return outcome;
    }
    for (qsizetype i = 0; i <= last; ++i) {
        const CommandResult result = run(commands[i]);
        if (succeeded(result))
            continue;
        outcome.detail = failedStep(commands[i], result);
        if (i == last && last > 0) {
            outcome.stage = FormatOutcome::NotMounted;
        } else if (i > 0) {
            // Unmounted but not formatted: give the user the drive back as it was.
            if (!succeeded(run(remount)))
                outcome.detail += QStringLiteral("\n%1 已卸载，未能重新挂载。").arg(mountPoint);
        }
        return outcome;
    }
    outcome.stage = FormatOutcome::Formatted;
    return outcome;
}

FormatCommandRunner formatCommandRunner()
{
    QMutexLocker lock(&g_runnerMutex);
    if (g_runner)
        return g_runner;
    return [](const QString &commandLine) { return RunCommandWithStatus(commandLine); };
}

void setFormatCommandRunner(FormatCommandRunner runner)
{
    QMutexLocker lock(&g_runnerMutex);
    g_runner = std::move(runner);
}
