#pragma once

#include <QString>
#include <QStringView>

// The texts of the progress area, the completion message and the operation log.

// "1小时: 2分: 5秒", "1分: 5秒" or "7秒"; hours are not folded into days.
QString FormatDuration(qint64 seconds);

// Seconds left when `percent` (1..100) is done after `elapsedSeconds`: the
// estimated total (elapsed x 100 / percent, truncated) minus the elapsed time.
qint64 EstimateRemainingSeconds(qint64 elapsedSeconds, int percent);

// "37%"
QString FormatPercent(int percent);

// The log line of one library report (WM_OP_ERROR ... WM_OP_WARNING); empty
// for any other message.
QString FormatLogLine(unsigned message, QStringView path, qint32 code);

// Appends a line to the log: CR LF, then the line.
void AppendToLog(QString &log, const QString &line);

// "操作完成，一共耗时 " followed by the duration text.
QString FinishedMessage(const QString &duration);
