#include "capture_settings/exclusion_list.h"

// Placeholder until the store lands.
void ExclusionList::append(const QString &entry)
{
    if (!entry.isEmpty())
        m_entries.append(entry);
}

void ExclusionList::removeAt(int i)
{
    if (i >= 0 && i < m_entries.size())
        m_entries.removeAt(i);
}

const QStringList &ExclusionList::defaults()
{
    static const QStringList d{
        QStringLiteral("\\hiberfil.sys"),
        QStringLiteral("\\pagefile.sys"),
        QStringLiteral("\\swapfile.sys"),
        QStringLiteral("\\$recycle.bin\\"),
        QStringLiteral("\\system volume information\\"),
        QStringLiteral("\\windows\\logs\\"),
        QStringLiteral("\\windows\\csc\\"),
        QStringLiteral("\\windows\\temp\\"),
    };
    return d;
}

ExclusionList &exclusionList()
{
    static ExclusionList list;
    return list;
}

void LoadExclusionList(ExclusionList &list, const QString &)
{
    for (const QString &e : ExclusionList::defaults())
        list.append(e);
}

bool SaveExclusionList(const ExclusionList &, const QString &)
{
    return false;
}
