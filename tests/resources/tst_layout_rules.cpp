// The rules that keep texts whole in any font: labels given room on their
// row, and the image list's columns sharing its width.
#include "resources/main_window_layout.h"
#include "resources/template_builder.h"

#include <QTest>

class TestLayoutRules : public QObject
{
    Q_OBJECT

private slots:
    void sharedColumnWidths_data();
    void sharedColumnWidths();
    void fitTextsInRows_data();
    void fitTextsInRows();
};

void TestLayoutRules::sharedColumnWidths_data()
{
    QTest::addColumn<QList<int>>("weights");
    QTest::addColumn<QList<int>>("minimums");
    QTest::addColumn<int>("total");
    QTest::addColumn<QList<int>>("widths");
    QTest::newRow("in proportion") << QList<int>{1, 2, 1} << QList<int>{10, 10, 10} << 400 << QList<int>{100, 200, 100};
    QTest::newRow("rounding to the last")
        << QList<int>{1, 1, 1} << QList<int>{0, 0, 0} << 100 << QList<int>{33, 33, 34};
    // A narrow column keeps its heading; the others share the rest.
    QTest::newRow("a minimum holds") << QList<int>{1, 9} << QList<int>{50, 0} << 100 << QList<int>{50, 50};
    QTest::newRow("too narrow: the minimums") << QList<int>{1, 1} << QList<int>{60, 60} << 100 << QList<int>{60, 60};
    QTest::newRow("none") << QList<int>{} << QList<int>{} << 100 << QList<int>{};
}

void TestLayoutRules::sharedColumnWidths()
{
    QFETCH(QList<int>, weights);
    QFETCH(QList<int>, minimums);
    QFETCH(int, total);
    QFETCH(QList<int>, widths);
    QCOMPARE(res::sharedColumnWidths(weights, minimums, total), widths);
}

void TestLayoutRules::fitTextsInRows_data()
{
    QTest::addColumn<QList<QRect>>("rects");
    QTest::addColumn<QList<int>>("textWidths");
    QTest::addColumn<QList<bool>>("visible");
    QTest::addColumn<QList<QRect>>("fitted");
    const QRect label(10, 10, 50, 14), field(60, 10, 200, 14), below(60, 30, 200, 14), belowLabel(10, 30, 50, 14);
    QTest::newRow("room enough: as given")
        << QList<QRect>{label, field} << QList<int>{40, 0} << QList<bool>{true, true} << QList<QRect>{label, field};
    // 10 + 56 + the gap of 3: the field starts at 69, its right edge stays; the label ends at the gap.
    QTest::newRow("field moves right, keeps its right edge")
        << QList<QRect>{label, field} << QList<int>{56, 0} << QList<bool>{true, true}
        << QList<QRect>{QRect(10, 10, 56, 14), QRect(69, 10, 191, 14)};
    QTest::newRow("the field below moves with it")
        << QList<QRect>{label, field, belowLabel, below} << QList<int>{56, 0, 20, 0}
        << QList<bool>{true, true, true, true}
        << QList<QRect>{QRect(10, 10, 56, 14), QRect(69, 10, 191, 14), belowLabel, QRect(69, 30, 191, 14)};
    // A hidden control (a button never shown beside the label) is no neighbour.
    QTest::newRow("hidden neighbour ignored")
        << QList<QRect>{label, field} << QList<int>{100, 0} << QList<bool>{true, false}
        << QList<QRect>{QRect(10, 10, 101, 14), field};
    QTest::newRow("alone: widens to the window")
        << QList<QRect>{label} << QList<int>{500} << QList<bool>{true} << QList<QRect>{QRect(10, 10, 290, 14)};
}

void TestLayoutRules::fitTextsInRows()
{
    QFETCH(QList<QRect>, rects);
    QFETCH(QList<int>, textWidths);
    QFETCH(QList<bool>, visible);
    QFETCH(QList<QRect>, fitted);
    QCOMPARE(::fitTextsInRows(rects, textWidths, visible, 300), fitted);
}

QTEST_GUILESS_MAIN(TestLayoutRules)
#include "tst_layout_rules.moc"
