#include "hive_builder.h"

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <cstring>
#include <vector>

#include <hivex.h>

namespace testhive {

namespace {

constexpr int kBaseBlock = 0x1000;
constexpr int kBinSize = 0x1000;

// Offsets inside the bin (cell offsets in a hive count from the first bin).
constexpr int kRootCell = 0x20;
constexpr int kRootCellSize = 0x58;  // 0x50 of fixed fields + "ROOT", rounded to 8
constexpr int kSkCell = kRootCell + kRootCellSize;
constexpr int kSkCellSize = 0x30;  // 0x18 of fixed fields + a 20-byte descriptor, rounded
constexpr int kFreeCell = kSkCell + kSkCellSize;

void put16(QByteArray &b, int at, quint16 v)
{
    qToLittleEndian(v, b.data() + at);
}

void put32(QByteArray &b, int at, quint32 v)
{
    qToLittleEndian(v, b.data() + at);
}

void putBytes(QByteArray &b, int at, const char *s, int n)
{
    std::memcpy(b.data() + at, s, size_t(n));
}

}  // namespace

Value sz(const QString &name, const QString &text)
{
    QByteArray data;
    for (QChar c : text) {
        data.append(char(c.unicode() & 0xFF));
        data.append(char(c.unicode() >> 8));
    }
    data.append(2, '\0');
    return {name, 1, data};
}

Value dword(const QString &name, uint32_t v)
{
    QByteArray data(4, '\0');
    qToLittleEndian(v, data.data());
    return {name, 4, data};
}

QByteArray emptyHive()
{
    QByteArray h(kBaseBlock + kBinSize, '\0');

    // Base block.
    putBytes(h, 0x000, "regf", 4);
    put32(h, 0x004, 1);          // primary sequence number
    put32(h, 0x008, 1);          // secondary sequence number (equal: the hive is consistent)
    put32(h, 0x014, 1);          // major version
    put32(h, 0x018, 5);          // minor version
    put32(h, 0x01C, 0);          // primary file
    put32(h, 0x020, 1);          // direct memory load
    put32(h, 0x024, kRootCell);  // root cell
    put32(h, 0x028, kBinSize);   // size of the hive bins
    put32(h, 0x02C, 1);          // clustering factor
    quint32 sum = 0;
    for (int i = 0; i < 0x1FC; i += 4)
        sum ^= qFromLittleEndian<quint32>(h.constData() + i);
    put32(h, 0x1FC, sum);

    // The bin.
    const int bin = kBaseBlock;
    putBytes(h, bin + 0x00, "hbin", 4);
    put32(h, bin + 0x04, 0);  // offset from the first bin
    put32(h, bin + 0x08, kBinSize);

    // Root key: a used cell (negative size), "nk", hive entry | no delete | ASCII name.
    const int nk = bin + kRootCell;
    put32(h, nk + 0x00, quint32(-kRootCellSize));
    putBytes(h, nk + 0x04, "nk", 2);
    put16(h, nk + 0x06, 0x2C);
    put32(h, nk + 0x14, 0xFFFFFFFF);  // parent
    put32(h, nk + 0x18, 0);           // subkeys
    put32(h, nk + 0x1C, 0);           // volatile subkeys
    put32(h, nk + 0x20, 0xFFFFFFFF);  // subkey list
    put32(h, nk + 0x24, 0xFFFFFFFF);  // volatile subkey list
    put32(h, nk + 0x28, 0);           // values
    put32(h, nk + 0x2C, 0xFFFFFFFF);  // value list
    put32(h, nk + 0x30, kSkCell);     // security cell
    put32(h, nk + 0x34, 0xFFFFFFFF);  // class name
    put16(h, nk + 0x4C, 4);           // name length
    putBytes(h, nk + 0x50, "ROOT", 4);

    // Security cell, linked to itself, used by the root.
    const int sk = bin + kSkCell;
    put32(h, sk + 0x00, quint32(-kSkCellSize));
    putBytes(h, sk + 0x04, "sk", 2);
    put32(h, sk + 0x08, kSkCell);  // next
    put32(h, sk + 0x0C, kSkCell);  // previous
    put32(h, sk + 0x10, 1);        // reference count
    put32(h, sk + 0x14, 20);       // descriptor length
    h[sk + 0x18] = 1;              // self-relative descriptor, revision 1, no owner, group or lists
    put16(h, sk + 0x1A, 0x8000);

    // The rest of the bin is one free cell (positive size).
    put32(h, bin + kFreeCell, quint32(kBinSize - kFreeCell));
    return h;
}

bool writeHive(const QString &path, const QStringList &keys, const QList<Value> &values, QString *error)
{
    const auto fail = [error](const QString &what) {
        if (error)
            *error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(emptyHive()) != kBaseBlock + kBinSize)
            return fail(QStringLiteral("write ") + path);
    }
    const QByteArray file = QFile::encodeName(path);
    // Write mode only on a hive made right here.
    hive_h *h = hivex_open(file.constData(), HIVEX_OPEN_WRITE);
    if (!h)
        return fail(QStringLiteral("hivex_open"));
    hive_node_h node = hivex_root(h);
    for (const QString &key : keys) {
        const QByteArray name = key.toLatin1();
        hive_node_h child = hivex_node_get_child(h, node, name.constData());
        if (child == 0)
            child = hivex_node_add_child(h, node, name.constData());
        if (child == 0) {
            hivex_close(h);
            return fail(QStringLiteral("hivex_node_add_child ") + key);
        }
        node = child;
    }
    for (const Value &v : values) {
        QByteArray name = v.name.toLatin1();
        QByteArray data = v.data;
        hive_set_value sv;
        sv.key = name.data();
        sv.t = static_cast<hive_type>(v.type);
        sv.len = size_t(data.size());
        sv.value = data.data();
        if (hivex_node_set_value(h, node, &sv, 0) != 0) {
            hivex_close(h);
            return fail(QStringLiteral("hivex_node_set_value ") + v.name);
        }
    }
    if (hivex_commit(h, nullptr, 0) != 0) {
        hivex_close(h);
        return fail(QStringLiteral("hivex_commit"));
    }
    hivex_close(h);
    return true;
}

QStringList currentVersionKey()
{
    return {QStringLiteral("Microsoft"), QStringLiteral("Windows NT"), QStringLiteral("CurrentVersion")};
}

QString makeWindowsTree(const QString &root, const QList<Value> &values)
{
    const QString config = root + QStringLiteral("/Windows/System32/config");
    if (!QDir().mkpath(config))
        return {};
    const QString hive = config + QStringLiteral("/SOFTWARE");
    return writeHive(hive, currentVersionKey(), values) ? hive : QString();
}

}  // namespace testhive
