// Qt's own dialogs speak Chinese, whatever the locale.
#include "support/qt_translation.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

class TestQtTranslation : public QObject
{
    Q_OBJECT

private slots:
    void fileChooserInChinese();
    void missingTranslationIsReported();
};

void TestQtTranslation::fileChooserInChinese()
{
    // An English locale changes nothing: the interface is Chinese.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QTranslator translator;
    QVERIFY2(installQtTranslation(translator),
             qPrintable(QStringLiteral("no qtbase_zh_CN in %1").arg(qtTranslationsDirectory())));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("查找范围："));

    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    auto *lookIn = dialog.findChild<QLabel *>(QStringLiteral("lookInLabel"));
    auto *fileName = dialog.findChild<QLabel *>(QStringLiteral("fileNameLabel"));
    QVERIFY(lookIn && fileName);
    QCOMPARE(lookIn->text(), QStringLiteral("查找范围："));
    QVERIFY2(!fileName->text().contains(QLatin1String("File")), qPrintable(fileName->text()));

    QCoreApplication::removeTranslator(&translator);
}

void TestQtTranslation::missingTranslationIsReported()
{
    QTemporaryDir empty;
    QTranslator translator;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("qtbase_zh_CN.*qt6-translations-l10n")));
    QVERIFY(!installQtTranslation(translator, empty.path()));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
}

QTEST_MAIN(TestQtTranslation)
#include "tst_qt_translation.moc"
