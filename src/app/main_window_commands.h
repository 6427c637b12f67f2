#pragma once

#include "operations/lasting_operation.h"
#include "resources/menus.h"

#include <QString>
#include <QVector>

class CTarnboxDlg;

// One command of the main window. Every command the window answers has one
// row; the menus, OnCommand and the tests read from the table, so that a new
// command is one row (and its handler).
struct MainWindowCommand {
    int id = 0;
    int span = 1;                    // the ids id .. id + span - 1 (the recent archives)
    const char16_t *text = nullptr;  // its item in menu 129; nullptr: none
    unsigned popups = 0;             // bit i: an item of pop-up i
    int group = 0;                   // items of different groups are parted by a separator
    const char *shortcut = nullptr;  // shown beside the text; the window answers the key
    // UI thread. `command` is the id given (within the span); `path` what the
    // command brings (a dropped archive), else "".
    void (*handler)(CTarnboxDlg &window, int command, const QString &path) = nullptr;
    ArchiveEffect effect = ArchiveEffect::None;
    bool refusedWhileBusy = true;  // refused while an operation is claimed or the window closes
};

// Every command, in the order of the menus' items.
const QVector<MainWindowCommand> &mainWindowCommands();
// The row whose ids hold `id`, or nullptr.
const MainWindowCommand *findMainWindowCommand(int id);

// Menu 129, the image list, from the table: 0 archive open with a row, 1
// archive open without a row (or a leftover row), 2 no archive.
const QVector<res::MenuPopup> &mainListMenu();
