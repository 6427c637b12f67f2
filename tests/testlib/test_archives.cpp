#include "test_archives.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>

namespace testarchives {

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray noise(int size, quint32 seed)
{
    // Whole words from the generator: a byte at a time takes most of a
    // second for the archives of a few megabytes the tests make.
    QList<quint32> words((size + 3) / 4);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), size);
}

ToolResult runTool(const QString &program, const QStringList &arguments, int timeoutMs, const QByteArray &input)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    ToolResult r;
    if (!p.waitForStarted(30000))
        return r;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.output = QString::fromUtf8(p.readAll());
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

bool haveTool(const QString &program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

bool rewriteKeepingTimes(const QString &path, const QByteArray &bytes)
{
    struct stat before;
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &before) != 0)
        return false;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    return ::utimensat(AT_FDCWD, native.constData(), times, 0) == 0;
}

void writeTree(const QString &root, const QMap<QString, QByteArray> &files)
{
    QDir().mkpath(root);
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QString path = root + QLatin1Char('/') + it.key();
        if (it.key().endsWith(QLatin1Char('/'))) {
            QDir().mkpath(path);
            continue;
        }
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(it.value());
    }
}

QMap<QString, QByteArray> readTree(const QString &root)
{
    QMap<QString, QByteArray> out;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo fi(path);
        const QString rel = base.relativeFilePath(path);
        if (fi.isSymLink()) {
            out.insert(rel, "-> " + fi.symLinkTarget().toUtf8());
        } else if (fi.isDir()) {
            out.insert(rel + QLatin1Char('/'), QByteArray());
        } else {
            QFile f(path);
            out.insert(rel, f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>"));
        }
    }
    return out;
}

WimInfo wimInfo(const QString &wimPath)
{
    WimInfo info;
    const ToolResult r = runTool(QStringLiteral("wimlib-imagex"), {QStringLiteral("info"), wimPath});
    info.raw = r.output;
    if (r.exitCode != 0)
        return info;
    info.ok = true;
    int current = -1;
    const QStringList lines = r.output.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const QString key = line.left(colon).trimmed();
        const QString value = line.mid(colon + 1).trimmed();
        if (key == QLatin1String("Image Count")) {
            info.imageCount = value.toInt();
        } else if (key == QLatin1String("Boot Index")) {
            info.bootIndex = value.toInt();
        } else if (key == QLatin1String("Compression")) {
            info.compression = value;
        } else if (key == QLatin1String("Index")) {
            current = value.toInt() - 1;
            while (info.names.size() <= current) {
                info.names.append(QString());
                info.descriptions.append(QString());
                info.flags.append(QString());
            }
        } else if (current >= 0 && key == QLatin1String("Name")) {
            info.names[current] = value;
        } else if (current >= 0 && key == QLatin1String("Description")) {
            info.descriptions[current] = value;
        } else if (current >= 0 && key == QLatin1String("Flags")) {
            info.flags[current] = value;
        }
    }
    return info;
}

bool wimVerify(const QString &wimPath, QString *output)
{
    const ToolResult r = runTool(QStringLiteral("wimlib-imagex"), {QStringLiteral("verify"), wimPath});
    if (output)
        *output = r.output;
    return r.exitCode == 0;
}

QStringList wimDir(const QString &wimPath, int index)
{
    const ToolResult r =
        runTool(QStringLiteral("wimlib-imagex"), {QStringLiteral("dir"), wimPath, QString::number(index)});
    if (r.exitCode != 0)
        return {};
    QStringList out;
    for (const QString &line : r.output.split(QLatin1Char('\n'))) {
        if (!line.isEmpty())
            out.append(line);
    }
    return out;
}

}  // namespace testarchives
