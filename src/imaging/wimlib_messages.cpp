#include "imaging/wimlib_messages.h"

#include <QByteArray>
#include <QList>
#include <QRegularExpression>

#include <cstdio>

#include <wimlib.h>

namespace wimlibmessages {

namespace {

constexpr qsizetype kKeep = 8192;

thread_local QByteArray t_printed;

ssize_t append(void *, const char *data, size_t size)
{
    t_printed.append(data, qsizetype(size));
    if (t_printed.size() > kKeep)
        t_printed.remove(0, t_printed.size() - kKeep);
    return ssize_t(size);
}

}  // namespace

void install()
{
    static FILE *sink = [] {
        cookie_io_functions_t functions{};
        functions.write = append;
        FILE *f = ::fopencookie(nullptr, "w", functions);
        // Unbuffered: each message reaches the buffer of the thread that printed it.
        if (f)
            std::setvbuf(f, nullptr, _IONBF, 0);
        return f;
    }();
    if (sink)
        wimlib_set_error_file(sink);
}

void clear()
{
    t_printed.clear();
}

QString lastError()
{
    static const QByteArray prefix = "[ERROR] ";
    const qsizetype at = t_printed.lastIndexOf(prefix);
    if (at < 0)
        return {};
    const qsizetype end = t_printed.indexOf('\n', at);
    return QString::fromUtf8(t_printed.mid(at + prefix.size(), end < 0 ? -1 : end - at - prefix.size())).trimmed();
}

QList<UnwritableName> unwritableNames()
{
    static const QRegularExpression renamed(QStringLiteral(
        "^\\[WARNING\\] \"(.*)\" has an invalid filename that is not supported on this platform; extracting"));
    static const QRegularExpression dots(
        QStringLiteral("^\\[WARNING\\] Ignoring file named \"\\.\" or \"\\.\\.\" in directory \"(.*)\"$"));
    QList<UnwritableName> names;
    for (const QByteArray &line : t_printed.split('\n')) {
        // wimlib begins each message with a carriage return.
        const QString text = QString::fromUtf8(line).trimmed();
        if (const auto match = renamed.match(text); match.hasMatch())
            names.append({match.captured(1), false});
        else if (const auto match = dots.match(text); match.hasMatch())
            names.append({match.captured(1), true});
    }
    return names;
}

}  // namespace wimlibmessages
