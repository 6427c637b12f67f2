// What Qt's dialogs say: a failure's cause beneath the message, from any
// thread; Qt's own texts in Chinese whatever the locale.
#include "recording_prompts.h"
#include "support/error_cause.h"
#include "support/qt_translation.h"
#include "support/ui_thread.h"
#include "support/widget_prompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// What a message box showed, read while it was open.
struct Shown {
    QString text;
    QString causeText;
    bool causeBeneath = false;
    Qt::TextFormat causeFormat = Qt::AutoText;
};

// Reads the next message box once it is up, saves it as png when given, and answers OK.
void readAndAccept(Shown *shown, const QString &png)
{
    QTimer::singleShot(0, [shown, png] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return readAndAccept(shown, png);
        shown->text = box->text();
        auto *main = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        if (auto *cause = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))) {
            shown->causeText = cause->isVisible() ? cause->text() : QString();
            shown->causeBeneath = main && cause->geometry().top() >= main->geometry().bottom();
            shown->causeFormat = cause->textFormat();
        }
        if (!png.isEmpty())
            box->grab().save(png);
        box->buttons().first()->click();
    });
}

}  // namespace

class TestDialogTexts : public QObject
{
    Q_OBJECT

private slots:
    void errorBoxShowsItsCauseBeneath();
    void workerMessageCarriesItsCause();
    void fileChooserInChinese();
    void missingTranslationIsReported();
};

void TestDialogTexts::errorBoxShowsItsCauseBeneath()
{
    const QString out = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    WidgetPrompts widgets;
    Shown shown;
    readAndAccept(&shown, out.isEmpty() ? QString() : out + QStringLiteral("/error-with-cause.png"));
    const QString cause = errorCause({ImagingError::Kind::NotAnArchive, 0, QStringLiteral("not a WIM file")});
    QCOMPARE(widgets.messageBox(nullptr, QStringLiteral("文件无法打开！"), QStringLiteral("错误提示"),
                                MB_OK | MB_ICONERROR, cause),
             IDOK);
    QCOMPARE(shown.text, QStringLiteral("文件无法打开！"));
    QCOMPARE(shown.causeText, QStringLiteral("这不是 WIM 映像文件"));
    QVERIFY(shown.causeBeneath);

    // The library's words hold paths, which may look like markup.
    const QString libraryCause = QStringLiteral("WIMCreateFile: /tmp/<b>x</b>.wim: bad");
    readAndAccept(&shown, QString());
    widgets.messageBox(nullptr, QStringLiteral("文件无法打开！"), QStringLiteral("错误提示"), MB_OK, libraryCause);
    QCOMPARE(shown.causeText, libraryCause);
    QCOMPARE(shown.causeFormat, Qt::PlainText);
}

void TestDialogTexts::workerMessageCarriesItsCause()
{
    RecordingPrompts recording;
    recording.answerMessage(IDCANCEL);
    QFuture<int> answer = QtConcurrent::run([] {
        return uiThread::messageBox(nullptr, QStringLiteral("无法释放映像到目标路径"), QStringLiteral("错误提示"),
                                    MB_OKCANCEL, QStringLiteral("磁盘空间不足"));
    });
    QTRY_VERIFY_WITH_TIMEOUT(answer.isFinished(), 10000);
    QCOMPARE(answer.result(), IDCANCEL);
    // Every existing call, without a cause, still compiles and records none.
    uiThread::messageBox(nullptr, QStringLiteral("文件创建失败！"));

    QCOMPARE(recording.messageDetails(), (QStringList{QStringLiteral("磁盘空间不足"), QString()}));
    QVERIFY(recording.messages().first().onUiThread);
}

void TestDialogTexts::fileChooserInChinese()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QTranslator translator;
    QVERIFY2(installQtTranslation(translator), qPrintable(qtTranslationsDirectory()));
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto *lookIn = dialog.findChild<QLabel *>(QStringLiteral("lookInLabel"));
    QVERIFY(lookIn);
    QCOMPARE(lookIn->text(), QStringLiteral("查找范围："));  // "Look in:"
    // The type column too, which the translation of this Qt leaves in English.
    QCOMPARE(QFileIconProvider().type(QFileInfo(QDir::tempPath())), QStringLiteral("文件夹"));
}

void TestDialogTexts::missingTranslationIsReported()
{
    QTemporaryDir empty;
    QTranslator translator;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("qtbase_zh_CN.*qt6-translations-l10n")));
    QVERIFY(!installQtTranslation(translator, empty.path()));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
}

QTEST_MAIN(TestDialogTexts)
#include "tst_dialog_texts.moc"
