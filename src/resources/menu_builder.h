#pragma once

#include "resources/menus.h"

#include <functional>

class QMenu;
class QWidget;

// One pop-up of a menu resource as a QMenu; each item carries its command value
// (QAction::data) and calls `onCommand` with it when chosen.
QMenu *buildPopupMenu(const res::MenuPopup &popup, QWidget *parent, std::function<void(int)> onCommand);
