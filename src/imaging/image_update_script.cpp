#include "imaging/image_update_script.h"

#include <QStringList>

namespace {

// The words of one line; false on an unclosed quote.
bool splitWords(QStringView line, QStringList *words)
{
    qsizetype i = 0;
    while (true) {
        while (i < line.size() && line[i].isSpace())
            ++i;
        if (i == line.size())
            return true;
        const QChar quote = line[i];
        if (quote == u'"' || quote == u'\'') {
            const qsizetype end = line.indexOf(quote, i + 1);
            if (end < 0)
                return false;
            words->append(line.mid(i + 1, end - i - 1).toString());
            i = end + 1;
        } else {
            const qsizetype start = i;
            while (i < line.size() && !line[i].isSpace())
                ++i;
            words->append(line.mid(start, i - start).toString());
        }
    }
}

QString parseLine(const QStringList &words, ImagingUpdate *update)
{
    const QString &verb = words.first();
    for (qsizetype i = 1; i < words.size(); ++i) {
        if (words[i].startsWith(QLatin1String("--")))
            return QStringLiteral("options such as %1 are not taken").arg(words[i]);
        if (words[i].isEmpty())
            return QStringLiteral("an empty path");
    }
    const auto wants = [&](qsizetype count, const char *form) {
        return words.size() == count + 1 ? QString() : QStringLiteral("%1 takes %2").arg(verb, QLatin1String(form));
    };
    QString wrong;
    if (verb == QLatin1String("add")) {
        if ((wrong = wants(2, "SOURCE IMAGE_PATH")).isEmpty())
            *update = {ImagingUpdate::Kind::Add, words[1], words[2], {}};
    } else if (verb == QLatin1String("delete")) {
        if ((wrong = wants(1, "IMAGE_PATH")).isEmpty())
            *update = {ImagingUpdate::Kind::Delete, {}, words[1], {}};
    } else if (verb == QLatin1String("rename")) {
        if ((wrong = wants(2, "OLD_PATH NEW_PATH")).isEmpty())
            *update = {ImagingUpdate::Kind::Rename, {}, words[1], words[2]};
    } else {
        wrong = QStringLiteral("unknown command \"%1\" (add, delete or rename)").arg(verb);
    }
    return wrong;
}

}  // namespace

bool parseImageUpdates(const QString &text, QList<ImagingUpdate> *updates, QString *error)
{
    updates->clear();
    QList<ImagingUpdate> parsed;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QStringList words;
        QString wrong;
        if (!splitWords(lines[n], &words))
            wrong = QStringLiteral("a quote is not closed");
        else if (words.isEmpty() || words.first().startsWith(QLatin1Char('#')))
            continue;
        else
            wrong = parseLine(words, &parsed.emplace_back());
        if (!wrong.isEmpty()) {
            *error = QStringLiteral("line %1: %2: %3").arg(n + 1).arg(wrong, lines[n].trimmed());
            return false;
        }
    }
    *updates = std::move(parsed);
    return true;
}
