#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// Menu resources as data: pop-ups with their (never shown) titles and items.
namespace res {

// An item with the command kSeparator (and no text) is a separator.
struct MenuItem {
    QString text;
    int command;                     // kSeparator: a separator line
    const char *shortcut = nullptr;  // the key the window answers, shown beside the text (QKeySequence form)
    bool enabled = true;
};

constexpr int kSeparator = 0;

struct MenuPopup {
    QString title;
    QVector<MenuItem> items;
};

// Menu 129, the image list, is built from the main window's command table
// (app/main_window_commands.h).
// Menu 132, the exclusion list: 0 with a selected entry, 1 without.
const QVector<MenuPopup> &exclusionMenu();

// Pop-up 1 of menu 129 followed by a separator and the recent archives
// (`paths`, most recent first, each with its number as its key: the command
// ID_RECENT_ARCHIVE + i; the first shows Ctrl+Shift+O, which the window
// answers with ID_REOPEN_LAST); one that `exists` says is gone is greyed,
// with a word saying so. Nothing is added when there are none.
MenuPopup withRecentArchives(MenuPopup popup, const QStringList &paths,
                             const std::function<bool(const QString &)> &exists);

// Index of the pop-up of menu 129 for the window's state.
int mainListPopupIndex(bool archiveOpen, bool rowSelected);

}  // namespace res
