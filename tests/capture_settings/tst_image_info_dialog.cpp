// The image information dialog: capture and edit mode, OK and Cancel, the
// system-drive checks, and the edition detection that runs in the background
// while the dialog stays usable.
#include "app/ctarnbox_dlg.h"
#include "capture_settings/cwim_image_info.h"
#include "capture_settings/edited_text.h"
#include "hive_builder.h"
#include "recording_prompts.h"
#include "support/background_task.h"
#include "support/ui_thread.h"
#include "test_archives.h"
#include "window_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

using testhive::sz;
using Values = QList<testhive::Value>;

Q_DECLARE_METATYPE(testhive::Value)

namespace {

constexpr int kWaitMs = 10000;

QLineEdit *lineEdit(const QWidget *d, const char *name)
{
    return d->findChild<QLineEdit *>(QString::fromLatin1(name));
}

QPlainTextEdit *textEdit(const QWidget *d, const char *name)
{
    return d->findChild<QPlainTextEdit *>(QString::fromLatin1(name));
}

QWidget *control(const QWidget *d, const char *name)
{
    return d->findChild<QWidget *>(QString::fromLatin1(name));
}

bool shown(const QWidget *d, const char *name)
{
    const QWidget *w = control(d, name);
    return w && w->isVisibleTo(const_cast<QWidget *>(d));
}

// The five texts as the controls show them, in data-exchange order.
QStringList shownTexts(const QWidget *d)
{
    return {lineEdit(d, "IDC_DISPLAY_NAME")->text(), textEdit(d, "IDC_DISPLAY_DESCRIPTION")->toPlainText(),
            lineEdit(d, "IDC_IMAGE_NAME")->text(), textEdit(d, "IDC_IMAGE_DESCRIPTION")->toPlainText(),
            lineEdit(d, "IDC_SYSTEM_FLAG")->text()};
}

QStringList memberTexts(const CWIM_Image_Info &d)
{
    return {d.m_displayName, d.m_displayDescription, d.m_imageName, d.m_imageDescription, d.m_systemFlag};
}

void typeInto(QWidget *w, const QString &text)
{
    w->setFocus();
    QTest::keyClicks(w, text);
}

// Stands in for the edition reader: counts and records its calls, can hold
// a detection open until released, and reads the real hive afterwards.
struct ReaderProbe {
    std::atomic<int> calls{0};
    std::atomic<bool> block{false};
    std::atomic<bool> ranOnUiThread{false};
    std::atomic<bool> returned{false};
    QSemaphore started;
    QSemaphore release;
    QMutex mutex;
    QStringList paths;

    std::function<EditionValues(const QString &)> reader()
    {
        return [this](const QString &path) {
            ++calls;
            {
                QMutexLocker lock(&mutex);
                paths << path;
            }
            if (uiThread::isUiThread())
                ranOnUiThread = true;
            started.release();
            if (block)
                release.acquire();
            EditionValues v = DetectEdition(path);
            returned = true;
            return v;
        };
    }
};

}  // namespace

class TestImageInfoDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void captureModeStartsEmpty();
    void editModeHidesCaptureRowAndShowsTexts();
    void fullReadBoxOffByDefaultAndClearOfTheOthers();
    void okReturnsTypedTexts();
    void cancelReturnsNothingChanged_data();
    void cancelReturnsNothingChanged();
    void systemDriveFromPicker_data();
    void systemDriveFromPicker();
    void systemDriveFromPathText();
    void pickerCancelledEmptiesPath();
    void trailingSeparatorRemoved();
    void folderWithoutWindowsStartsNothing();
    void openingStartsNoDetection();
    void detection_data();
    void detection();
    void sameFolderTwiceDetectsOnce();
    void pathTextChangeStartsDetection();
    void statusShownWhileDetecting();
    void cancelWaitsForTheDetection();
    void okDuringDetectionKeepsShownTexts();
    void textTypedDuringDetectionSurvives();
    void dialogGoneBeforeDetectionEnds();
    void untouchedTextsKept_data();
    void untouchedTextsKept();
    void editedTextLineEnds_data();
    void editedTextLineEnds();
    void editOnRealArchiveKeepsUntouchedTexts();

private:
    std::unique_ptr<RecordingPrompts> m_prompts;
    ReaderProbe *m_probe = nullptr;
    QTemporaryDir m_tmp;
    QString windowsTree(const QString &name, const Values &values);
    // A Windows tree whose hive names product "P" and edition "E".
    QString editionTree(const QString &name);
    // Shows the dialog with the probe as its edition reader.
    void open(CWIM_Image_Info &dialog);
    // Browses to `folder` with the reader held open; true once the job runs.
    bool browseHeld(CWIM_Image_Info &dialog, const QString &folder);
};

void TestImageInfoDialog::init()
{
    m_prompts = std::make_unique<RecordingPrompts>();
    m_probe = new ReaderProbe;
}

void TestImageInfoDialog::cleanup()
{
    // Whatever a test left held open ends before the probe goes away.
    m_probe->block = false;
    m_probe->release.release(100);
    QVERIFY(backgroundTasks::waitForAll(kWaitMs));
    delete m_probe;
    m_probe = nullptr;
    m_prompts.reset();
}

QString TestImageInfoDialog::windowsTree(const QString &name, const Values &values)
{
    const QString root = m_tmp.filePath(name);
    if (testhive::makeWindowsTree(root, values).isEmpty())
        return {};
    return root;
}

QString TestImageInfoDialog::editionTree(const QString &name)
{
    return windowsTree(name, {sz(QStringLiteral("ProductName"), QStringLiteral("P")),
                              sz(QStringLiteral("EditionID"), QStringLiteral("E"))});
}

void TestImageInfoDialog::open(CWIM_Image_Info &dialog)
{
    dialog.m_editionReader = m_probe->reader();
    dialog.show();
}

bool TestImageInfoDialog::browseHeld(CWIM_Image_Info &dialog, const QString &folder)
{
    m_probe->block = true;
    m_prompts->answerFolder(folder);
    dialog.OnBrowse();
    return m_probe->started.tryAcquire(1, kWaitMs);
}

void TestImageInfoDialog::captureModeStartsEmpty()
{
    CWIM_Image_Info dialog;
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("映像信息"));
    QCOMPARE(shownTexts(&dialog), QStringList(5));
    QVERIFY(lineEdit(&dialog, "IDC_CAPTURE_PATH")->text().isEmpty());
    QVERIFY(lineEdit(&dialog, "IDC_CAPTURE_PATH")->isReadOnly());
    for (const char *name : {"IDC_CAPTURE_PATH_LABEL", "IDC_CAPTURE_PATH", "IDC_BROWSE_PATH", "IDOK", "IDCANCEL"})
        QVERIFY2(shown(&dialog, name), name);
    QVERIFY(!shown(&dialog, "IDC_CHECK_STATUS"));
    QCOMPARE(dialog.m_systemDrive, QStringLiteral("/"));
}

void TestImageInfoDialog::editModeHidesCaptureRowAndShowsTexts()
{
    CWIM_Image_Info dialog;
    dialog.m_editMode = true;
    dialog.m_displayName = QStringLiteral("显示名");
    dialog.m_displayDescription = QStringLiteral("two\nlines");
    dialog.m_imageName = QStringLiteral("Name");
    dialog.m_imageDescription = QStringLiteral("Description");
    dialog.m_systemFlag = QStringLiteral("Professional");
    dialog.show();
    QCOMPARE(shownTexts(&dialog), memberTexts(dialog));
    for (const char *name : {"IDC_CAPTURE_PATH_LABEL", "IDC_CAPTURE_PATH", "IDC_BROWSE_PATH"})
        QVERIFY2(!shown(&dialog, name), name);
    const QString out = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    if (!out.isEmpty())
        QVERIFY(dialog.grab().save(out + QStringLiteral("/image-info-edit.png")));
    QVERIFY(shown(&dialog, "IDC_DISPLAY_NAME"));

    typeInto(lineEdit(&dialog, "IDC_IMAGE_NAME"), QStringLiteral(" 2"));
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("IDOK")), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.m_imageName, QStringLiteral("Name 2"));
    QCOMPARE(dialog.m_displayDescription, QStringLiteral("two\nlines"));
}

void TestImageInfoDialog::fullReadBoxOffByDefaultAndClearOfTheOthers()
{
    CWIM_Image_Info dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *box = dialog.findChild<QCheckBox *>(QStringLiteral("IDC_FULL_READ"));
    QVERIFY(box && box->isVisible());
    QVERIFY(!box->isChecked());
    QVERIFY(dialog.rect().contains(box->geometry()));
    QVERIFY(box->sizeHint().width() <= box->width());  // its whole text shows
    for (const QWidget *other : dialog.findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (other != box && other->isVisible())
            QVERIFY2(!other->geometry().intersects(box->geometry()), qPrintable(other->objectName()));
    }
    const QString out = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    if (!out.isEmpty())
        QVERIFY(dialog.grab().save(out + QStringLiteral("/image-info-capture.png")));
    box->click();
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("IDOK")), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.m_fullRead);

    CWIM_Image_Info edit;
    edit.m_editMode = true;
    edit.show();
    QVERIFY(!shown(&edit, "IDC_FULL_READ"));
}

void TestImageInfoDialog::okReturnsTypedTexts()
{
    CWIM_Image_Info dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QStringList typed{QStringLiteral("Display"), QStringLiteral("Described"), QStringLiteral("name"),
                            QStringLiteral("desc"), QStringLiteral("Flag")};
    typeInto(lineEdit(&dialog, "IDC_DISPLAY_NAME"), typed[0]);
    typeInto(textEdit(&dialog, "IDC_DISPLAY_DESCRIPTION"), typed[1]);
    typeInto(lineEdit(&dialog, "IDC_IMAGE_NAME"), typed[2]);
    typeInto(textEdit(&dialog, "IDC_IMAGE_DESCRIPTION"), typed[3]);
    typeInto(lineEdit(&dialog, "IDC_SYSTEM_FLAG"), typed[4]);
    QVERIFY(memberTexts(dialog) == QStringList(5));  // nothing read back before OK
    // Enter in a single-line field is OK.
    QTest::keyClick(lineEdit(&dialog, "IDC_SYSTEM_FLAG"), Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(memberTexts(dialog), typed);
    QVERIFY(dialog.m_capturePath.isEmpty());
}

void TestImageInfoDialog::cancelReturnsNothingChanged_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel button") << QStringLiteral("button");
    QTest::newRow("Esc") << QStringLiteral("esc");
    QTest::newRow("close box") << QStringLiteral("close");
}

void TestImageInfoDialog::cancelReturnsNothingChanged()
{
    QFETCH(QString, how);
    CWIM_Image_Info dialog;
    dialog.m_editMode = true;
    dialog.m_displayName = QStringLiteral("before");
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    typeInto(lineEdit(&dialog, "IDC_DISPLAY_NAME"), QStringLiteral(" typed"));
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    auto *cancel = dialog.findChild<QPushButton *>(QStringLiteral("IDCANCEL"));
    if (how == QLatin1String("button"))
        QTest::mouseClick(cancel, Qt::LeftButton);
    else if (how == QLatin1String("esc"))
        QTest::keyClick(lineEdit(&dialog, "IDC_DISPLAY_NAME"), Qt::Key_Escape);
    else
        dialog.close();
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.m_displayName, QStringLiteral("before"));
    QVERIFY(!cancel->isEnabled());
}

void TestImageInfoDialog::systemDriveFromPicker_data()
{
    QTest::addColumn<QString>("picked");
    QTest::newRow("root") << QStringLiteral("/");
    QTest::newRow("root spelled with a dot") << QStringLiteral("/.");
    QTest::newRow("root doubled") << QStringLiteral("//");
}

void TestImageInfoDialog::systemDriveFromPicker()
{
    QFETCH(QString, picked);
    CWIM_Image_Info dialog;
    dialog.m_capturePath = m_tmp.path();
    open(dialog);
    m_prompts->answerFolder(picked);
    dialog.OnBrowse();

    const auto messages = m_prompts->messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).text, QStringLiteral("路径不能是当前系统盘符，请重新选择！"));
    QCOMPARE(messages.at(0).caption, QStringLiteral("错误提示"));
    QCOMPARE(messages.at(0).type & MB_TYPEMASK, MB_OK);
    QVERIFY(dialog.m_capturePath.isEmpty());
    QVERIFY(lineEdit(&dialog, "IDC_CAPTURE_PATH")->text().isEmpty());
    QVERIFY(!dialog.IsDetecting());
    QCOMPARE(m_probe->calls.load(), 0);
    QVERIFY(dialog.isVisible());
}

void TestImageInfoDialog::systemDriveFromPathText()
{
    CWIM_Image_Info dialog;
    open(dialog);
    // A change of the path that is not the dialog's own refresh is checked.
    lineEdit(&dialog, "IDC_CAPTURE_PATH")->setText(QStringLiteral("/"));
    const auto messages = m_prompts->messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).text, QStringLiteral("不允许选择当前系统盘"));
    QCOMPARE(messages.at(0).caption, QStringLiteral("错误提示"));
    QVERIFY(dialog.m_capturePath.isEmpty());
    QVERIFY(lineEdit(&dialog, "IDC_CAPTURE_PATH")->text().isEmpty());
    QCOMPARE(m_probe->calls.load(), 0);
}

void TestImageInfoDialog::pickerCancelledEmptiesPath()
{
    CWIM_Image_Info dialog;
    dialog.m_capturePath = m_tmp.path();
    open(dialog);
    typeInto(lineEdit(&dialog, "IDC_DISPLAY_NAME"), QStringLiteral("kept"));
    dialog.OnBrowse();  // nothing scripted: cancelled
    QVERIFY(dialog.m_capturePath.isEmpty());
    QVERIFY(lineEdit(&dialog, "IDC_CAPTURE_PATH")->text().isEmpty());
    // What was typed before browsing survives its refresh.
    QCOMPARE(lineEdit(&dialog, "IDC_DISPLAY_NAME")->text(), QStringLiteral("kept"));
    QVERIFY(m_prompts->messages().isEmpty());
    QCOMPARE(m_probe->calls.load(), 0);

    const auto calls = m_prompts->calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.at(0).kind, RecordingPrompts::Kind::PickFolder);
    QCOMPARE(calls.at(0).text, QStringLiteral("选择目录"));
    QCOMPARE(calls.at(0).owner, &dialog);
}

void TestImageInfoDialog::trailingSeparatorRemoved()
{
    QVERIFY(QDir().mkpath(m_tmp.filePath(QStringLiteral("plain"))));
    CWIM_Image_Info dialog;
    open(dialog);
    m_prompts->answerFolder(m_tmp.filePath(QStringLiteral("plain/")));
    dialog.OnBrowse();
    QCOMPARE(dialog.m_capturePath, m_tmp.filePath(QStringLiteral("plain")));
    QCOMPARE(lineEdit(&dialog, "IDC_CAPTURE_PATH")->text(), m_tmp.filePath(QStringLiteral("plain")));
}

void TestImageInfoDialog::folderWithoutWindowsStartsNothing()
{
    QVERIFY(QDir().mkpath(m_tmp.filePath(QStringLiteral("data/Windows.old"))));
    CWIM_Image_Info dialog;
    open(dialog);
    typeInto(lineEdit(&dialog, "IDC_IMAGE_NAME"), QStringLiteral("typed"));
    m_prompts->answerFolder(m_tmp.filePath(QStringLiteral("data")));
    dialog.OnBrowse();
    QCOMPARE(dialog.m_capturePath, m_tmp.filePath(QStringLiteral("data")));
    QVERIFY(!dialog.IsDetecting());
    QVERIFY(!shown(&dialog, "IDC_CHECK_STATUS"));
    QVERIFY(control(&dialog, "IDC_BROWSE_PATH")->isEnabled());
    QCOMPARE(m_probe->calls.load(), 0);
    QCOMPARE(lineEdit(&dialog, "IDC_IMAGE_NAME")->text(), QStringLiteral("typed"));
}

void TestImageInfoDialog::openingStartsNoDetection()
{
    const QString tree = windowsTree(QStringLiteral("preset"), {sz(QStringLiteral("ProductName"), QStringLiteral("X")),
                                                                sz(QStringLiteral("EditionID"), QStringLiteral("Y"))});
    QVERIFY(!tree.isEmpty());
    CWIM_Image_Info dialog;
    dialog.m_capturePath = tree;
    open(dialog);
    QCOMPARE(lineEdit(&dialog, "IDC_CAPTURE_PATH")->text(), tree);
    QVERIFY(!dialog.IsDetecting());
    QCOMPARE(m_probe->calls.load(), 0);
}

void TestImageInfoDialog::detection_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<QString>("hive");  // "made", "none", "truncated", "random"
    QTest::addColumn<QStringList>("expected");

    const QString pro = QStringLiteral("Windows 10 Pro");
    const QStringList typed{QStringLiteral("d"), QStringLiteral("dd"), QStringLiteral("n"), QStringLiteral("nd"),
                            QStringLiteral("f")};
    const Values both{sz(QStringLiteral("ProductName"), pro),
                      sz(QStringLiteral("EditionID"), QStringLiteral("Professional")),
                      sz(QStringLiteral("CurrentBuildNumber"), QStringLiteral("19045"))};
    QTest::newRow("both values") << both << QStringLiteral("made")
                                 << QStringList{pro, pro, pro, pro, QStringLiteral("Professional")};
    QTest::newRow("Windows 11 build") << Values{sz(QStringLiteral("ProductName"), pro),
                                                sz(QStringLiteral("EditionID"), QStringLiteral("Core")),
                                                sz(QStringLiteral("CurrentBuildNumber"), QStringLiteral("22631"))}
                                      << QStringLiteral("made")
                                      << QStringList{QStringLiteral("Windows 11 Pro"), QStringLiteral("Windows 11 Pro"),
                                                     QStringLiteral("Windows 11 Pro"), QStringLiteral("Windows 11 Pro"),
                                                     QStringLiteral("Core")};
    QTest::newRow("product name only") << Values{sz(QStringLiteral("ProductName"), pro)} << QStringLiteral("made")
                                       << QStringList{typed[0], typed[1], typed[2], pro, typed[4]};
    QTest::newRow("edition only") << Values{sz(QStringLiteral("EditionID"), QStringLiteral("Professional"))}
                                  << QStringLiteral("made") << typed;
    QTest::newRow("Windows folder without a hive") << Values{} << QStringLiteral("none") << typed;
    QTest::newRow("truncated hive") << both << QStringLiteral("truncated") << typed;
    QTest::newRow("random bytes") << both << QStringLiteral("random") << typed;
}

void TestImageInfoDialog::detection()
{
    QFETCH(Values, values);
    QFETCH(QString, hive);
    QFETCH(QStringList, expected);

    const QString root =
        m_tmp.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')));
    if (hive == QLatin1String("none")) {
        QVERIFY(QDir().mkpath(root + QStringLiteral("/Windows/System32")));
    } else {
        const QString file = testhive::makeWindowsTree(root, values);
        QVERIFY(!file.isEmpty());
        QFile f(file);
        if (hive == QLatin1String("truncated")) {
            QVERIFY(f.resize(5000));
        } else if (hive == QLatin1String("random")) {
            QVERIFY(f.open(QIODevice::ReadWrite));
            QByteArray bytes = f.readAll();
            quint32 x = 12345;
            for (char &c : bytes) {
                x = x * 1103515245u + 12345u;
                c = char(x >> 24);
            }
            QVERIFY(f.seek(0));
            QCOMPARE(f.write(bytes), bytes.size());
            f.close();
        }
    }

    CWIM_Image_Info dialog;
    open(dialog);
    const QStringList typed{QStringLiteral("d"), QStringLiteral("dd"), QStringLiteral("n"), QStringLiteral("nd"),
                            QStringLiteral("f")};
    typeInto(lineEdit(&dialog, "IDC_DISPLAY_NAME"), typed[0]);
    typeInto(textEdit(&dialog, "IDC_DISPLAY_DESCRIPTION"), typed[1]);
    typeInto(lineEdit(&dialog, "IDC_IMAGE_NAME"), typed[2]);
    typeInto(textEdit(&dialog, "IDC_IMAGE_DESCRIPTION"), typed[3]);
    typeInto(lineEdit(&dialog, "IDC_SYSTEM_FLAG"), typed[4]);

    m_prompts->answerFolder(root);
    dialog.OnBrowse();
    QVERIFY(dialog.IsDetecting());
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.IsDetecting(), kWaitMs);

    QCOMPARE(m_probe->calls.load(), 1);
    QVERIFY(!m_probe->ranOnUiThread);
    QCOMPARE(shownTexts(&dialog), expected);
    QCOMPARE(lineEdit(&dialog, "IDC_CAPTURE_PATH")->text(), root);
    QVERIFY(!shown(&dialog, "IDC_CHECK_STATUS"));
    QVERIFY(control(&dialog, "IDC_BROWSE_PATH")->isEnabled());
    QVERIFY(m_prompts->messages().isEmpty());

    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("IDOK")), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(memberTexts(dialog), expected);
    QCOMPARE(dialog.m_capturePath, root);
}

void TestImageInfoDialog::sameFolderTwiceDetectsOnce()
{
    const QString tree = editionTree(QStringLiteral("twice"));
    QVERIFY(!tree.isEmpty());
    CWIM_Image_Info dialog;
    open(dialog);
    m_prompts->answerFolder(tree);
    m_prompts->answerFolder(tree + QLatin1Char('/'));
    dialog.OnBrowse();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.IsDetecting(), kWaitMs);
    typeInto(lineEdit(&dialog, "IDC_SYSTEM_FLAG"), QStringLiteral("2"));
    dialog.OnBrowse();
    QVERIFY(!dialog.IsDetecting());
    QCOMPARE(m_probe->calls.load(), 1);
    QCOMPARE(lineEdit(&dialog, "IDC_SYSTEM_FLAG")->text(), QStringLiteral("E2"));
}

void TestImageInfoDialog::pathTextChangeStartsDetection()
{
    const QString tree = editionTree(QStringLiteral("typed path"));
    QVERIFY(!tree.isEmpty());
    CWIM_Image_Info dialog;
    open(dialog);
    lineEdit(&dialog, "IDC_CAPTURE_PATH")->setText(tree);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.IsDetecting(), kWaitMs);
    QCOMPARE(m_probe->calls.load(), 1);
    QCOMPARE(m_probe->paths, QStringList{tree});
    QCOMPARE(dialog.m_capturePath, tree);
    QCOMPARE(shownTexts(&dialog), (QStringList{QStringLiteral("P"), QStringLiteral("P"), QStringLiteral("P"),
                                               QStringLiteral("P"), QStringLiteral("E")}));
}

void TestImageInfoDialog::statusShownWhileDetecting()
{
    const QString tree = editionTree(QStringLiteral("status"));
    QVERIFY(!tree.isEmpty());
    CWIM_Image_Info dialog;
    open(dialog);
    QVERIFY(browseHeld(dialog, tree));

    auto *status = qobject_cast<QLabel *>(control(&dialog, "IDC_CHECK_STATUS"));
    QVERIFY(status->isVisible());
    QCOMPARE(status->text(), QStringLiteral("正在检查……"));
    QVERIFY(!control(&dialog, "IDC_BROWSE_PATH")->isEnabled());
    // The dialog stays usable: typing goes on while the job is held.
    typeInto(lineEdit(&dialog, "IDC_DISPLAY_NAME"), QStringLiteral("x"));
    QCOMPARE(lineEdit(&dialog, "IDC_DISPLAY_NAME")->text(), QStringLiteral("x"));
    const QString out = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    if (!out.isEmpty())
        QVERIFY(dialog.grab().save(out + QStringLiteral("/image-info-detecting.png")));
    // A second browse while detecting starts nothing.
    dialog.OnBrowse();
    QCOMPARE(m_probe->calls.load(), 1);

    m_probe->release.release();
    QTRY_VERIFY_WITH_TIMEOUT(!status->isVisible(), kWaitMs);
    QVERIFY(control(&dialog, "IDC_BROWSE_PATH")->isEnabled());
    QVERIFY(!dialog.IsDetecting());
}

void TestImageInfoDialog::cancelWaitsForTheDetection()
{
    const QString tree = editionTree(QStringLiteral("cancel"));
    QVERIFY(!tree.isEmpty());
    CWIM_Image_Info dialog;
    open(dialog);
    QVERIFY(browseHeld(dialog, tree));

    QSignalSpy finished(&dialog, &QDialog::finished);
    bool detectionOverAtClose = false;
    connect(&dialog, &QDialog::finished, this,
            [&] { detectionOverAtClose = m_probe->returned && !dialog.IsDetecting(); });
    auto *cancel = dialog.findChild<QPushButton *>(QStringLiteral("IDCANCEL"));
    QTest::mouseClick(cancel, Qt::LeftButton);
    // Cancel returned at once: the UI thread is free while the job is held.
    QVERIFY(!cancel->isEnabled());
    QVERIFY(dialog.isVisible());
    QCOMPARE(finished.count(), 0);
    // Esc and the close box while waiting do not close either.
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.close();
    QCoreApplication::processEvents();
    QVERIFY(dialog.isVisible());
    QCOMPARE(finished.count(), 0);

    m_probe->release.release();
    QVERIFY(finished.wait(kWaitMs) || finished.count() == 1);
    QCOMPARE(finished.count(), 1);
    QVERIFY(detectionOverAtClose);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
    QVERIFY(!cancel->isEnabled());
    QVERIFY(!shown(&dialog, "IDC_CHECK_STATUS"));
}

void TestImageInfoDialog::okDuringDetectionKeepsShownTexts()
{
    const QString tree = editionTree(QStringLiteral("ok"));
    QVERIFY(!tree.isEmpty());
    CWIM_Image_Info dialog;
    open(dialog);
    QVERIFY(browseHeld(dialog, tree));

    typeInto(lineEdit(&dialog, "IDC_DISPLAY_NAME"), QStringLiteral("mine"));
    QSignalSpy finished(&dialog, &QDialog::finished);
    auto *ok = dialog.findChild<QPushButton *>(QStringLiteral("IDOK"));
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(!ok->isEnabled());
    QVERIFY(dialog.isVisible());
    // Typing after OK cannot change what OK took.
    typeInto(lineEdit(&dialog, "IDC_DISPLAY_NAME"), QStringLiteral("more"));
    QCOMPARE(lineEdit(&dialog, "IDC_DISPLAY_NAME")->text(), QStringLiteral("mine"));

    m_probe->release.release();
    QVERIFY(finished.wait(kWaitMs) || finished.count() == 1);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    // The texts shown at OK, not the job's later result.
    QCOMPARE(memberTexts(dialog), (QStringList{QStringLiteral("mine"), {}, {}, {}, {}}));
    QCOMPARE(dialog.m_capturePath, tree);
}

void TestImageInfoDialog::textTypedDuringDetectionSurvives()
{
    const QString tree =
        windowsTree(QStringLiteral("typing"), {sz(QStringLiteral("ProductName"), QStringLiteral("P"))});
    QVERIFY(!tree.isEmpty());
    CWIM_Image_Info dialog;
    open(dialog);
    QVERIFY(browseHeld(dialog, tree));
    typeInto(lineEdit(&dialog, "IDC_DISPLAY_NAME"), QStringLiteral("typed meanwhile"));
    typeInto(textEdit(&dialog, "IDC_IMAGE_DESCRIPTION"), QStringLiteral("replaced"));
    m_probe->release.release();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.IsDetecting(), kWaitMs);
    // The product name fills the description only; the rest keeps what was typed.
    QCOMPARE(shownTexts(&dialog), (QStringList{QStringLiteral("typed meanwhile"), {}, {}, QStringLiteral("P"), {}}));
}

void TestImageInfoDialog::dialogGoneBeforeDetectionEnds()
{
    const QString tree = editionTree(QStringLiteral("gone"));
    QVERIFY(!tree.isEmpty());
    auto *dialog = new CWIM_Image_Info;
    open(*dialog);
    QVERIFY(browseHeld(*dialog, tree));
    delete dialog;
    m_probe->release.release();
    // The job ends without reaching the destroyed dialog (a sanitizer build
    // would report any access).
    QVERIFY(backgroundTasks::waitForAll(kWaitMs));
    QVERIFY(m_probe->returned);
}

void TestImageInfoDialog::untouchedTextsKept_data()
{
    QTest::addColumn<QString>("box");        // the box typed into ("" for none)
    QTest::addColumn<QStringList>("given");  // members before, in data-exchange order
    QTest::addColumn<QStringList>("after");  // members after OK
    // What the boxes cannot give back as they were given.
    const QString longName = QString(40000, QLatin1Char('n')) + QChar(QChar::Nbsp);
    const QStringList given{longName, QStringLiteral("a\r\nb\rc\u2028d\u00a0e"), QStringLiteral("名\u00a0称"),
                            QStringLiteral("x\r\ny\r\n"), QStringLiteral("Pro\u00a0")};
    QTest::newRow("nothing typed") << QString() << given << given;
    QStringList after = given;
    after[0] += QLatin1Char('!');
    QTest::newRow("long display name typed") << QStringLiteral("IDC_DISPLAY_NAME") << given << after;
    after = given;
    after[1] = QStringLiteral("a\nb\nc\u2028d\u00a0e!");  // mixed line ends become LF
    QTest::newRow("display description typed") << QStringLiteral("IDC_DISPLAY_DESCRIPTION") << given << after;
    after = given;
    after[3] = QStringLiteral("x\r\ny\r\n!");  // CR LF throughout stays CR LF
    QTest::newRow("image description typed") << QStringLiteral("IDC_IMAGE_DESCRIPTION") << given << after;
}

void TestImageInfoDialog::untouchedTextsKept()
{
    QFETCH(QString, box);
    QFETCH(QStringList, given);
    QFETCH(QStringList, after);
    CWIM_Image_Info dialog;
    dialog.m_editMode = true;
    dialog.m_displayName = given[0];
    dialog.m_displayDescription = given[1];
    dialog.m_imageName = given[2];
    dialog.m_imageDescription = given[3];
    dialog.m_systemFlag = given[4];
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // Shown whole: a line edit cuts at 32,767 characters by default.
    QCOMPARE(lineEdit(&dialog, "IDC_DISPLAY_NAME")->text().size(), given[0].size());
    if (!box.isEmpty()) {
        QWidget *w = control(&dialog, box.toLatin1().constData());
        QVERIFY(w);
        w->setFocus();
        QTest::keyClick(w, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(w, Qt::Key_End);
        QTest::keyClicks(w, QStringLiteral("!"));
    }
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("IDOK")), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(memberTexts(dialog), after);
}

void TestImageInfoDialog::editedTextLineEnds_data()
{
    QTest::addColumn<QString>("raw");  // a document's raw text: paragraphs end in U+2029
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("text");
    const QString p(QChar(QChar::ParagraphSeparator));
    QTest::newRow("CR LF before") << QStringLiteral("a") + p + QStringLiteral("b") << QStringLiteral("x\r\ny")
                                  << QStringLiteral("a\r\nb");
    QTest::newRow("LF before") << QStringLiteral("a") + p + QStringLiteral("b") << QStringLiteral("x\ny")
                               << QStringLiteral("a\nb");
    QTest::newRow("no line end before") << QStringLiteral("a") + p << QStringLiteral("x") << QStringLiteral("a\n");
    QTest::newRow("lone CR before") << p << QStringLiteral("x\r\ny\rz") << QStringLiteral("\n");
    QTest::newRow("no-break space and line separator kept")
        << QStringLiteral("a\u00a0b\u2028c") << QString() << QStringLiteral("a\u00a0b\u2028c");
}

void TestImageInfoDialog::editedTextLineEnds()
{
    QFETCH(QString, raw);
    QFETCH(QString, before);
    QFETCH(QString, text);
    QCOMPARE(textFromEditor(raw, before), text);
}

namespace {

// The value that `wimlib-imagex info` prints for `label`, up to the line of
// `nextLabel`; every character as wimlib holds it.
QString infoValue(const QString &raw, const QString &label, const QString &nextLabel)
{
    const qsizetype at = raw.indexOf(QLatin1Char('\n') + label + QLatin1Char(':'));
    const qsizetype next = raw.indexOf(QLatin1Char('\n') + nextLabel + QLatin1Char(':'), at + 1);
    if (at < 0 || next < 0)
        return QStringLiteral("<missing>");
    qsizetype begin = at + label.size() + 2;
    while (begin < next && raw.at(begin) == QLatin1Char(' '))
        ++begin;
    return raw.mid(begin, next - begin);
}

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return f.open(QIODevice::ReadOnly) && hash.addData(&f) ? hash.result() : QByteArray();
}

}  // namespace

void TestImageInfoDialog::editOnRealArchiveKeepsUntouchedTexts()
{
    if (!testarchives::haveTool(QStringLiteral("wimlib-imagex")))
        QSKIP("wimlib-imagex (package wimtools, installed by scripts/install.sh) is needed to make the archive");
    QTemporaryDir dir;
    const QString wim = dir.filePath(QStringLiteral("texts.wim"));
    testarchives::writeTree(dir.filePath(QStringLiteral("tree")), {{QStringLiteral("f.txt"), "text"}});
    const QString description = QStringLiteral("Line one\r\nline\u00a0two\rthree");
    const QString displayDescription = QStringLiteral("显示\r\n说明\u00a0x\u2028y");
    const auto made = testarchives::runTool(QStringLiteral("wimlib-imagex"),
                                            {QStringLiteral("capture"), dir.filePath(QStringLiteral("tree")), wim,
                                             QStringLiteral("Name"), description, QStringLiteral("--image-property"),
                                             QStringLiteral("DISPLAYNAME=old"), QStringLiteral("--image-property"),
                                             QStringLiteral("DISPLAYDESCRIPTION=") + displayDescription});
    QVERIFY2(made.exitCode == 0, qPrintable(made.output));

    CTarnboxDlg window;
    m_prompts->answerOpenFile(wim);
    window.OpenArchive();
    QVERIFY2(m_prompts->messages().isEmpty(), qPrintable(m_prompts->messageTexts().join(QLatin1Char('\n'))));
    window.SelectAndFocusRow(0);

    // OK with nothing typed leaves the archive as it was, byte for byte.
    const QByteArray before = fileHash(wim);
    m_prompts->onDialog([](QDialog &d) {
        d.show();
        QTest::mouseClick(d.findChild<QPushButton *>(QStringLiteral("IDOK")), Qt::LeftButton);
        return d.result();
    });
    window.EditImage();
    QVERIFY(m_prompts->messages().isEmpty());
    QCOMPARE(fileHash(wim), before);

    // Only the display name typed: the descriptions stay as they were.
    m_prompts->onDialog([](QDialog &d) {
        d.show();
        QLineEdit *name = lineEdit(&d, "IDC_DISPLAY_NAME");
        name->setFocus();
        name->selectAll();
        // One key event carrying the whole text, as an input method sends it.
        QTest::sendKeyEvent(QTest::Click, name, Qt::Key_unknown, QStringLiteral("新名称"), Qt::NoModifier);
        QTest::mouseClick(d.findChild<QPushButton *>(QStringLiteral("IDOK")), Qt::LeftButton);
        return d.result();
    });
    window.EditImage();
    QVERIFY2(m_prompts->messages().isEmpty(), qPrintable(m_prompts->messageTexts().join(QLatin1Char('\n'))));
    windowview::closeArchive(window);

    const QString raw = testarchives::wimInfo(wim).raw;
    QCOMPARE(infoValue(raw, QStringLiteral("Display Name"), QStringLiteral("Display Description")),
             QStringLiteral("新名称"));
    QCOMPARE(infoValue(raw, QStringLiteral("Description"), QStringLiteral("Display Name")), description);
    QCOMPARE(infoValue(raw, QStringLiteral("Display Description"), QStringLiteral("Directory Count")),
             displayDescription);
}

QTEST_MAIN(TestImageInfoDialog)
#include "tst_image_info_dialog.moc"
