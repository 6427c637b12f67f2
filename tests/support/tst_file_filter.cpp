// The choosers' file-type lists: the bar-separated filters turned into
// QFileDialog name filters, and what a real QFileDialog then shows and matches.
#include "support/file_filter.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTest>

class TestFileFilter : public QObject
{
    Q_OBJECT

private slots:
    void conversion_data();
    void conversion();
};

void TestFileFilter::conversion_data()
{
    QTest::addColumn<QString>("bars");
    QTest::addColumn<QString>("qt");
    QTest::addColumn<QStringList>("shown");     // the dialog's file-type list
    QTest::addColumn<QStringList>("patterns");  // what the first entry matches
    QTest::newRow("archive chooser") << QStringLiteral("Wim镜像(*.wim)|*.wim||") << QStringLiteral("Wim镜像(*.wim)")
                                     << QStringList{QStringLiteral("Wim镜像(*.wim)")}
                                     << QStringList{QStringLiteral("*.wim")};
    QTest::newRow("file chooser") << QStringLiteral("所有文件(*.*)|*.*||") << QStringLiteral("所有文件(*.*)")
                                  << QStringList{QStringLiteral("所有文件(*.*)")} << QStringList{QStringLiteral("*.*")};
    QTest::newRow("label without patterns")
        << QStringLiteral("Images|*.png;*.jpg||") << QStringLiteral("Images (*.png *.jpg)")
        << QStringList{QStringLiteral("Images (*.png *.jpg)")}
        << QStringList{QStringLiteral("*.png"), QStringLiteral("*.jpg")};
    // The patterns given are the ones that match, even when the label says otherwise.
    QTest::newRow("label naming other patterns")
        << QStringLiteral("Old(*.a)|*.b||") << QStringLiteral("Old(*.a) (*.b)")
        << QStringList{QStringLiteral("Old(*.a) (*.b)")} << QStringList{QStringLiteral("*.b")};
    QTest::newRow("two entries") << QStringLiteral("Wim镜像(*.wim)|*.wim|分卷|*.swm||")
                                 << QStringLiteral("Wim镜像(*.wim);;分卷 (*.swm)")
                                 << QStringList{QStringLiteral("Wim镜像(*.wim)"), QStringLiteral("分卷 (*.swm)")}
                                 << QStringList{QStringLiteral("*.wim")};
}

void TestFileFilter::conversion()
{
    QFETCH(QString, bars);
    QFETCH(QString, qt);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, patterns);
    QCOMPARE(qtNameFilters(bars), qt);

    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(qt);
    auto *types = dialog.findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
    QVERIFY(types);
    QStringList items;
    for (int i = 0; i < types->count(); ++i)
        items << types->itemText(i);
    QCOMPARE(items, shown);
    auto *model = dialog.findChild<QFileSystemModel *>();
    QVERIFY(model);
    QCOMPARE(model->nameFilters(), patterns);
}

QTEST_MAIN(TestFileFilter)
#include "tst_file_filter.moc"
