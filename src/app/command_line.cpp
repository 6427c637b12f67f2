#include "app/command_line.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

CommandLine ParseCommandLine(const QStringList &arguments)
{
    CommandLine line;
    QStringList positional;
    bool options = true;
    for (const QString &argument : arguments.mid(1)) {
        if (options && argument == QLatin1String("--")) {
            options = false;
        } else if (options && (argument == QLatin1String("-h") || argument == QLatin1String("--help"))) {
            line.help = true;
        } else if (options && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            line.error = QStringLiteral("未知的选项：%1").arg(argument);
            return line;
        } else {
            positional << argument;
        }
    }
    if (positional.size() > 1) {
        line.error = QStringLiteral("一次只能打开一个映像文件");
        return line;
    }
    if (positional.isEmpty() || positional.first().isEmpty())
        return line;
    const QString given = positional.first();
    const QUrl url(given);
    const QString path = url.isLocalFile() ? url.toLocalFile() : given;
    line.archive = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return line;
}

QString CommandLineUsage()
{
    return QStringLiteral("用法：pellwick [映像文件]\n"
                          "打开 Pellwick；给出映像文件（.wim、.esd、.swm）时启动后即打开它。\n");
}
