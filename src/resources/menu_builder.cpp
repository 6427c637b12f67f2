#include "resources/menu_builder.h"

#include "resources/resource_ids.h"

#include <QKeySequence>
#include <QMenu>

QMenu *buildPopupMenu(const res::MenuPopup &popup, QWidget *parent, std::function<void(int)> onCommand)
{
    auto *menu = new QMenu(popup.title, parent);
    menu->setObjectName(QStringLiteral("popup:") + popup.title);
    for (const auto &item : popup.items) {
        if (item.command == res::kSeparator) {
            menu->addSeparator();
            continue;
        }
        QAction *action = menu->addAction(item.text);
        action->setData(item.command);
        if (item.shortcut) {
            // Shown only: the window itself answers the key, with or without the menu.
            action->setShortcut(QKeySequence(QString::fromLatin1(item.shortcut)));
            action->setShortcutContext(Qt::WidgetShortcut);
            action->setShortcutVisibleInContextMenu(true);
        }
        const int command = item.command;
        QObject::connect(action, &QAction::triggered, menu, [onCommand, command] { onCommand(command); });
    }
    return menu;
}
