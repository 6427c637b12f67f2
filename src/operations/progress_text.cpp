#include "operations/progress_text.h"

#include "resources/resource_ids.h"

QString FormatDuration(qint64 seconds)
{
    const qint64 totalMinutes = seconds / 60;
    const qint64 secs = seconds % 60;
    const qint64 hours = totalMinutes / 60;
    const qint64 minutes = totalMinutes % 60;
    if (hours != 0)
        return QStringLiteral("%1小时: %2分: %3秒").arg(hours).arg(minutes).arg(secs);
    if (minutes != 0)
        return QStringLiteral("%1分: %2秒").arg(minutes).arg(secs);
    return QStringLiteral("%1秒").arg(secs);
}

qint64 EstimateRemainingSeconds(qint64 elapsedSeconds, int percent)
{
    if (percent == 0)
        return 0;
    const qint64 total = (elapsedSeconds * 100) / percent;
    return total - elapsedSeconds;
}

QString FormatPercent(int percent)
{
    return QString::number(percent) + QLatin1Char('%');
}

QString FormatLogLine(unsigned message, QStringView path, qint32 code)
{
    QString prefix;
    switch (message) {
    case res::WM_OP_ERROR: prefix = QStringLiteral("错误: "); break;
    case res::WM_OP_RETRY: prefix = QStringLiteral("超时: "); break;
    case res::WM_OP_INFO: prefix = QStringLiteral("信息: "); break;
    case res::WM_OP_WARNING: prefix = QStringLiteral("警告: "); break;
    default: return {};
    }
    return prefix + path.toString() + QStringLiteral(" [err = ") + QString::number(code) + QLatin1Char(']');
}

void AppendToLog(QString &log, const QString &line)
{
    log += QStringLiteral("\r\n");
    log += line;
}

QString FinishedMessage(const QString &duration)
{
    return QStringLiteral("操作完成，一共耗时 ") + duration;
}
