#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

// Registry hives made from nothing, for the edition detection tests: the
// smallest file hivex accepts, written from the published "regf" layout, then
// filled through hivex's own write API.
namespace testhive {

struct Value {
    QString name;
    uint32_t type;  // REG_SZ = 1, REG_DWORD = 4, ...
    QByteArray data;
};

// REG_SZ: UTF-16LE with its terminating NUL.
Value sz(const QString &name, const QString &text);
Value dword(const QString &name, uint32_t v);

// 8192 bytes: a base block (with its checksum) and one bin holding the root
// key, one security cell and a free cell covering the rest of the bin.
QByteArray emptyHive();

// Writes a hive to `path` holding the key path `keys` below the root (each
// name a child of the previous one) with `values` on its last key.
bool writeHive(const QString &path, const QStringList &keys, const QList<Value> &values, QString *error = nullptr);

// The key path the detection reads.
QStringList currentVersionKey();

// <root>/Windows/System32/config/SOFTWARE with `values` under currentVersionKey();
// returns the hive's path ("" on failure).
QString makeWindowsTree(const QString &root, const QList<Value> &values);

}  // namespace testhive
