// Cutting the archive's XML into image elements, and reading the texts a
// caller hands back.
#include "imaging/wimlib_xml.h"

#include <QTest>

class TestWimlibXml : public QObject
{
    Q_OBJECT

private slots:
    void imageElements_data();
    void imageElements();
    void editableTexts_data();
    void editableTexts();
};

void TestWimlibXml::imageElements_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("expected");

    const QString one =
        QStringLiteral("<IMAGE INDEX=\"1\"><NAME>a &amp; b</NAME><WINDOWS><ARCH>9</ARCH></WINDOWS></IMAGE>");
    const QString two = QStringLiteral("<IMAGE INDEX=\"2\"><NAME>二</NAME></IMAGE>");
    QTest::newRow("as wimlib writes it, with a byte-order mark")
        << QStringLiteral("\uFEFF<WIM><TOTALBYTES>5</TOTALBYTES>") + one + two + QStringLiteral("</WIM>") << 2
        << QStringList{one, two};
    QTest::newRow("indices out of order")
        << QStringLiteral("<WIM>") + two + one + QStringLiteral("</WIM>") << 2 << QStringList{one, two};
    QTest::newRow("whitespace between elements")
        << QStringLiteral("<WIM>\n  ") + one + QStringLiteral("\n  ") + two + QStringLiteral("\n</WIM>\n") << 2
        << QStringList{one, two};
    const QString indented = QStringLiteral("<IMAGE INDEX=\"1\">\n    <NAME>x</NAME>\n  </IMAGE>");
    QTest::newRow("indented, as other tools write it")
        << QStringLiteral("<WIM>\n  ") + indented + QStringLiteral("\n  <IMAGE INDEX=\"2\" />\n</WIM>") << 2
        << QStringList{indented, QStringLiteral("<IMAGE INDEX=\"2\" />")};
    QTest::newRow("no index attributes: document order")
        << QStringLiteral("<WIM><IMAGE><NAME>x</NAME></IMAGE><IMAGE/></WIM>") << 2
        << QStringList{QStringLiteral("<IMAGE><NAME>x</NAME></IMAGE>"), QStringLiteral("<IMAGE/>")};
    QTest::newRow("an image the document lacks") << QStringLiteral("<WIM>") + one + QStringLiteral("</WIM>") << 2
                                                 << QStringList{one, QStringLiteral("<IMAGE INDEX=\"2\"></IMAGE>")};
    QTest::newRow("nested IMAGE elements are not images")
        << QStringLiteral("<WIM><X><IMAGE INDEX=\"1\"/></X></WIM>") << 1
        << QStringList{QStringLiteral("<IMAGE INDEX=\"1\"></IMAGE>")};
    QTest::newRow("malformed document") << QStringLiteral("<WIM>") + one + QStringLiteral("<oops></WIM>") << 1
                                        << QStringList{QStringLiteral("<IMAGE INDEX=\"1\"></IMAGE>")};
    QTest::newRow("empty document") << QString() << 1 << QStringList{QStringLiteral("<IMAGE INDEX=\"1\"></IMAGE>")};
    QTest::newRow("no images") << QStringLiteral("<WIM></WIM>") << 0 << QStringList();
}

void TestWimlibXml::imageElements()
{
    QFETCH(QString, document);
    QFETCH(int, count);
    QFETCH(QStringList, expected);
    QCOMPARE(wimxml::imageElements(document, count), expected);
}

void TestWimlibXml::editableTexts_data()
{
    QTest::addColumn<QString>("element");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QStringList>("values");  // name, description, flags, display name, display description

    QTest::newRow("all five, escaped") << QStringLiteral(
        "\uFEFF<IMAGE INDEX=\"3\"><NAME>A&amp;B</NAME><DESCRIPTION>&lt;x&gt;</DESCRIPTION>"
        "<FLAGS>Professional</FLAGS><DISPLAYNAME>显示名</DISPLAYNAME>"
        "<DISPLAYDESCRIPTION>d</DISPLAYDESCRIPTION></IMAGE>")
                                       << true
                                       << QStringList{QStringLiteral("A&B"), QStringLiteral("<x>"),
                                                      QStringLiteral("Professional"), QStringLiteral("显示名"),
                                                      QStringLiteral("d")};
    QTest::newRow("missing and empty elements") << QStringLiteral("<IMAGE><NAME/><FLAGS></FLAGS></IMAGE>") << true
                                                << QStringList{QString(), QString(), QString(), QString(), QString()};
    QTest::newRow("NAME inside another element is not the image's")
        << QStringLiteral("<IMAGE><WINDOWS><NAME>inner</NAME></WINDOWS><DISPLAYNAME>outer</DISPLAYNAME></IMAGE>")
        << true << QStringList{QString(), QString(), QString(), QStringLiteral("outer"), QString()};
    QTest::newRow("first occurrence counts")
        << QStringLiteral("<IMAGE><NAME>first</NAME><NAME>second</NAME></IMAGE>") << true
        << QStringList{QStringLiteral("first"), QString(), QString(), QString(), QString()};
    QTest::newRow("trailing NUL and whitespace kept inside values")
        << QStringLiteral("<IMAGE><NAME> spaced </NAME></IMAGE>") + QChar(0) << true
        << QStringList{QStringLiteral(" spaced "), QString(), QString(), QString(), QString()};
    QTest::newRow("raw ampersand") << QStringLiteral("<IMAGE><NAME>A&B</NAME></IMAGE>") << false << QStringList();
    QTest::newRow("raw angle bracket") << QStringLiteral("<IMAGE><NAME>a<b</NAME></IMAGE>") << false << QStringList();
    QTest::newRow("element inside NAME") << QStringLiteral("<IMAGE><NAME>a<B/></NAME></IMAGE>") << false
                                         << QStringList();
    QTest::newRow("unclosed root") << QStringLiteral("<IMAGE><NAME>a</NAME>") << false << QStringList();
    QTest::newRow("another root") << QStringLiteral("<WIM><IMAGE/></WIM>") << false << QStringList();
    QTest::newRow("two roots") << QStringLiteral("<IMAGE/><IMAGE/>") << false << QStringList();
    QTest::newRow("empty") << QString() << false << QStringList();
}

void TestWimlibXml::editableTexts()
{
    QFETCH(QString, element);
    QFETCH(bool, valid);
    QFETCH(QStringList, values);
    const auto texts = wimxml::editableTexts(element);
    QCOMPARE(texts.has_value(), valid);
    if (!valid)
        return;
    QCOMPARE(
        (QStringList{texts->name, texts->description, texts->flags, texts->displayName, texts->displayDescription}),
        values);
}

QTEST_GUILESS_MAIN(TestWimlibXml)
#include "tst_wimlib_xml.moc"
