#include "operations/exclusion_match.h"

namespace {

inline bool matches(char16_t c, char16_t x)
{
    return c == x || (c >= u'A' && c <= u'Z' && char16_t(c | 0x20) == x);
}

}  // namespace

bool IsExcluded(const DriveRelativePath &p, QStringView e)
{
    const qsizetype n = e.size();
    if (n == 0)
        return false;
    const bool folder = e[n - 1] == u'\\';
    if (folder ? p.size() < n : p.size() != n)
        return false;
    for (qsizetype i = 0; i < n; ++i) {
        if (!matches(p.at(i), e[i].unicode()))
            return false;
    }
    return true;
}

bool IsExcluded(QStringView p, QStringView e)
{
    return IsExcluded(DriveRelativePath{p, {}}, e);
}
