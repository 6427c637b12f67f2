#include "resources/menus.h"

#include "resources/resource_ids.h"

namespace res {

const QVector<MenuPopup> &mainListMenu()
{
    static const QVector<MenuPopup> m{
        {QStringLiteral("有文件时"),
         {{QStringLiteral("添加映像"), ID_ADD_IMAGE},
          {QStringLiteral("释放映像"), ID_APPLY_IMAGE},
          {QStringLiteral("编辑映像"), ID_EDIT_IMAGE},
          {QStringLiteral("删除映像"), ID_DELETE_IMAGE},
          {QStringLiteral("导出映像"), ID_EXPORT_IMAGE},
          {QStringLiteral("设置为启动映像"), ID_SET_BOOT_IMAGE},
          {QString(), kSeparator},
          {QStringLiteral("浏览映像文件"), ID_BROWSE_IMAGE, "Ctrl+B"},
          {QString(), kSeparator},
          {QStringLiteral("拆分映像文件"), ID_SPLIT_FILE},
          {QStringLiteral("校验映像文件"), ID_VERIFY_FILE},
          {QStringLiteral("优化映像文件"), ID_OPTIMIZE_FILE}}},
        {QStringLiteral("有文件2"),
         {{QStringLiteral("添加映像"), ID_ADD_IMAGE},
          {QStringLiteral("新建文件"), ID_NEW_FILE},
          {QStringLiteral("打开文件"), ID_OPEN_FILE},
          {QStringLiteral("设置工作目录"), ID_SET_WORK_DIR},
          {QStringLiteral("设置排除名单"), ID_SET_EXCLUSIONS},
          {QString(), kSeparator},
          {QStringLiteral("拆分映像文件"), ID_SPLIT_FILE},
          {QStringLiteral("校验映像文件"), ID_VERIFY_FILE},
          {QStringLiteral("优化映像文件"), ID_OPTIMIZE_FILE}}},
        {QStringLiteral("无文件时"),
         {{QStringLiteral("新建文件"), ID_NEW_FILE},
          {QStringLiteral("打开文件"), ID_OPEN_FILE},
          {QStringLiteral("设置工作目录"), ID_SET_WORK_DIR},
          {QStringLiteral("设置排除名单"), ID_SET_EXCLUSIONS}}},
    };
    return m;
}

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
