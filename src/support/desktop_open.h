#pragma once

#include <QString>
#include <functional>

// Handing a file to the desktop: its default application for the file's
// type opens it (xdg-open's choice on Linux). Replaceable, so that tests
// see what would have been opened instead of starting a program.
namespace desktop {

// Opens `path` with the desktop's default application; false when none
// could be started. UI thread.
bool openWithDefaultApplication(const QString &path);
// Installs `opener` in place of the desktop's (tests); an empty one restores it.
void setOpener(std::function<bool(const QString &path)> opener);

}  // namespace desktop
