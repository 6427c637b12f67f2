#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Helpers for tests that work on real archives and real folder trees.
namespace testarchives {

struct ToolResult {
    int exitCode = -1;
    QString output;  // standard output and standard error
};

// Runs a program with arguments (no shell) and waits up to `timeoutMs`;
// `input` is what it reads on its standard input.
ToolResult runTool(const QString &program, const QStringList &arguments, int timeoutMs = 600000,
                   const QByteArray &input = {});

// True when `program` can be found on PATH.
bool haveTool(const QString &program);

// A file's bytes; empty when it cannot be read.
QByteArray fileBytes(const QString &path);

// `size` deterministic bytes of `seed` that no compressor shrinks.
QByteArray noise(int size, quint32 seed);

// Writes files under `root`: key = relative path ("a/b.txt"; a key ending in
// "/" makes an empty folder), value = contents.
void writeTree(const QString &root, const QMap<QString, QByteArray> &files);

// Writes `bytes` over the file at `path` and gives it back the access and
// modification times it had: what a tool that restores timestamps leaves.
bool rewriteKeepingTimes(const QString &path, const QByteArray &bytes);

// Every file and folder under `root` as relative path -> contents (folders end
// in "/" and map to an empty value; symbolic links map to "-> target").
QMap<QString, QByteArray> readTree(const QString &root);

// What `wimlib-imagex info` says of an archive.
struct WimInfo {
    bool ok = false;
    int imageCount = 0;
    int bootIndex = 0;
    QString compression;  // as wimlib-imagex prints it ("LZX", "None", ...)
    QStringList names;    // per image, "" when it has none
    QStringList descriptions;
    QStringList flags;
    QString raw;
};
WimInfo wimInfo(const QString &wimPath);

// wimlib-imagex verify; true when it passes.
bool wimVerify(const QString &wimPath, QString *output = nullptr);

// The paths held by image `index` (wimlib-imagex dir), "/"-separated, "/" first.
QStringList wimDir(const QString &wimPath, int index);

}  // namespace testarchives
