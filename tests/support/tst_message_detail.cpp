// A message carries its cause beneath its own sentence, from any thread.
#include "recording_prompts.h"
#include "support/error_cause.h"
#include "support/ui_thread.h"
#include "support/widget_prompts.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// What the box showed, read while it is open.
struct Shown {
    QString text;
    QString informative;
    bool informativeVisible = false;
    Qt::TextFormat informativeFormat = Qt::AutoText;
    int informativeBelowText = 0;  // > 0 when the cause is beneath the sentence
};

// Answers the next message box with OK once it is up, after reading it.
void readAndAccept(Shown *shown, const QString &png)
{
    QTimer::singleShot(0, [shown, png] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            readAndAccept(shown, png);  // not up yet
            return;
        }
        shown->text = box->text();
        shown->informative = box->informativeText();
        auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
        auto *main = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        if (label && main) {
            shown->informativeVisible = label->isVisible();
            shown->informativeFormat = label->textFormat();
            shown->informativeBelowText = label->geometry().top() - main->geometry().bottom();
        }
        if (!png.isEmpty())
            box->grab().save(png);
        for (QAbstractButton *b : box->buttons()) {
            if (box->buttonRole(b) == QMessageBox::AcceptRole)
                b->click();
        }
    });
}

// Overrides only the form without a cause, as prompts written before causes do.
class CauselessPrompts : public Prompts
{
public:
    using Prompts::messageBox;
    int messageBox(QObject *, const QString &text, const QString &, uint32_t) override
    {
        m_texts << text;
        return IDCANCEL;
    }
    QString pickFolder(QObject *, const QString &) override { return {}; }
    QString openFile(QObject *, const FileChooser &) override { return {}; }
    QString saveFile(QObject *, const FileChooser &) override { return {}; }
    int execDialog(QDialog &) override { return 0; }
    QStringList m_texts;
};

}  // namespace

class TestMessageDetail : public QObject
{
    Q_OBJECT

private slots:
    void errorBoxShowsItsCauseBeneath();
    void workerMessageCarriesItsCause();
    void promptsWithoutCausesStillAsk();
};

void TestMessageDetail::errorBoxShowsItsCauseBeneath()
{
    const QString out = qEnvironmentVariable("PELLWICK_SCREENSHOT_DIR");
    const QString cause = errorCause(ImagingError{ImagingError::Kind::NotAnArchive, 0, QStringLiteral("not a WIM")});
    // A cause in the library's words holds paths, which may look like markup.
    const QString libraryCause = QStringLiteral("WIMCreateFile: /tmp/<b>x</b>.wim: bad");
    WidgetPrompts widgets;
    Shown shown;
    readAndAccept(&shown, out.isEmpty() ? QString() : out + QStringLiteral("/error-with-cause.png"));
    const int answer = widgets.messageBox(nullptr, QStringLiteral("文件无法打开！"), QStringLiteral("错误提示"),
                                          MB_OK | MB_ICONERROR, cause);
    QCOMPARE(answer, IDOK);
    QCOMPARE(shown.text, QStringLiteral("文件无法打开！"));
    QCOMPARE(shown.informative, QStringLiteral("这不是 WIM 映像文件"));
    QVERIFY(shown.informativeVisible);
    QVERIFY2(shown.informativeBelowText >= 0, qPrintable(QString::number(shown.informativeBelowText)));

    readAndAccept(&shown, QString());
    widgets.messageBox(nullptr, QStringLiteral("文件无法打开！"), QStringLiteral("错误提示"), MB_OK, libraryCause);
    QCOMPARE(shown.informative, libraryCause);
    QCOMPARE(shown.informativeFormat, Qt::PlainText);
}

void TestMessageDetail::workerMessageCarriesItsCause()
{
    RecordingPrompts recording;
    recording.answerMessage(IDCANCEL);
    QFuture<int> answer = QtConcurrent::run([] {
        return uiThread::messageBox(nullptr, QStringLiteral("无法释放映像到目标路径"), QStringLiteral("错误提示"),
                                    MB_OKCANCEL, QStringLiteral("磁盘空间不足"));
    });
    QTRY_VERIFY_WITH_TIMEOUT(answer.isFinished(), 10000);
    QCOMPARE(answer.result(), IDCANCEL);
    // The older form, as every existing call makes it, records no cause.
    uiThread::messageBox(nullptr, QStringLiteral("文件创建失败！"));

    const QList<RecordingPrompts::Call> calls = recording.messages();
    QCOMPARE(calls.size(), 2);
    QVERIFY(calls[0].onUiThread);
    QCOMPARE(recording.messageDetails(), (QStringList{QStringLiteral("磁盘空间不足"), QString()}));
}

void TestMessageDetail::promptsWithoutCausesStillAsk()
{
    CauselessPrompts causeless;
    setPrompts(&causeless);
    const int answer = uiThread::messageBox(nullptr, QStringLiteral("文件无法打开！"), QStringLiteral("错误提示"),
                                            MB_OKCANCEL, QStringLiteral("没有访问权限"));
    setPrompts(nullptr);
    QCOMPARE(answer, IDCANCEL);
    QCOMPARE(causeless.m_texts, QStringList{QStringLiteral("文件无法打开！")});
}

QTEST_MAIN(TestMessageDetail)
#include "tst_message_detail.moc"
