#include "archive/image_browser.h"

#include "archive/image_path.h"
#include "archive/name_filter.h"

#include <QElapsedTimer>
#include <utility>

FolderListing ImageBrowser::list(const QString &path) const
{
    ImagingLibrary &lib = imaging();
    FolderListing listing;
    listing.path = path;
    listing.ok = lib.WIMListImageFolder(m_image.get(), path, &listing.self, &listing.children);
    if (listing.ok)
        return listing;
    listing.error = lib.LastError();
    if (listing.error.kind != ImagingError::Kind::NotFound)
        return listing;
    const QString spelled = spelledAsInImage(path);
    if (spelled.isEmpty() || spelled == path)
        return listing;
    FolderListing found;
    found.path = spelled;
    found.ok = lib.WIMListImageFolder(m_image.get(), spelled, &found.self, &found.children);
    if (!found.ok)
        return listing;
    return found;
}

QString ImageBrowser::spelledAsInImage(const QString &path) const
{
    QString spelled = QStringLiteral("/");
    const QStringList chain = ImagePathChain(path);
    for (qsizetype i = 1; i < chain.size(); ++i) {
        const QString name = chain[i].mid(chain[i - 1].size() + (i > 1 ? 1 : 0));
        QList<WimDirEntry> children;
        if (!imaging().WIMListImageFolder(m_image.get(), spelled, nullptr, &children))
            return {};
        const WimDirEntry *match = nullptr;
        for (const WimDirEntry &child : children) {
            if (child.name == name) {
                match = &child;
                break;
            }
        }
        for (qsizetype c = 0; !match && c < children.size(); ++c) {
            if (children[c].name.compare(name, Qt::CaseInsensitive) != 0)
                continue;
            for (qsizetype d = c + 1; d < children.size(); ++d) {
                if (children[d].name.compare(name, Qt::CaseInsensitive) == 0)
                    return {};  // two spellings: the user must say which
            }
            match = &children[c];
        }
        if (!match)
            return {};
        spelled = JoinImagePath(spelled, match->name);
    }
    return spelled;
}

bool ImageBrowser::find(const NameFilter &filter, const std::atomic<bool> &stop,
                        const std::function<bool(QList<WimDirEntry> found)> &found, ImagingError *error) const
{
    QList<WimDirEntry> batch;
    QElapsedTimer sinceHanded;
    sinceHanded.start();
    const auto hand = [&] {
        sinceHanded.restart();
        return found(std::exchange(batch, {}));
    };
    const bool walked =
        imaging().WIMVisitImageTree(m_image.get(), QStringLiteral("/"), [&](const WimDirEntryView &view) {
            if (stop.load(std::memory_order_relaxed))
                return false;
            if (view.name.isEmpty() || !filter.matches(view.name))
                return true;
            batch.append(view.toEntry());
            return (batch.size() < 1000 && sinceHanded.elapsed() < 100) || hand();
        });
    if (!walked) {
        *error = imaging().LastError();
        return false;
    }
    return batch.isEmpty() || hand();
}
