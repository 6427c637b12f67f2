// Every window at its smallest size under the Chinese locale a user's desktop
// runs, with the CJK font fontconfig gives it: each control inside its window,
// clear of its neighbours, its text whole (geometry, not pixels).
#include "app/ctarnbox_dlg.h"
#include "archive/cbrowse_image_dlg.h"
#include "capture_settings/cwim_image_info.h"
#include "capture_settings/cwith_out_path.h"
#include "recording_prompts.h"
#include "support/cerror_show.h"
#include "test_archives.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <clocale>

namespace {

bool g_chineseLocale = false;

QString describe(const QWidget *w)
{
    const auto *label = qobject_cast<const QLabel *>(w);
    const auto *button = qobject_cast<const QAbstractButton *>(w);
    const QString text = label ? label->text() : button ? button->text() : QString();
    return QStringLiteral("%1 %2 \"%3\"").arg(QString::fromLatin1(w->metaObject()->className()), w->objectName(), text);
}

// The controls a user reads: not the parts of a composite control.
QList<QWidget *> controlsOf(QWidget *window)
{
    QList<QWidget *> controls;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(window) || w->isWindow())
            continue;
        const bool inScrollArea = w->parentWidget() && w->parentWidget()->parentWidget()
                                  && qobject_cast<QAbstractScrollArea *>(w->parentWidget()->parentWidget());
        if (inScrollArea && !qobject_cast<QLabel *>(w))
            continue;  // headers, scroll bars, editors of a view
        if (qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w)
            || qobject_cast<QAbstractScrollArea *>(w) || qobject_cast<QProgressBar *>(w))
            controls << w;
    }
    return controls;
}

int widestLine(const QFontMetrics &fm, const QString &text)
{
    int widest = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, fm.horizontalAdvance(line));
    return widest;
}

// What is wrong with `window` as it is laid out now; empty when nothing.
// `columnsFit`: the list's columns also fit its width (a list that may scroll
// sideways, for paths longer than any window, only has its headings whole).
QStringList layoutFaults(QWidget *window, bool columnsFit = true)
{
    QStringList faults;
    const QList<QWidget *> controls = controlsOf(window);
    const int buttonMargin = window->style()->pixelMetric(QStyle::PM_ButtonMargin);
    const int headerMargin = window->style()->pixelMetric(QStyle::PM_HeaderMargin);
    for (QWidget *w : controls) {
        const QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
        const QFontMetrics fm = w->fontMetrics();
        if (!window->rect().contains(r))
            faults << describe(w) + QStringLiteral(" lies outside its window");
        if (const auto *label = qobject_cast<QLabel *>(w); label && !label->text().isEmpty()) {
            const int lines = int(label->text().count(QLatin1Char('\n'))) + 1;
            if (!label->wordWrap() && widestLine(fm, label->text()) > label->contentsRect().width())
                faults << describe(w) + QStringLiteral(" cuts its text");
            if (lines * fm.height() > label->contentsRect().height())
                faults << describe(w) + QStringLiteral(" is lower than its text");
        }
        if (const auto *button = qobject_cast<QPushButton *>(w)) {
            if (fm.horizontalAdvance(button->text()) + 2 * buttonMargin > button->width()
                || fm.height() > button->height())
                faults << describe(w) + QStringLiteral(" cuts its text");
        }
        if (const auto *edit = qobject_cast<QLineEdit *>(w); edit && edit->height() < fm.height() + 2)
            faults << describe(w) + QStringLiteral(" is lower than a line of text");
        if (const auto *view = qobject_cast<QAbstractItemView *>(w)) {
            const auto *table = qobject_cast<const QTableView *>(view);
            const auto *tree = qobject_cast<const QTreeView *>(view);
            QHeaderView *header = table ? table->horizontalHeader() : tree ? tree->header() : nullptr;
            if (header && !header->isHidden()) {
                for (int c = 0; c < header->count(); ++c) {
                    const QString text = view->model()->headerData(c, Qt::Horizontal).toString();
                    if (header->sectionSize(c) < header->fontMetrics().horizontalAdvance(text) + 2 * headerMargin)
                        faults << describe(w) + QStringLiteral(" cuts its column \"%1\"").arg(text);
                }
                if (columnsFit && header->length() > view->viewport()->width())
                    faults << describe(w)
                                  + QStringLiteral(" needs a scroll bar for its columns (%1 > %2)")
                                        .arg(header->length())
                                        .arg(view->viewport()->width());
            }
        }
    }
    // Neighbours neither overlap nor touch the text beside them.
    for (QWidget *a : controls) {
        for (QWidget *b : controls) {
            if (a == b || a->parentWidget() != b->parentWidget())
                continue;
            if (a < b && a->geometry().intersects(b->geometry()) && !a->isAncestorOf(b) && !b->isAncestorOf(a))
                faults << describe(a) + QStringLiteral(" overlaps ") + describe(b);
            const auto *label = qobject_cast<QLabel *>(a);
            const bool sameRow =
                a->geometry().top() < b->geometry().bottom() && b->geometry().top() < a->geometry().bottom();
            if (label && sameRow && !label->text().isEmpty() && (label->alignment() & Qt::AlignLeft)
                && b->x() >= a->x() + a->width() / 2) {
                const int textRight =
                    a->x() + label->contentsRect().left() + widestLine(a->fontMetrics(), label->text());
                if (textRight + 2 > b->x())
                    faults << describe(a) + QStringLiteral(" touches ") + describe(b);
            }
        }
    }
    return faults;
}

void saveShot(QWidget *window, const QString &name)
{
    const QString out = qEnvironmentVariable("PELLWICK_LAYOUT_SHOTS");
    if (!out.isEmpty())
        window->grab().save(out + QLatin1Char('/') + name + QStringLiteral(".png"));
}

}  // namespace

class TestWindowLayouts : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void mainWindow();
    void mainWindowColumnsShareTheWidth();
    void imageInfoDialog_data();
    void imageInfoDialog();
    void exclusionDialog();
    void outputDialog();
    void browseDialog();
};

void TestWindowLayouts::init()
{
    if (!g_chineseLocale)
        QSKIP("the zh_CN.UTF-8 locale is not generated here (scripts/install.sh generates it)");
    // The font the layouts are judged with: a CJK one, as a Chinese desktop has.
    const QString family = QFontInfo(QApplication::font()).family();
    QVERIFY2(QFontMetrics(QApplication::font()).inFontUcs4(0x6620), qPrintable(family));
}

void TestWindowLayouts::mainWindow()
{
    RecordingPrompts prompts;
    CTarnboxDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.size(), dlg.minimumSize());
    QStringList faults = layoutFaults(&dlg);
    saveShot(&dlg, QStringLiteral("layout-main-window"));
    // The progress area too, as it shows while an operation runs.
    for (const char *name : {"IDC_1010", "IDC_1011", "IDC_1023", "IDC_1022"})
        dlg.findChild<QWidget *>(QString::fromLatin1(name))->show();
    dlg.findChild<QLabel *>(QStringLiteral("IDC_1023"))->setText(QStringLiteral("1 小时 59 分钟 59 秒"));
    dlg.findChild<QLabel *>(QStringLiteral("IDC_1022"))->setText(QStringLiteral("100%"));
    dlg.findChild<QLabel *>(QStringLiteral("IDC_1006"))->setText(QStringLiteral("仅读取（12 个分卷）"));
    dlg.findChild<QLabel *>(QStringLiteral("IDC_1003"))->setText(QStringLiteral("最大压缩"));
    faults += layoutFaults(&dlg);
    saveShot(&dlg, QStringLiteral("layout-main-window-busy"));
    faults.removeDuplicates();
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void TestWindowLayouts::mainWindowColumnsShareTheWidth()
{
    RecordingPrompts prompts;
    CTarnboxDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QHeaderView *header = dlg.m_List->horizontalHeader();
    QList<int> smallest;
    for (int c = 0; c < header->count(); ++c)
        smallest << header->sectionSize(c);
    dlg.resize(dlg.width() + 400, dlg.height() + 100);
    QTRY_COMPARE(header->length(), dlg.m_List->viewport()->width());
    for (int c = 0; c < header->count(); ++c)
        QVERIFY2(header->sectionSize(c) > smallest[c], qPrintable(QString::number(c)));
    QVERIFY(!dlg.m_List->horizontalScrollBar()->isVisible());
    saveShot(&dlg, QStringLiteral("layout-main-window-larger"));
}

void TestWindowLayouts::imageInfoDialog_data()
{
    QTest::addColumn<bool>("editMode");
    QTest::newRow("capture") << false;
    QTest::newRow("edit") << true;
}

void TestWindowLayouts::imageInfoDialog()
{
    QFETCH(bool, editMode);
    RecordingPrompts prompts;
    CWIM_Image_Info dialog;
    dialog.m_editMode = editMode;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    if (auto *status = dialog.findChild<QLabel *>(QStringLiteral("IDC_CHECK_STATUS")); status && !editMode) {
        status->show();
        status->setText(QStringLiteral("正在检查……"));
    }
    const QStringList faults = layoutFaults(&dialog);
    saveShot(&dialog, editMode ? QStringLiteral("layout-image-info-edit") : QStringLiteral("layout-image-info"));
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void TestWindowLayouts::exclusionDialog()
{
    RecordingPrompts prompts;
    CWithOutPath dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // Its one column of paths is wider than the list on purpose.
    const QStringList faults = layoutFaults(&dialog, false);
    saveShot(&dialog, QStringLiteral("layout-exclusion-dialog"));
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void TestWindowLayouts::outputDialog()
{
    RecordingPrompts prompts;
    CErrorShow dialog;
    dialog.m_strText = QStringLiteral("[ERROR] 无法读取 \\Windows\\System32\\config\\SOFTWARE：数据错误");
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QStringList faults = layoutFaults(&dialog);
    saveShot(&dialog, QStringLiteral("layout-output-dialog"));
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void TestWindowLayouts::browseDialog()
{
    if (!testarchives::haveTool(QStringLiteral("wimlib-imagex")))
        QSKIP("wimlib-imagex is missing (Debian: wimtools, which scripts/install.sh installs)");
    QTemporaryDir dir;
    testarchives::writeTree(dir.filePath(QStringLiteral("tree")),
                            {{QStringLiteral("Windows/win.ini"), "[fonts]\r\n"}, {QStringLiteral("说明.txt"), "中文"}});
    const QString wim = dir.filePath(QStringLiteral("a.wim"));
    const auto made = testarchives::runTool(
        QStringLiteral("wimlib-imagex"),
        {QStringLiteral("capture"), dir.filePath(QStringLiteral("tree")), wim, QStringLiteral("Windows 10 专业版")});
    QVERIFY2(made.exitCode == 0, qPrintable(made.output));

    RecordingPrompts prompts;
    CTarnboxDlg dlg;
    dlg.show();
    dlg.OpenArchive(wim);
    QCOMPARE(dlg.m_List->rowCount(), 1);
    dlg.SelectAndFocusRow(0);
    dlg.BrowseImage();
    auto *browse = dlg.findChild<CBrowseImageDlg *>();
    QVERIFY(browse);
    QTRY_VERIFY_WITH_TIMEOUT(!browse->IsLoading() && !browse->CurrentFolder().isEmpty(), 20000);
    browse->resize(browse->minimumSize());
    QTest::qWait(50);
    const QStringList faults = layoutFaults(browse);
    saveShot(browse, QStringLiteral("layout-browse-dialog"));
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

int main(int argc, char **argv)
{
    // Before the application object: Qt and fontconfig take the language from it.
    qputenv("LANG", "zh_CN.UTF-8");
    qputenv("LC_ALL", "zh_CN.UTF-8");
    qputenv("LANGUAGE", "zh_CN");
    g_chineseLocale = std::setlocale(LC_ALL, "zh_CN.UTF-8") != nullptr;
    QApplication app(argc, argv);
    TestWindowLayouts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_layouts.moc"
