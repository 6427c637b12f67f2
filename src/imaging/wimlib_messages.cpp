#include "imaging/wimlib_messages.h"

#include <QByteArray>

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
        cookie_io_functions_t functions {};
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

}  // namespace wimlibmessages
