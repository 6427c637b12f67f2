#include "app/recent_archives.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString kKey = QStringLiteral("RecentArchives/paths");

QString cleanPath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

}  // namespace

RecentArchives::RecentArchives(QSettings *settings) : m_settings(settings)
{
    if (!m_settings)
        return;
    // Written by hand or by another version: keep what is a plain, absolute path.
    for (const QString &path : m_settings->value(kKey).toStringList()) {
        if (m_paths.size() < kMost && QDir::isAbsolutePath(path) && !m_paths.contains(cleanPath(path)))
            m_paths << cleanPath(path);
    }
}

void RecentArchives::add(const QString &path)
{
    if (path.isEmpty())
        return;
    const QString clean = cleanPath(path);
    m_paths.removeAll(clean);
    m_paths.prepend(clean);
    while (m_paths.size() > kMost)
        m_paths.removeLast();
    if (m_settings) {
        m_settings->setValue(kKey, m_paths);
        m_settings->sync();
    }
}
