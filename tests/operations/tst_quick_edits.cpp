// Deleting images, marking the boot image and editing texts in the main
// window, on real archives made by wimlib-imagex; every change is checked
// again with wimlib-imagex and by opening the archive anew.
#include "app/ctarnbox_dlg.h"
#include "archive/metadata_xml.h"
#include "capture_settings/cwim_image_info.h"
#include "fault_injecting_imaging.h"
#include "imaging/archive_file_lock.h"
#include "imaging/wimlib_backend.h"
#include "ops_fixture.h"
#include "recording_prompts.h"
#include "resources/resource_ids.h"
#include "test_archives.h"

#include <QApplication>
#include <QLabel>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace opsfixture;
using Fault = FaultInjectingImaging::Call;
using Kind = RecordingPrompts::Kind;

namespace {

constexpr int kNameColumn = 2;
constexpr int kBootColumn = 6;

QString labelText(const QWidget &w, const char *name)
{
    auto *label = w.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<missing>");
}

// The five texts a test types into the edit dialog.
struct Texts {
    QString displayName, displayDescription, name, description, flags;
};

QString cutAtNul(QString xml)
{
    const qsizetype nul = xml.indexOf(QChar(0));
    return nul < 0 ? xml : xml.left(nul);
}

// "Display Name:" and the other fields wimlib-imagex prints per image.
QStringList infoField(const QString &raw, const QString &field)
{
    QStringList out;
    for (const QString &line : raw.split(QLatin1Char('\n'))) {
        if (line.startsWith(field + QLatin1Char(':')))
            out << line.mid(field.size() + 1).trimmed();
    }
    return out;
}

// The messages that told something, without a delete's question.
QList<RecordingPrompts::Call> toldNotAsked(const RecordingPrompts &prompts)
{
    QList<RecordingPrompts::Call> told = prompts.messages();
    told.removeIf([](const RecordingPrompts::Call &c) { return (c.type & MB_TYPEMASK) == MB_YESNO; });
    return told;
}

}  // namespace

class TestQuickEdits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void deleteRows_data();
    void deleteRows();
    void deleteOnlyImage();
    void refusals_data();
    void refusals();
    void setBoot_data();
    void setBoot();
    void editOnlyDisplayName();
    void editNothingWritesOnce();
    void editAllTexts();
    void editRefusedShowsArchiveTexts_data();
    void editRefusedShowsArchiveTexts();
    void editCancelled();
    void editDroppedWhileBusy();
    void editStopsOnUnclosedValue();
    void doubleClick();
    void changedByAnotherProgram_data();
    void changedByAnotherProgram();
    void idleWindowFollowsTheArchive();
    void lockedByAnotherProgram();

private:
    // An archive of `images` images named a, b, c, ... with `boot` (1-based,
    // 0 none) as boot image, opened in a new window.
    void setUp(int images, int boot, bool readOnly = false);
    // Answers the next edit dialog with these texts (OK), noting what it was given.
    void answerEdit(const Texts &texts);
    // The rows of a fresh window on the same archive.
    QStringList reopenedRows();

    std::unique_ptr<QTemporaryDir> m_dir;
    WindowOrHost m_on;  // the window only
    QString m_wim;
    Texts m_given;
    bool m_givenEditMode = false;
};

#define SET_UP(...)                                                                                                    \
    setUp(__VA_ARGS__);                                                                                                \
    if (QTest::currentTestFailed())                                                                                    \
        return;

void TestQuickEdits::initTestCase()
{
    QVERIFY2(testarchives::haveTool(QStringLiteral("wimlib-imagex")),
             "wimlib-imagex (package wimtools, installed by scripts/install.sh) is needed to make test archives");
}

void TestQuickEdits::setUp(int images, int boot, bool readOnly)
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QList<QString> trees;
    QStringList names;
    for (int i = 0; i < images; ++i) {
        const QString tree = m_dir->filePath(QStringLiteral("tree%1").arg(i));
        testarchives::writeTree(tree, {{QStringLiteral("f.txt"), QByteArray::number(i)}});
        trees << tree;
        names << QString(QChar(u'a' + i));
    }
    m_wim = m_dir->filePath(QStringLiteral("edits.wim"));
    QString why;
    QVERIFY2(makeArchive(m_wim, trees, names, &why), qPrintable(why));
    if (boot > 0)
        QVERIFY2(wimlib({QStringLiteral("info"), m_wim, QString::number(boot), QStringLiteral("--boot")}, &why),
                 qPrintable(why));

    QVERIFY(m_on.openWindow(m_wim, images, readOnly));
    QCOMPARE(m_on.dlg->m_nAccess, qint16(readOnly ? 1 : 2));
    QCOMPARE(m_on.dlg->m_Images.bootRow, boot - 1);
}

void TestQuickEdits::cleanup()
{
    const QString handles = m_on.finish();
    m_dir.reset();
    QVERIFY2(handles.isEmpty(), qPrintable(handles));
}

void TestQuickEdits::answerEdit(const Texts &texts)
{
    m_on.prompts->onDialog([this, texts](QDialog &d) {
        auto *info = qobject_cast<CWIM_Image_Info *>(&d);
        if (!info)
            return int(QDialog::Rejected);
        m_given = {info->m_displayName, info->m_displayDescription, info->m_imageName, info->m_imageDescription,
                   info->m_systemFlag};
        m_givenEditMode = info->m_editMode;
        info->m_displayName = texts.displayName;
        info->m_displayDescription = texts.displayDescription;
        info->m_imageName = texts.name;
        info->m_imageDescription = texts.description;
        info->m_systemFlag = texts.flags;
        return int(QDialog::Accepted);
    });
}

QStringList TestQuickEdits::reopenedRows()
{
    CTarnboxDlg fresh;
    openInWindow(fresh, m_wim);
    const QStringList out = rows(fresh);
    closeArchive(fresh);
    return out;
}

void TestQuickEdits::deleteRows_data()
{
    QTest::addColumn<int>("boot");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("bootRow");

    QTest::newRow("above the boot row") << 2 << 0 << QStringList{QStringLiteral("b"), QStringLiteral("c")} << 0;
    QTest::newRow("the boot row") << 2 << 1 << QStringList{QStringLiteral("a"), QStringLiteral("c")} << -1;
    QTest::newRow("below the boot row") << 2 << 2 << QStringList{QStringLiteral("a"), QStringLiteral("b")} << 1;
    QTest::newRow("no boot image") << 0 << 1 << QStringList{QStringLiteral("a"), QStringLiteral("c")} << -1;
}

void TestQuickEdits::deleteRows()
{
    QFETCH(int, boot);
    QFETCH(int, row);
    QFETCH(QStringList, names);
    QFETCH(int, bootRow);
    SET_UP(3, boot);
    m_on.dlg->SelectAndFocusRow(row);
    m_on.prompts->answerMessage(IDYES);
    m_on.dlg->OnCommand(res::ID_DELETE_IMAGE);

    // The question, answered "是"; no message after it.
    QCOMPARE(m_on.prompts->calls().size(), 1);
    QCOMPARE(m_on.prompts->calls()[0].type & MB_TYPEMASK, MB_YESNO);
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("Delete")),
             QStringList{QStringLiteral("Delete %1").arg(row + 1)});
    QCOMPARE(column(*m_on.dlg, kNameColumn), names);
    QCOMPARE(m_on.dlg->m_Images.count, 2);
    QCOMPARE(m_on.dlg->m_Images.records[0].name, names[0]);
    QCOMPARE(m_on.dlg->m_Images.records[1].name, names[1]);
    QCOMPARE(m_on.dlg->m_Images.bootRow, bootRow);
    QStringList bootTexts{QStringLiteral("否"), QStringLiteral("否")};
    if (bootRow >= 0)
        bootTexts[bootRow] = QStringLiteral("是");
    QCOMPARE(column(*m_on.dlg, kBootColumn), bootTexts);
    QCOMPARE(m_on.dlg->m_nImageCount, 2);
    QCOMPARE(labelText(*m_on.dlg, "IDC_1004"), QStringLiteral("2"));
    QCOMPARE(m_on.dlg->SelectedRow(), 0);
    QCOMPARE(m_on.dlg->m_List->currentRow(), 0);

    const auto info = testarchives::wimInfo(m_wim);
    QCOMPARE(info.imageCount, 2);
    QCOMPARE(info.names, names);
    QCOMPARE(info.bootIndex, bootRow + 1);
    QCOMPARE(reopenedRows(), rows(*m_on.dlg));
}

void TestQuickEdits::deleteOnlyImage()
{
    SET_UP(1, 1);
    m_on.dlg->SelectAndFocusRow(0);
    m_on.prompts->answerMessage(IDYES);
    m_on.dlg->DeleteImage();
    QCOMPARE(m_on.prompts->calls().size(), 1);  // the question only
    QCOMPARE(m_on.dlg->m_List->rowCount(), 0);
    QCOMPARE(m_on.dlg->SelectedRow(), -1);
    QCOMPARE(m_on.dlg->m_Images.count, 0);
    QCOMPARE(m_on.dlg->m_Images.bootRow, -1);
    QCOMPARE(labelText(*m_on.dlg, "IDC_1004"), QStringLiteral("0"));
    const auto info = testarchives::wimInfo(m_wim);
    QVERIFY2(info.ok, qPrintable(info.raw));
    QCOMPARE(info.imageCount, 0);
    QCOMPARE(info.bootIndex, 0);
}

void TestQuickEdits::refusals_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("emptyWorkDir");
    QTest::addColumn<int>("fault");  // -1: none
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("caption");      // "" = the application's name
    QTest::addColumn<QString>("libraryCall");  // what the library received, "" for nothing

    const QString error = QStringLiteral("错误提示");
    QTest::newRow("delete, read only") << int(res::ID_DELETE_IMAGE) << true << false << -1
                                       << QStringLiteral("文件无法写入") << QString() << QString();
    QTest::newRow("boot, read only") << int(res::ID_SET_BOOT_IMAGE) << true << false << -1
                                     << QStringLiteral("文件无法写入") << QString() << QString();
    QTest::newRow("delete, no working directory") << int(res::ID_DELETE_IMAGE) << false << true << -1
                                                  << QStringLiteral("请先设置临时文件！") << error << QString();
    QTest::newRow("delete refused by the library")
        << int(res::ID_DELETE_IMAGE) << false << false << int(Fault::DeleteImage) << QStringLiteral("删除失败！")
        << error << QStringLiteral("Delete 3");
    QTest::newRow("boot refused by the library")
        << int(res::ID_SET_BOOT_IMAGE) << false << false << int(Fault::SetBootImage)
        << QStringLiteral("设置为启动失败！") << error << QStringLiteral("SetBoot 3");
}

void TestQuickEdits::refusals()
{
    QFETCH(int, command);
    QFETCH(bool, readOnly);
    QFETCH(bool, emptyWorkDir);
    QFETCH(int, fault);
    QFETCH(QString, message);
    QFETCH(QString, caption);
    QFETCH(QString, libraryCall);
    SET_UP(3, 1, readOnly);
    if (emptyWorkDir)
        m_on.dlg->m_strWorkDir.clear();
    if (fault >= 0)
        m_on.faults->failOn(Fault(fault));
    const QStringList before = rows(*m_on.dlg);
    m_on.dlg->SelectAndFocusRow(2);
    m_on.prompts->answerMessage(IDYES);  // a delete's question, where it is asked
    m_on.dlg->OnCommand(command);

    const QList<RecordingPrompts::Call> messages = toldNotAsked(*m_on.prompts);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, message);
    QCOMPARE(messages[0].caption, caption.isEmpty() ? QCoreApplication::applicationName() : caption);
    QCOMPARE(messages[0].type & MB_TYPEMASK, MB_OK);
    QCOMPARE(m_on.library->calls(), libraryCall.isEmpty() ? QStringList() : QStringList{libraryCall});
    QCOMPARE(rows(*m_on.dlg), before);
    QCOMPARE(m_on.dlg->m_Images.count, 3);
    QCOMPARE(m_on.dlg->m_Images.bootRow, 0);
    const auto info = testarchives::wimInfo(m_wim);
    QCOMPARE(info.imageCount, 3);
    QCOMPARE(info.bootIndex, 1);
}

void TestQuickEdits::setBoot_data()
{
    QTest::addColumn<int>("boot");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("bootTexts");

    const QString yes = QStringLiteral("是");
    const QString no = QStringLiteral("否");
    QTest::newRow("row 0 to row 2") << 1 << 2 << QStringList{no, no, yes};
    QTest::newRow("none to row 1") << 0 << 1 << QStringList{no, yes, no};
    QTest::newRow("the boot row again") << 2 << 1 << QStringList{no, yes, no};
}

void TestQuickEdits::setBoot()
{
    QFETCH(int, boot);
    QFETCH(int, row);
    QFETCH(QStringList, bootTexts);
    SET_UP(3, boot);
    m_on.dlg->SelectAndFocusRow(row);
    m_on.dlg->OnCommand(res::ID_SET_BOOT_IMAGE);

    QVERIFY(m_on.prompts->calls().isEmpty());
    QCOMPARE(m_on.library->calls(), QStringList{QStringLiteral("SetBoot %1").arg(row + 1)});
    QCOMPARE(column(*m_on.dlg, kBootColumn), bootTexts);
    QCOMPARE(m_on.dlg->m_Images.bootRow, row);
    QCOMPARE(testarchives::wimInfo(m_wim).bootIndex, row + 1);
    QCOMPARE(reopenedRows(), rows(*m_on.dlg));
}

void TestQuickEdits::editOnlyDisplayName()
{
    SET_UP(2, 0);
    m_on.dlg->SelectAndFocusRow(1);
    const ImageInfo before = m_on.dlg->m_Images.records[1];
    answerEdit(
        {QStringLiteral("新的显示名称"), before.displayDescription, before.name, before.description, before.flags});
    m_on.dlg->OnCommand(res::ID_EDIT_IMAGE);

    QCOMPARE(m_given.name, QStringLiteral("b"));
    QCOMPARE(m_given.description, QStringLiteral("说明 2"));
    QVERIFY(m_givenEditMode);
    QVERIFY(m_on.prompts->messages().isEmpty());
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("LoadImage")), QStringList{QStringLiteral("LoadImage 2")});
    // Exactly one element differs from what the library gave.
    const QStringList read = m_on.library->xmlRead();
    const QStringList written = m_on.library->xmlWritten();
    QCOMPARE(read.size(), 1);
    QCOMPARE(written.size(), 1);
    QString expected = cutAtNul(read[0]);
    QVERIFY(SetMetadataTag(expected, QStringLiteral("新的显示名称"), MetadataTag::DisplayName));
    QCOMPARE(written[0], expected);
    QCOMPARE(m_on.library->callsStartingWith(QStringLiteral("SetImageInformation")),
             QStringList{QStringLiteral("SetImageInformation %1").arg(expected.size() * 2)});

    QCOMPARE(column(*m_on.dlg, 0), (QStringList{QString(), QStringLiteral("新的显示名称")}));
    QCOMPARE(column(*m_on.dlg, kNameColumn), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    QCOMPARE(m_on.dlg->m_Images.records[1].displayName, QStringLiteral("新的显示名称"));
    QCOMPARE(reopenedRows(), rows(*m_on.dlg));
    QCOMPARE(infoField(testarchives::wimInfo(m_wim).raw, QStringLiteral("Display Name")),
             QStringList{QStringLiteral("新的显示名称")});
}

void TestQuickEdits::editNothingWritesOnce()
{
    SET_UP(2, 0);
    m_on.dlg->SelectAndFocusRow(0);
    const ImageInfo before = m_on.dlg->m_Images.records[0];
    const QStringList rowsBefore = rows(*m_on.dlg);
    answerEdit({before.displayName, before.displayDescription, before.name, before.description, before.flags});
    m_on.dlg->EditImage();

    QCOMPARE(m_on.library->xmlWritten().size(), 1);
    QCOMPARE(m_on.library->xmlWritten()[0], cutAtNul(m_on.library->xmlRead().value(0)));
    QCOMPARE(rows(*m_on.dlg), rowsBefore);
    QVERIFY(m_on.prompts->messages().isEmpty());
}

void TestQuickEdits::editAllTexts()
{
    SET_UP(2, 0);
    m_on.dlg->SelectAndFocusRow(0);
    const Texts texts{QStringLiteral("显示 <名>"), QStringLiteral("显示说明 & 更多"), QStringLiteral("A&B <x>"),
                      QStringLiteral("新说明"), QStringLiteral("Professional")};
    answerEdit(texts);
    m_on.dlg->EditImage();

    QVERIFY(m_on.prompts->messages().isEmpty());
    // Written in the order description, name, flags, display description,
    // display name: elements the image lacked are added in that order.
    QString expected = cutAtNul(m_on.library->xmlRead().value(0));
    QVERIFY(SetMetadataTag(expected, texts.description, MetadataTag::Description));
    QVERIFY(SetMetadataTag(expected, texts.name, MetadataTag::Name));
    QVERIFY(SetMetadataTag(expected, texts.flags, MetadataTag::Flags));
    QVERIFY(SetMetadataTag(expected, texts.displayDescription, MetadataTag::DisplayDescription));
    QVERIFY(SetMetadataTag(expected, texts.displayName, MetadataTag::DisplayName));
    QCOMPARE(m_on.library->xmlWritten(), QStringList{expected});
    QVERIFY(expected.indexOf(QStringLiteral("<FLAGS>")) < expected.indexOf(QStringLiteral("<DISPLAYDESCRIPTION>")));
    QVERIFY(expected.indexOf(QStringLiteral("<DISPLAYDESCRIPTION>"))
            < expected.indexOf(QStringLiteral("<DISPLAYNAME>")));

    const QString row0 = rows(*m_on.dlg).value(0);
    QVERIFY2(row0.startsWith(QStringLiteral("显示 <名>|显示说明 & 更多|A&B <x>|新说明|Professional|")),
             qPrintable(row0));
    QCOMPARE(reopenedRows(), rows(*m_on.dlg));
    const QString out = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    if (!out.isEmpty())
        QVERIFY(m_on.dlg->grab().save(out + QStringLiteral("/edited-texts.png")));
    const auto info = testarchives::wimInfo(m_wim);
    QCOMPARE(info.names, (QStringList{QStringLiteral("A&B <x>"), QStringLiteral("b")}));
    QCOMPARE(info.descriptions.value(0), QStringLiteral("新说明"));
    QCOMPARE(info.flags.value(0), QStringLiteral("Professional"));
}

void TestQuickEdits::editRefusedShowsArchiveTexts_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("injected");
    QTest::addColumn<bool>("readBackFails");
    QTest::addColumn<QString>("name");
    QTest::newRow("read-only archive") << true << false << false << QStringLiteral("z");
    QTest::newRow("name another image holds") << false << false << false << QStringLiteral("a");
    QTest::newRow("refused, read back") << false << true << false << QStringLiteral("z");
    QTest::newRow("refused, read back fails too") << false << true << true << QStringLiteral("z");
}

void TestQuickEdits::editRefusedShowsArchiveTexts()
{
    QFETCH(bool, readOnly);
    QFETCH(bool, injected);
    QFETCH(bool, readBackFails);
    QFETCH(QString, name);
    SET_UP(2, 0, readOnly);
    m_on.dlg->SelectAndFocusRow(1);
    const QStringList before = rows(*m_on.dlg);
    if (injected)
        m_on.faults->failOn(Fault::SetImageInformation);
    if (readBackFails)
        m_on.faults->failOn(Fault::GetImageInformation, 2);
    answerEdit({QStringLiteral("x"), QStringLiteral("y"), name, QStringLiteral("w"), QStringLiteral("v")});
    m_on.dlg->EditImage();

    QCOMPARE(m_on.prompts->messageTexts(), QStringList{QStringLiteral("修改失败！")});
    QCOMPARE(m_on.prompts->messages()[0].caption, QStringLiteral("错误提示"));
    QCOMPARE(m_on.library->xmlWritten().size(), 1);
    QCOMPARE(rows(*m_on.dlg), before);
    QCOMPARE(m_on.dlg->m_Images.records[1].name, QStringLiteral("b"));
    QCOMPARE(reopenedRows(), before);
}

void TestQuickEdits::editCancelled()
{
    SET_UP(2, 0);
    m_on.dlg->SelectAndFocusRow(0);
    const QStringList before = rows(*m_on.dlg);
    m_on.prompts->onDialog([](QDialog &d) {
        if (auto *info = qobject_cast<CWIM_Image_Info *>(&d))
            info->m_imageName = QStringLiteral("typed, then cancelled");
        return int(QDialog::Rejected);
    });
    m_on.dlg->EditImage();
    QCOMPARE(m_on.prompts->calls().size(), 1);
    QVERIFY(m_on.library->calls().isEmpty());
    QCOMPARE(rows(*m_on.dlg), before);
}

void TestQuickEdits::editDroppedWhileBusy()
{
    SET_UP(2, 0);
    m_on.dlg->SelectAndFocusRow(0);
    const QStringList before = rows(*m_on.dlg);
    m_on.prompts->onDialog([this](QDialog &d) {
        // An operation starts while the dialog is open.
        m_on.dlg->BeginBusy();
        if (auto *info = qobject_cast<CWIM_Image_Info *>(&d))
            info->m_imageName = QStringLiteral("dropped");
        return int(QDialog::Accepted);
    });
    m_on.dlg->OnListDblClk();
    m_on.dlg->HideBusyNow();
    QCOMPARE(m_on.prompts->calls().size(), 1);
    QVERIFY(m_on.prompts->messages().isEmpty());
    QVERIFY(m_on.library->calls().isEmpty());
    QCOMPARE(rows(*m_on.dlg), before);
}

void TestQuickEdits::editStopsOnUnclosedValue()
{
    SET_UP(2, 0);
    m_on.dlg->SelectAndFocusRow(0);
    const QStringList before = rows(*m_on.dlg);
    // A text that ends inside the NAME value.
    m_on.library->xmlFilter = [](const QString &xml) {
        const qsizetype at = xml.indexOf(QStringLiteral("<NAME>"));
        return at < 0 ? xml : xml.left(at + 7);
    };
    answerEdit({QString(), QString(), QStringLiteral("renamed"), QStringLiteral("说明 1"), QString()});
    m_on.dlg->EditImage();

    QCOMPARE(m_on.prompts->messageTexts(),
             QStringList{QStringLiteral("映像信息格式错误，无法修改映像信息！(0x80070057)")});
    QCOMPARE(m_on.prompts->messages()[0].caption, QStringLiteral("错误提示"));
    QVERIFY(m_on.library->xmlWritten().isEmpty());
    QCOMPARE(rows(*m_on.dlg), before);
    QCOMPARE(m_on.dlg->m_Images.records[0].name, QStringLiteral("a"));
    QCOMPARE(testarchives::wimInfo(m_wim).names, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
}

void TestQuickEdits::doubleClick()
{
    SET_UP(2, 0);
    answerEdit({QString(), QString(), QStringLiteral("b"), QStringLiteral("说明 2"), QString()});
    // No selected row: nothing opens.
    m_on.dlg->m_List->clearSelection();
    m_on.dlg->m_List->setCurrentIndex(QModelIndex());
    QCOMPARE(m_on.dlg->SelectedRow(), -1);
    m_on.dlg->OnListDblClk();
    QVERIFY(m_on.prompts->calls().isEmpty());
    QVERIFY(m_on.library->calls().isEmpty());

    // A focused row that is not selected is no selected row either.
    m_on.dlg->m_List->setCurrentCell(1, 0, QItemSelectionModel::NoUpdate);
    m_on.dlg->m_List->clearSelection();
    m_on.dlg->OnListDblClk();
    QVERIFY(m_on.prompts->calls().isEmpty());

    m_on.dlg->SelectAndFocusRow(1);
    m_on.dlg->OnListDblClk();
    const auto calls = m_on.prompts->calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].kind, Kind::Dialog);
    QCOMPARE(calls[0].text, QStringLiteral("CWIM_Image_Info"));
    QCOMPARE(m_given.name, QStringLiteral("b"));
    QCOMPARE(m_given.description, QStringLiteral("说明 2"));
    QCOMPARE(m_given.displayName, QString());
    QVERIFY(m_givenEditMode);
}

void TestQuickEdits::changedByAnotherProgram_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("message");
    QTest::newRow("delete") << int(res::ID_DELETE_IMAGE) << QStringLiteral("删除失败！");
    QTest::newRow("edit") << int(res::ID_EDIT_IMAGE) << QStringLiteral("修改失败！");
    QTest::newRow("boot image") << int(res::ID_SET_BOOT_IMAGE) << QStringLiteral("设置为启动失败！");
}

// The window shows a, b, c; another program deletes image 1; the user acts on
// the row shown as "b", which is image 1 now: nothing is written, the list is
// read again with "b" still selected, and the user is told why.
void TestQuickEdits::changedByAnotherProgram()
{
    QFETCH(int, command);
    QFETCH(QString, message);
    SET_UP(3, 0);
    QString why;
    QVERIFY2(wimlib({QStringLiteral("delete"), m_wim, QStringLiteral("1")}, &why), qPrintable(why));
    m_on.dlg->SelectAndFocusRow(1);
    answerEdit({QStringLiteral("D"), QString(), QStringLiteral("renamed"), QString(), QString()});
    m_on.prompts->answerMessage(IDYES);  // a delete's question
    m_on.dlg->OnCommand(command);

    const auto info = testarchives::wimInfo(m_wim);
    QCOMPARE(info.names, (QStringList{QStringLiteral("b"), QStringLiteral("c")}));
    QCOMPARE(info.bootIndex, 0);
    QCOMPARE(column(*m_on.dlg, kNameColumn), info.names);
    QCOMPARE(m_on.dlg->m_nImageCount, 2);
    QCOMPARE(m_on.dlg->SelectedRow(), 0);
    const auto messages = toldNotAsked(*m_on.prompts);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, message);
    QCOMPARE(messages[0].detail, QStringLiteral("映像文件已被其他程序修改，列表已重新读取，请重新选择"));
    // From the list read again, the same command goes through.
    m_on.prompts->answerMessage(IDYES);
    m_on.dlg->OnCommand(command);
    QCOMPARE(toldNotAsked(*m_on.prompts).size(), 1);
}

void TestQuickEdits::idleWindowFollowsTheArchive()
{
    SET_UP(3, 0);
    m_on.dlg->SelectAndFocusRow(1);
    QString why;
    QVERIFY2(wimlib({QStringLiteral("delete"), m_wim, QStringLiteral("1")}, &why), qPrintable(why));
    QTRY_COMPARE_WITH_TIMEOUT(column(*m_on.dlg, kNameColumn), (QStringList{QStringLiteral("b"), QStringLiteral("c")}),
                              10000);
    QCOMPARE(m_on.dlg->SelectedRow(), 0);  // still "b"
    const QString tree = m_dir->filePath(QStringLiteral("tree0"));
    QVERIFY2(wimlib({QStringLiteral("append"), tree, m_wim, QStringLiteral("d")}, &why), qPrintable(why));
    QTRY_COMPARE_WITH_TIMEOUT(m_on.dlg->m_nImageCount, 3, 10000);
    QCOMPARE(column(*m_on.dlg, kNameColumn),
             (QStringList{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}));
    QCOMPARE(m_on.dlg->SelectedRow(), 0);
    QVERIFY(m_on.prompts->messages().isEmpty());
}

// Another program holds the archive's lock (a lock of its own description
// conflicts with the window's as another process's does).
void TestQuickEdits::lockedByAnotherProgram()
{
    SET_UP(3, 0);
    ArchiveFileLock other;
    ImagingError error;
    QVERIFY(other.take(QFile::encodeName(m_wim), ArchiveFileLock::Mode::Shared, false, &error));
    m_on.dlg->SelectAndFocusRow(1);
    m_on.prompts->answerMessage(IDYES);
    m_on.dlg->OnCommand(res::ID_DELETE_IMAGE);
    const auto messages = toldNotAsked(*m_on.prompts);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("删除失败！"));
    QCOMPARE(messages[0].detail, QStringLiteral("映像文件正被另一个程序使用，请稍后再试"));
    QCOMPARE(testarchives::wimInfo(m_wim).imageCount, 3);
    QCOMPARE(m_on.dlg->m_Images.count, 3);
    // Once it lets go, the delete goes through.
    other.release();
    m_on.prompts->answerMessage(IDYES);
    m_on.dlg->OnCommand(res::ID_DELETE_IMAGE);
    QCOMPARE(testarchives::wimInfo(m_wim).names, (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
}

QTEST_MAIN(TestQuickEdits)
#include "tst_quick_edits.moc"
