#include "capture_settings/edition_detection.h"

#include "support/platform.h"

#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <memory>
#include <optional>

#include <hivex.h>

namespace {

// The values were read into 260 UTF-16 characters, the terminator included;
// a longer value did not fit and was not read.
constexpr qsizetype kMaxValueLength = 259;
// Build numbers are five digits today; more than nine is not a build number.
constexpr qsizetype kMaxBuildDigits = 9;
constexpr unsigned kFirstWindows11Build = 22000;

struct HiveCloser {
    void operator()(hive_h *h) const { hivex_close(h); }
};
using Hive = std::unique_ptr<hive_h, HiveCloser>;

struct CFree {
    void operator()(char *p) const { std::free(p); }
};

// A string value of `node`; nothing when it is missing, not a string (hivex
// refuses the other types), not valid UTF-16 or too long.
std::optional<QString> stringValue(hive_h *h, hive_node_h node, const char *name)
{
    const hive_value_h value = hivex_node_get_value(h, node, name);
    if (value == 0)
        return std::nullopt;
    const std::unique_ptr<char, CFree> text(hivex_value_string(h, value));
    if (!text)
        return std::nullopt;
    QString s = QString::fromUtf8(text.get());
    if (s.size() > kMaxValueLength)
        return std::nullopt;
    return s;
}

bool isBuildNumber(const QString &s)
{
    if (s.isEmpty() || s.size() > kMaxBuildDigits)
        return false;
    for (QChar c : s) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

}  // namespace

EditionValues ReadEditionValues(const QString &hivePath)
{
    EditionValues result;
    // Only a regular file: a FIFO or device of that name would block or never end.
    if (hivePath.isEmpty() || !QFileInfo(hivePath).isFile())
        return result;

    // Read-only on purpose: hivex validates little, and its write mode can
    // abort the process on a damaged hive.
    const Hive hive(hivex_open(QFile::encodeName(hivePath).constData(), 0));
    if (!hive)
        return result;
    hive_h *h = hive.get();

    hive_node_h node = hivex_root(h);
    for (const char *name : {"Microsoft", "Windows NT", "CurrentVersion"}) {
        if (node == 0)
            return result;
        node = hivex_node_get_child(h, node, name);
    }
    if (node == 0)
        return result;

    if (auto productName = stringValue(h, node, "ProductName")) {
        result.productNameRead = true;
        result.productName = *productName;
    }
    if (auto editionId = stringValue(h, node, "EditionID")) {
        result.editionIdRead = true;
        result.editionId = *editionId;
    }
    for (const char *name : {"CurrentBuildNumber", "CurrentBuild"}) {
        const auto build = stringValue(h, node, name);
        if (build && isBuildNumber(*build)) {
            result.buildNumber = *build;
            break;
        }
    }
    return result;
}

QString CorrectedProductName(const QString &productName, const QString &buildNumber)
{
    static const QString windows10 = QStringLiteral("Windows 10");
    if (!isBuildNumber(buildNumber) || buildNumber.toUInt() < kFirstWindows11Build)
        return productName;
    if (!productName.startsWith(windows10))
        return productName;
    // "Windows 10" itself, not the start of a longer number.
    if (productName.size() > windows10.size() && productName.at(windows10.size()).isDigit())
        return productName;
    return QStringLiteral("Windows 11") + productName.mid(windows10.size());
}

EditionValues DetectEdition(const QString &capturePath)
{
    if (capturePath.isEmpty())
        return {};
    EditionValues values = ReadEditionValues(platform::softwareHivePath(capturePath));
    if (values.productNameRead)
        values.productName = CorrectedProductName(values.productName, values.buildNumber);
    return values;
}
