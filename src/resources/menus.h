#pragma once

#include <QString>
#include <QVector>

// Menu resources as data: pop-ups with their (never shown) titles and items.
namespace res {

// An item with the command kSeparator (and no text) is a separator.
struct MenuItem {
    QString text;
    int command;  // kSeparator: a separator line
    const char *shortcut = nullptr;  // the key the window answers, shown beside the text (QKeySequence form)
};

constexpr int kSeparator = 0;

struct MenuPopup {
    QString title;
    QVector<MenuItem> items;
};

// Menu 129, the image list: 0 archive open with a row, 1 archive open without a
// row (or a leftover row), 2 no archive.
const QVector<MenuPopup> &mainListMenu();
// Menu 132, the exclusion list: 0 with a selected entry, 1 without.
const QVector<MenuPopup> &exclusionMenu();

// Index of the pop-up of menu 129 for the window's state.
int mainListPopupIndex(bool archiveOpen, bool rowSelected);

}  // namespace res
