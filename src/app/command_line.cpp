#include "app/command_line.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>

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
        } else if (options && (argument == QLatin1String("-V") || argument == QLatin1String("--version"))) {
            line.version = true;
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
    return QStringLiteral("用法：pellwick [选项] [映像文件]\n"
                          "打开 Pellwick；给出映像文件（.wim、.esd、.swm）时启动后即打开它。\n"
                          "  -h, --help     显示本帮助并退出\n"
                          "  -V, --version  显示版本并退出\n");
}

QStringList WithoutQtOptions(const QStringList &arguments)
{
    // QGuiApplication's and QApplication's own options; the first group takes a value.
    static const QStringList withValue{
        QStringLiteral("platform"),
        QStringLiteral("platformpluginpath"),
        QStringLiteral("platformtheme"),
        QStringLiteral("plugin"),
        QStringLiteral("qwindowgeometry"),
        QStringLiteral("qwindowicon"),
        QStringLiteral("qwindowtitle"),
        QStringLiteral("session"),
        QStringLiteral("style"),
        QStringLiteral("stylesheet"),
        QStringLiteral("display"),
        QStringLiteral("geometry"),
        QStringLiteral("title"),
        QStringLiteral("name"),
        QStringLiteral("icon"),
    };
    static const QStringList alone{QStringLiteral("reverse"), QStringLiteral("widgetcount"), QStringLiteral("nograb"),
                                   QStringLiteral("dograb")};
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (i > 0 && a == QLatin1String("--")) {
            kept += arguments.mid(i);
            break;
        }
        // Qt takes both -style and --style.
        const QString name = a.startsWith(QLatin1String("--")) ? a.mid(2) : a.mid(1);
        if (i > 0 && a.startsWith(QLatin1Char('-'))) {
            if (withValue.contains(name) && i + 1 < arguments.size()) {
                ++i;
                continue;
            }
            if (alone.contains(name) || name.startsWith(QLatin1String("style="))
                || name.startsWith(QLatin1String("qmljsdebugger=")))
                continue;
        }
        kept << a;
    }
    return kept;
}

std::optional<int> AnswerWithoutWindow(const CommandLine &line)
{
    if (!line.error.isEmpty()) {
        const QString text = QStringLiteral("pellwick: %1\n").arg(line.error) + CommandLineUsage();
        std::fputs(text.toLocal8Bit().constData(), stderr);
        return 2;
    }
    if (line.help || line.version) {
        const QString text =
            line.help ? CommandLineUsage() : QStringLiteral("pellwick %1\n").arg(QStringLiteral(PELLWICK_VERSION));
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    return std::nullopt;
}
