// The recent archives: the list kept in the per-user configuration, its
// entries in pop-up 1, and opening them again through the window.
#include "app/ctarnbox_dlg.h"
#include "app/main_window_commands.h"
#include "app/recent_archives.h"
#include "imaging/imaging_library.h"
#include "imaging/wim_handle.h"
#include "recording_prompts.h"
#include "resources/menus.h"
#include "resources/resource_ids.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

// An empty archive at `path`, written through the boundary.
bool makeArchive(const QString &path)
{
    WimHandle wim(imaging(), imaging().WIMCreateFile(path, WIM_GENERIC_READ_WRITE, WIM_CREATE_ALWAYS, 0,
                                                     WIM_COMPRESS_LZX, nullptr));
    return wim.close();
}

QStringList numbered(int count)
{
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths << QStringLiteral("/a/%1.wim").arg(i);
    return paths;
}

}  // namespace

class TestRecentArchives : public QObject
{
    Q_OBJECT

private slots:
    void kept_data();
    void kept();
    void menuEntries_data();
    void menuEntries();
    void throughTheWindow();
};

void TestRecentArchives::kept_data()
{
    QTest::addColumn<QStringList>("stored");  // what the configuration held
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("most recent first") << QStringList{}
                                       << QStringList{QStringLiteral("/a.wim"), QStringLiteral("/b.wim")}
                                       << QStringList{QStringLiteral("/b.wim"), QStringLiteral("/a.wim")};
    QTest::newRow("opened again moves up, named another way")
        << QStringList{QStringLiteral("/x/a.wim"), QStringLiteral("/x/b.wim")}
        << QStringList{QStringLiteral("/x/./y/../b.wim")}
        << QStringList{QStringLiteral("/x/b.wim"), QStringLiteral("/x/a.wim")};
    QTest::newRow("ten at most") << numbered(10) << QStringList{QStringLiteral("/new.wim")}
                                 << QStringList{QStringLiteral("/new.wim")} + numbered(9);
    QTest::newRow("odd entries left out")
        << QStringList{QStringLiteral("relative.wim"), QString(), QStringLiteral("/a.wim"), QStringLiteral("/a.wim")}
        << QStringList{} << QStringList{QStringLiteral("/a.wim")};
    QTest::newRow("too many stored") << numbered(14) << QStringList{} << numbered(10);
}

void TestRecentArchives::kept()
{
    QFETCH(QStringList, stored);
    QFETCH(QStringList, opened);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("pellwick.conf"));
    {
        QSettings settings(file, QSettings::IniFormat);
        settings.setValue(QStringLiteral("RecentArchives/paths"), stored);
    }
    {
        QSettings settings(file, QSettings::IniFormat);
        RecentArchives recent(&settings);
        for (const QString &path : opened)
            recent.add(path);
        QCOMPARE(recent.paths(), expected);
    }
    // Read back as the next start reads it.
    QSettings settings(file, QSettings::IniFormat);
    QCOMPARE(RecentArchives(&settings).paths(), expected);
}

void TestRecentArchives::menuEntries_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("gone");
    QTest::addColumn<QStringList>("texts");  // of the items added after the separator
    QTest::newRow("none") << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("numbered, '&' kept") << QStringList{QStringLiteral("/a&b.wim"), QStringLiteral("/c.wim")}
                                        << QStringList{}
                                        << QStringList{QStringLiteral("&1 /a&&b.wim"), QStringLiteral("&2 /c.wim")};
    QTest::newRow("a missing one said") << QStringList{QStringLiteral("/a.wim"), QStringLiteral("/gone.wim")}
                                        << QStringList{QStringLiteral("/gone.wim")}
                                        << QStringList{QStringLiteral("&1 /a.wim"),
                                                       QStringLiteral("&2 /gone.wim（文件已不存在）")};
    QStringList ten;
    for (int i = 1; i <= 9; ++i)
        ten << QStringLiteral("&%1 /a/%2.wim").arg(i).arg(i - 1);
    ten << QStringLiteral("1&0 /a/9.wim");
    QTest::newRow("the tenth") << numbered(10) << QStringList{} << ten;
}

void TestRecentArchives::menuEntries()
{
    QFETCH(QStringList, paths);
    QFETCH(QStringList, gone);
    QFETCH(QStringList, texts);
    const res::MenuPopup base = mainListMenu().at(1);
    const res::MenuPopup popup =
        res::withRecentArchives(base, paths, [&](const QString &path) { return !gone.contains(path); });
    if (texts.isEmpty()) {
        QCOMPARE(popup.items.size(), base.items.size());
        return;
    }
    QCOMPARE(popup.items.size(), base.items.size() + 1 + texts.size());
    QCOMPARE(popup.items.at(base.items.size()).command, res::kSeparator);
    for (int i = 0; i < texts.size(); ++i) {
        const res::MenuItem &item = popup.items.at(base.items.size() + 1 + i);
        QCOMPARE(item.text, texts[i]);
        QCOMPARE(item.command, res::ID_RECENT_ARCHIVE + i);
        QCOMPARE(item.enabled, !gone.contains(paths[i]));
        QCOMPARE(QByteArray(item.shortcut), QByteArray(i == 0 ? "Ctrl+Shift+O" : nullptr));
    }
}

void TestRecentArchives::throughTheWindow()
{
    RecordingPrompts prompts;
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.wim"));
    const QString b = dir.filePath(QStringLiteral("b.wim"));
    const QString gone = dir.filePath(QStringLiteral("gone.wim"));
    QVERIFY(makeArchive(a) && makeArchive(b) && makeArchive(gone));
    QSettings settings(dir.filePath(QStringLiteral("pellwick.conf")), QSettings::IniFormat);
    {
        CTarnboxDlg dlg;
        dlg.UseRecentArchivesFrom(&settings);
        for (const QString &path : {gone, a, b})
            dlg.OpenArchive(path);
        QCOMPARE(dlg.Recent().paths(), (QStringList{b, a, gone}));
    }
    QVERIFY(QFile::remove(gone));

    // The next start: a missing archive costs no message, only a grey entry.
    CTarnboxDlg dlg;
    dlg.UseRecentArchivesFrom(&settings);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.ContextMenuIndex(), 2);  // no archive yet: pop-up 2 has no recent entries
    dlg.OpenArchive(a);
    QCOMPARE(dlg.ContextMenuIndex(), 1);
    std::unique_ptr<QMenu> menu(dlg.CreateContextMenu());
    QVERIFY(menu);
    QList<QAction *> recent;
    for (QAction *action : menu->actions()) {
        const int command = action->data().toInt();
        if (command >= res::ID_RECENT_ARCHIVE && command < res::ID_RECENT_ARCHIVE + res::kRecentArchiveCount)
            recent << action;
    }
    QCOMPARE(recent.size(), 3);
    QCOMPARE(recent[0]->text(), QStringLiteral("&1 ") + a);
    QVERIFY(recent[1]->isEnabled());
    QVERIFY(!recent[2]->isEnabled());
    QVERIFY(recent[2]->text().endsWith(QStringLiteral("（文件已不存在）")));
    recent[1]->trigger();
    QCOMPARE(dlg.m_strFilePath, b);
    QCOMPARE(dlg.Recent().paths().first(), b);

    // The key opens the most recent again: after opening a, it is a.
    dlg.OpenArchive(a);
    dlg.m_strFilePath.clear();
    QTest::keyClick(&dlg, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(dlg.m_strFilePath, a);
    QVERIFY(prompts.messages().isEmpty());
}

QTEST_MAIN(TestRecentArchives)
#include "tst_recent_archives.moc"
