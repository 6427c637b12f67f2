#include "app/main_window_commands.h"

#include "app/ctarnbox_dlg.h"
#include "resources/resource_ids.h"

#include <algorithm>

namespace {

constexpr unsigned kWithRow = 1u << 0;     // pop-up 0
constexpr unsigned kWithoutRow = 1u << 1;  // pop-up 1
constexpr unsigned kNoArchive = 1u << 2;   // pop-up 2

template <void (CTarnboxDlg::*Handler)()>
void call(CTarnboxDlg &window, int, const QString &)
{
    (window.*Handler)();
}

void open(CTarnboxDlg &window, int, const QString &path)
{
    path.isEmpty() ? window.OpenArchive() : window.OpenArchive(path);
}

}  // namespace

const QVector<MainWindowCommand> &mainWindowCommands()
{
    using E = ArchiveEffect;
    static const QVector<MainWindowCommand> table{
        {.id = res::ID_ADD_IMAGE,
         .text = u"添加映像",
         .popups = kWithRow | kWithoutRow,
         .handler = call<&CTarnboxDlg::AddImage>,
         .effect = E::Changes},
        {.id = res::ID_APPLY_IMAGE, .text = u"释放映像", .popups = kWithRow, .handler = call<&CTarnboxDlg::ApplyImage>},
        {.id = res::ID_EDIT_IMAGE,
         .text = u"编辑映像",
         .popups = kWithRow,
         .handler = call<&CTarnboxDlg::EditImage>,
         .effect = E::Changes},
        {.id = res::ID_DELETE_IMAGE,
         .text = u"删除映像",
         .popups = kWithRow,
         .handler = call<&CTarnboxDlg::DeleteImage>,
         .effect = E::Changes},
        {.id = res::ID_EXPORT_IMAGE,
         .text = u"导出映像",
         .popups = kWithRow,
         .handler = call<&CTarnboxDlg::ExportImage>},
        {.id = res::ID_SET_BOOT_IMAGE,
         .text = u"设置为启动映像",
         .popups = kWithRow,
         .handler = call<&CTarnboxDlg::SetBootImage>,
         .effect = E::Changes},
        {.id = res::ID_NEW_FILE,
         .text = u"新建文件",
         .popups = kWithoutRow | kNoArchive,
         .handler = call<&CTarnboxDlg::NewArchive>},
        {.id = res::ID_OPEN_FILE, .text = u"打开文件", .popups = kWithoutRow | kNoArchive, .handler = open},
        {.id = res::ID_SET_WORK_DIR,
         .text = u"设置工作目录",
         .popups = kWithoutRow | kNoArchive,
         .handler = call<&CTarnboxDlg::SetWorkDir>},
        {.id = res::ID_SET_EXCLUSIONS,
         .text = u"设置排除名单",
         .popups = kWithoutRow | kNoArchive,
         .handler = call<&CTarnboxDlg::SetExclusions>},
        {.id = res::ID_BROWSE_IMAGE,
         .text = u"浏览映像文件",
         .popups = kWithRow,
         .group = 1,
         .shortcut = "Ctrl+B",
         .handler = call<&CTarnboxDlg::BrowseImage>},
        {.id = res::ID_SPLIT_FILE,
         .text = u"拆分映像文件",
         .popups = kWithRow | kWithoutRow,
         .group = 2,
         .handler = call<&CTarnboxDlg::SplitFile>},
        {.id = res::ID_VERIFY_FILE,
         .text = u"校验映像文件",
         .popups = kWithRow | kWithoutRow,
         .group = 2,
         .handler = call<&CTarnboxDlg::VerifyFile>},
        {.id = res::ID_OPTIMIZE_FILE,
         .text = u"优化映像文件",
         .popups = kWithRow | kWithoutRow,
         .group = 2,
         .handler = call<&CTarnboxDlg::OptimizeFile>,
         .effect = E::Replaces},
        // A read-write mount holds the archive as a change does.
        {.id = res::ID_MOUNT_IMAGE,
         .text = u"挂载映像…",
         .popups = kWithRow,
         .group = 3,
         .handler = [](CTarnboxDlg &window, int, const QString &) { window.MountImage(false); }},
        {.id = res::ID_MOUNT_IMAGE_RW,
         .text = u"挂载映像（可修改）…",
         .popups = kWithRow,
         .group = 3,
         .handler = [](CTarnboxDlg &window, int, const QString &) { window.MountImage(true); },
         .effect = E::Changes},
        {.id = res::ID_UNMOUNT_IMAGE,
         .text = u"卸载映像",
         .popups = kWithRow,
         .group = 3,
         .handler = call<&CTarnboxDlg::UnmountImage>},
        // Not in menu 129 (the recent archives are added to pop-up 1 as they are).
        {.id = res::kIdOk, .handler = open},
        {.id = res::IDC_WORK_DIR_BUTTON, .handler = call<&CTarnboxDlg::SetWorkDir>},
        {.id = res::ID_REOPEN_LAST,
         .handler = [](CTarnboxDlg &window, int, const QString &) { window.OpenRecentArchive(0); }},
        {.id = res::ID_RECENT_ARCHIVE,
         .span = res::kRecentArchiveCount,
         .handler = [](CTarnboxDlg &window, int command,
                       const QString &) { window.OpenRecentArchive(command - res::ID_RECENT_ARCHIVE); }},
        // The close goes on whatever runs: it asks, and waits.
        {.id = res::kIdCancel, .handler = call<&CTarnboxDlg::CloseApp>, .refusedWhileBusy = false},
    };
    return table;
}

const MainWindowCommand *findMainWindowCommand(int id)
{
    const auto &table = mainWindowCommands();
    const auto it = std::find_if(table.begin(), table.end(),
                                 [id](const MainWindowCommand &c) { return id >= c.id && id < c.id + c.span; });
    return it == table.end() ? nullptr : &*it;
}

const QVector<res::MenuPopup> &mainListMenu()
{
    static const QVector<res::MenuPopup> menu = [] {
        QVector<res::MenuPopup> popups{
            {QStringLiteral("有文件时"), {}}, {QStringLiteral("有文件2"), {}}, {QStringLiteral("无文件时"), {}}};
        for (int p = 0; p < popups.size(); ++p) {
            int group = -1;
            for (const MainWindowCommand &c : mainWindowCommands()) {
                if (!c.text || !(c.popups & (1u << p)))
                    continue;
                if (group >= 0 && c.group != group)
                    popups[p].items.append({QString(), res::kSeparator});
                group = c.group;
                popups[p].items.append({QString::fromUtf16(c.text), c.id, c.shortcut});
            }
        }
        return popups;
    }();
    return menu;
}
