#pragma once

#include <QStringList>

class QSettings;

// The archives opened last, most recent first, at most kMost of them, kept
// in the per-user configuration when a QSettings is given (else in memory
// only: tests, and a window without the program around it). Nothing here
// fails loudly: an unreadable or odd entry is left out.
class RecentArchives
{
public:
    static constexpr int kMost = 10;

    explicit RecentArchives(QSettings *settings = nullptr);

    QStringList paths() const { return m_paths; }
    // Puts `path` (made absolute and clean) first, dropping an earlier
    // mention of it and whatever falls beyond kMost; saved at once.
    void add(const QString &path);

private:
    QSettings *m_settings;
    QStringList m_paths;
};
