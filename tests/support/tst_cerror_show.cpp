// The output dialog: a fixed warning above a read-only, selectable text.
#include "support/cerror_show.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocumentFragment>

namespace {

const QString kWarning = QStringLiteral("警告：有输出信息时，可能表示映像存在问题");

// As the operation log has it: every line preceded by CR LF.
QString longLog(int lines)
{
    QString log;
    for (int i = 1; i <= lines; ++i)
        log += QStringLiteral("\r\n错误：无法读取文件 /mnt/源/Windows/System32/文件%1.dll，错误码 5").arg(i);
    return log;
}

QPlainTextEdit *editOf(const CErrorShow &dlg)
{
    return dlg.findChild<QPlainTextEdit *>(QStringLiteral("IDC_OUTPUT_TEXT"));
}

QPushButton *buttonWithText(const CErrorShow &dlg, const QString &text)
{
    for (QPushButton *b : dlg.findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

}  // namespace

class TestCErrorShow : public QObject
{
    Q_OBJECT

private slots:
    void captionWarningAndLayout();
    void showsTheWholeLog();
    void textCannotBeChanged_data();
    void textCannotBeChanged();
    void textCanBeSelectedAndCopied();
    void closes_data();
    void closes();
};

void TestCErrorShow::captionWarningAndLayout()
{
    CErrorShow dlg;
    dlg.m_strText = longLog(300);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QCOMPARE(dlg.windowTitle(), QStringLiteral("输出信息"));
    QLabel *warning = nullptr;
    for (QLabel *l : dlg.findChildren<QLabel *>()) {
        if (l->text() == kWarning)
            warning = l;
    }
    QVERIFY2(warning, "no label reads the warning exactly");
    QVERIFY(warning->isVisible());
    // The whole warning fits: nothing is cut off at the label's edge.
    QVERIFY2(warning->fontMetrics().horizontalAdvance(kWarning) <= warning->width(),
             qPrintable(QStringLiteral("%1 px of text in %2 px")
                            .arg(warning->fontMetrics().horizontalAdvance(kWarning))
                            .arg(warning->width())));

    QPlainTextEdit *edit = editOf(dlg);
    QVERIFY(edit);
    QPushButton *ok = buttonWithText(dlg, QStringLiteral("确定"));
    QPushButton *cancel = buttonWithText(dlg, QStringLiteral("取消"));
    QVERIFY(ok && cancel);
    QVERIFY(ok->isDefault());
    const QRect inside = dlg.rect();
    for (QWidget *w : {static_cast<QWidget *>(warning), static_cast<QWidget *>(edit), static_cast<QWidget *>(ok),
                       static_cast<QWidget *>(cancel)})
        QVERIFY2(inside.contains(w->geometry()), w->metaObject()->className());
    // Top to bottom: warning, text, buttons; the buttons side by side, OK first.
    QVERIFY(warning->geometry().bottom() < edit->geometry().top());
    QVERIFY(edit->geometry().bottom() < ok->geometry().top());
    QVERIFY(ok->geometry().right() < cancel->geometry().left());
    QCOMPARE(ok->geometry().top(), cancel->geometry().top());
    // Three hundred lines do not fit: the user must still reach them all.
    QVERIFY(edit->verticalScrollBar()->maximum() > 0);

    const QString png = QStringLiteral("/tmp/pellwick-cerror-show.png");
    QVERIFY(dlg.grab().save(png));
    qInfo("rendered to %s", qPrintable(png));
}

void TestCErrorShow::showsTheWholeLog()
{
    CErrorShow dlg;
    dlg.m_strText = longLog(2000);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    const QString shown = editOf(dlg)->toPlainText();
    // CR LF becomes one line break; no stray CR is left to show as a box.
    QVERIFY(!shown.contains(QLatin1Char('\r')));
    QCOMPARE(shown, QString(dlg.m_strText).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QCOMPARE(editOf(dlg)->blockCount(), 2001);  // the log begins with a line break
    QVERIFY(shown.endsWith(QStringLiteral("文件2000.dll，错误码 5")));
}

void TestCErrorShow::textCannotBeChanged_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("typing") << u"type"_qs;
    QTest::newRow("input method commit") << u"input method"_qs;
    QTest::newRow("backspace and delete") << u"erase"_qs;
    QTest::newRow("return") << u"return"_qs;
    QTest::newRow("paste") << u"paste"_qs;
    QTest::newRow("cut") << u"cut"_qs;
}

void TestCErrorShow::textCannotBeChanged()
{
    QFETCH(QString, action);
    CErrorShow dlg;
    dlg.m_strText = longLog(20);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QPlainTextEdit *edit = editOf(dlg);
    const QString before = edit->toPlainText();
    edit->setFocus();
    QTest::mouseClick(edit->viewport(), Qt::LeftButton, {}, QPoint(20, 20));

    if (action == u"type") {
        QTest::keyClicks(edit, QStringLiteral("changed text"));
    } else if (action == u"input method") {
        // Chinese arrives through the input method, not as key presses.
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("改"));
        QApplication::sendEvent(edit, &commit);
    } else if (action == u"erase") {
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClick(edit, Qt::Key_Delete);
        }
    } else if (action == u"return") {
        QTest::keyClick(edit, Qt::Key_Return);
    } else if (action == u"paste") {
        QApplication::clipboard()->setText(QStringLiteral("pasted"));
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
    } else if (action == u"cut") {
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
    }
    QCOMPARE(edit->toPlainText(), before);
    QVERIFY(edit->isReadOnly());
}

void TestCErrorShow::textCanBeSelectedAndCopied()
{
    CErrorShow dlg;
    dlg.m_strText = longLog(50);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QPlainTextEdit *edit = editOf(dlg);
    edit->setFocus();

    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QVERIFY(edit->textCursor().hasSelection());
    QCOMPARE(edit->textCursor().selection().toPlainText(), edit->toPlainText());

    QApplication::clipboard()->setText(QStringLiteral("old"));
    QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), edit->toPlainText());

    // A drag with the mouse along the second line (the first is empty).
    QTest::keyClick(edit, Qt::Key_Home, Qt::ControlModifier);
    QVERIFY(!edit->textCursor().hasSelection());
    const QPoint start = edit->cursorRect(QTextCursor(edit->document()->findBlockByNumber(1))).center();
    QTest::mousePress(edit->viewport(), Qt::LeftButton, {}, start);
    QTest::mouseMove(edit->viewport(), start + QPoint(150, 0));
    QTest::mouseRelease(edit->viewport(), Qt::LeftButton, {}, start + QPoint(150, 0));
    const QString dragged = edit->textCursor().selectedText();
    QVERIFY(!dragged.isEmpty());
    QVERIFY(edit->document()->findBlockByNumber(1).text().startsWith(dragged));
}

void TestCErrorShow::closes_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("OK") << u"ok"_qs << int(QDialog::Accepted);
    QTest::newRow("Cancel") << u"cancel"_qs << int(QDialog::Rejected);
    QTest::newRow("Escape") << u"escape"_qs << int(QDialog::Rejected);
    QTest::newRow("Enter") << u"enter"_qs << int(QDialog::Accepted);
    QTest::newRow("close box") << u"close"_qs << int(QDialog::Rejected);
}

void TestCErrorShow::closes()
{
    QFETCH(QString, how);
    QFETCH(int, result);

    CErrorShow dlg;
    const QString log = longLog(5);
    dlg.m_strText = log;
    dlg.setResult(-1);
    dlg.open();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    if (how == u"ok")
        QTest::mouseClick(buttonWithText(dlg, QStringLiteral("确定")), Qt::LeftButton);
    else if (how == u"cancel")
        QTest::mouseClick(buttonWithText(dlg, QStringLiteral("取消")), Qt::LeftButton);
    else if (how == u"escape")
        QTest::keyClick(&dlg, Qt::Key_Escape);
    else if (how == u"enter")
        QTest::keyClick(editOf(dlg), Qt::Key_Return);
    else
        dlg.close();

    QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 5000);
    QCOMPARE(dlg.result(), result);
    // Reading the text back loses nothing but the CR of each line end.
    QCOMPARE(QString(dlg.m_strText).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
             QString(log).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

QTEST_MAIN(TestCErrorShow)
#include "tst_cerror_show.moc"
