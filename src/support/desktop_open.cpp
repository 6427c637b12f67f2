#include "support/desktop_open.h"

#include <QDesktopServices>
#include <QUrl>

namespace desktop {
namespace {

std::function<bool(const QString &)> &installed()
{
    static std::function<bool(const QString &)> opener;
    return opener;
}

}  // namespace

bool openWithDefaultApplication(const QString &path)
{
    if (installed())
        return installed()(path);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void setOpener(std::function<bool(const QString &path)> opener)
{
    installed() = std::move(opener);
}

}  // namespace desktop
