#include "resources/menus.h"

#include "resources/resource_ids.h"

namespace res {

const QVector<MenuPopup> &exclusionMenu()
{
    static const QVector<MenuPopup> m{
        {QStringLiteral("范围内"),
         {{QStringLiteral("添加文件夹"), ID_ADD_FOLDER},
          {QStringLiteral("添加文件"), ID_ADD_FILE},
          {QStringLiteral("删除"), ID_REMOVE_ENTRY}}},
        {QStringLiteral("范围外"),
         {{QStringLiteral("添加文件夹"), ID_ADD_FOLDER}, {QStringLiteral("添加文件"), ID_ADD_FILE}}},
    };
    return m;
}

MenuPopup withRecentArchives(MenuPopup popup, const QStringList &paths,
                             const std::function<bool(const QString &)> &exists)
{
    if (paths.isEmpty())
        return popup;
    popup.items.append({QString(), kSeparator});
    for (int i = 0; i < paths.size() && i < kRecentArchiveCount; ++i) {
        // "&1" .. "&9", then "1&0", as desktop programs number them.
        const QString key = i < 9 ? QStringLiteral("&%1").arg(i + 1) : QStringLiteral("1&0");
        QString text = key + QLatin1Char(' ') + QString(paths[i]).replace(QLatin1Char('&'), QStringLiteral("&&"));
        const bool there = exists(paths[i]);
        if (!there)
            text += QStringLiteral("（文件已不存在）");
        popup.items.append({text, ID_RECENT_ARCHIVE + i, i == 0 ? "Ctrl+Shift+O" : nullptr, there});
    }
    return popup;
}

int mainListPopupIndex(bool archiveOpen, bool rowSelected)
{
    return (archiveOpen ? 0 : 1) + (rowSelected ? 0 : 1);
}

}  // namespace res
