// Reading an image's metadata text into a record and rewriting its five editable elements.
#include "archive/metadata_xml.h"

#include <QTest>
#include <QXmlStreamReader>

namespace {

// A list of UTF-8 literals (QString has no implicit conversion from char here).
QStringList strs(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *item : items)
        out << QString::fromUtf8(item);
    return out;
}

const QString kBom = QString(QChar(0xFEFF));

QString image(const QString &inner)
{
    return kBom + QStringLiteral("<IMAGE INDEX=\"1\">") + inner + QStringLiteral("</IMAGE>");
}

ImageInfo readOne(const QString &text, bool *ok = nullptr)
{
    ImageTable table;
    const bool result = ReadImageInfo(text, table);
    if (ok)
        *ok = result;
    return table.records[0];
}

// The value of the first `element` as an XML parser sees it; "<malformed: ...>"
// when the text is not well-formed.
QString parsedValue(const QString &text, const QString &element)
{
    QString xml = text;
    if (xml.startsWith(QChar(0xFEFF)))
        xml.remove(0, 1);
    QXmlStreamReader reader(xml);
    QString found;
    bool have = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!have && reader.isStartElement() && reader.name() == element) {
            found = reader.readElementText(QXmlStreamReader::IncludeChildElements);
            have = true;
        }
    }
    if (reader.hasError())
        return QStringLiteral("<malformed: ") + reader.errorString() + QLatin1Char('>');
    return have ? found : QStringLiteral("<missing>");
}

}  // namespace

class TestMetadataXml : public QObject
{
    Q_OBJECT

private slots:
    void tags_data();
    void tags();
    void expandedBytes_data();
    void expandedBytes();
    void texts_data();
    void texts();
    void entitiesDecoded_data();
    void entitiesDecoded();
    void readUnclosed_data();
    void readUnclosed();
    void readAppendsByTheTableRule();
    void setTag_data();
    void setTag();
    void callersOrderBeforeImageEnd();
    void setKeepsEveryOtherCharacter();
    void setUnclosedLeavesTextAlone();
    void roundTrip_data();
    void roundTrip();
};

void TestMetadataXml::tags_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("opening");
    QTest::addColumn<QString>("closing");
    QTest::newRow("0") << 0 << "<NAME>"
                       << "</NAME>";
    QTest::newRow("1") << 1 << "<DESCRIPTION>"
                       << "</DESCRIPTION>";
    QTest::newRow("2") << 2 << "<DISPLAYNAME>"
                       << "</DISPLAYNAME>";
    QTest::newRow("3") << 3 << "<DISPLAYDESCRIPTION>"
                       << "</DISPLAYDESCRIPTION>";
    QTest::newRow("4") << 4 << "<FLAGS>"
                       << "</FLAGS>";
}

void TestMetadataXml::tags()
{
    QFETCH(int, index);
    QFETCH(QString, opening);
    QFETCH(QString, closing);
    QCOMPARE(openingTag(MetadataTag(index)), opening);
    QCOMPARE(closingTag(MetadataTag(index)), closing);
}

void TestMetadataXml::expandedBytes_data()
{
    QTest::addColumn<QString>("inner");
    QTest::addColumn<quint64>("expected");
    QTest::newRow("no hard links") << "<TOTALBYTES>1048576</TOTALBYTES><HARDLINKBYTES>0</HARDLINKBYTES>"
                                   << quint64(1048576);
    QTest::newRow("hard links subtracted")
        << "<TOTALBYTES>1048576</TOTALBYTES><HARDLINKBYTES>1024</HARDLINKBYTES>" << quint64(1048576 - 1024);
    QTest::newRow("HARDLINKBYTES missing")
        << "<DIRCOUNT>4</DIRCOUNT><TOTALBYTES>1048576</TOTALBYTES>" << quint64(1048576);
    QTest::newRow("HARDLINKBYTES first") << "<HARDLINKBYTES>6</HARDLINKBYTES><TOTALBYTES>10</TOTALBYTES>" << quint64(4);
    QTest::newRow("both missing") << "<NAME>x</NAME>" << quint64(0);
    QTest::newRow("empty value") << "<TOTALBYTES></TOTALBYTES>" << quint64(0);
    QTest::newRow("a space counts as 0") << "<TOTALBYTES>1 024</TOTALBYTES>" << quint64(10024);
    // Other characters give their low four bits: 'a' 0x61 -> 1, 'x' 0x78 -> 8, '-' 0x2D -> 13.
    QTest::newRow("letters") << "<TOTALBYTES>1a</TOTALBYTES>" << quint64(11);
    QTest::newRow("x") << "<TOTALBYTES>x</TOTALBYTES>" << quint64(8);
    QTest::newRow("minus sign") << "<TOTALBYTES>-5</TOTALBYTES>" << quint64(135);
    QTest::newRow("fullwidth digit") << QStringLiteral("<TOTALBYTES>１２</TOTALBYTES>") << quint64(12);
    QTest::newRow("entity is not decoded in numbers") << "<TOTALBYTES>&#49;</TOTALBYTES>" << quint64(63501);
    QTest::newRow("largest") << "<TOTALBYTES>18446744073709551615</TOTALBYTES>" << quint64(18446744073709551615ull);
    QTest::newRow("2^64 wraps to 0") << "<TOTALBYTES>18446744073709551616</TOTALBYTES>" << quint64(0);
    QTest::newRow("2^64+7 wraps to 7") << "<TOTALBYTES>18446744073709551623</TOTALBYTES>" << quint64(7);
    QTest::newRow("difference wraps") << "<TOTALBYTES>0</TOTALBYTES><HARDLINKBYTES>1</HARDLINKBYTES>"
                                      << quint64(18446744073709551615ull);
    QTest::newRow("first occurrence") << "<TOTALBYTES>5</TOTALBYTES><TOTALBYTES>9</TOTALBYTES>" << quint64(5);
    QTest::newRow("lower case is another tag") << "<totalbytes>5</totalbytes>" << quint64(0);
}

void TestMetadataXml::expandedBytes()
{
    QFETCH(QString, inner);
    QFETCH(quint64, expected);
    bool ok = false;
    const ImageInfo info = readOne(image(inner), &ok);
    QVERIFY(ok);
    QCOMPARE(info.expandedBytes, expected);
}

void TestMetadataXml::texts_data()
{
    QTest::addColumn<QString>("inner");
    QTest::addColumn<QStringList>("expected");  // displayName, displayDescription, name, description, flags
    QTest::newRow("all five") << "<NAME>n</NAME><DESCRIPTION>d</DESCRIPTION><FLAGS>Professional</FLAGS>"
                                 "<DISPLAYNAME>dn</DISPLAYNAME><DISPLAYDESCRIPTION>dd</DISPLAYDESCRIPTION>"
                              << strs({"dn", "dd", "n", "d", "Professional"});
    QTest::newRow("none") << "<TOTALBYTES>1</TOTALBYTES>" << strs({"", "", "", "", ""});
    QTest::newRow("NAME not found inside DISPLAYNAME")
        << "<DISPLAYNAME>shown</DISPLAYNAME><DISPLAYDESCRIPTION>long</DISPLAYDESCRIPTION>"
        << strs({"shown", "long", "", "", ""});
    QTest::newRow("DISPLAYNAME before NAME")
        << "<DISPLAYNAME>shown</DISPLAYNAME><NAME>real</NAME><DISPLAYDESCRIPTION>x</DISPLAYDESCRIPTION>"
           "<DESCRIPTION>y</DESCRIPTION>"
        << strs({"shown", "x", "real", "y", ""});
    QTest::newRow("white space kept") << "<NAME>  two  words </NAME>" << strs({"", "", "  two  words ", "", ""});
    QTest::newRow("value ends at the next <") << "<NAME>before<b>bold</b></NAME>" << strs({"", "", "before", "", ""});
    QTest::newRow("closing tag never compared") << "<NAME>odd</DESCRIPTION>" << strs({"", "", "odd", "", ""});
    QTest::newRow("empty element") << "<NAME></NAME><FLAGS/>" << strs({"", "", "", "", ""});
    QTest::newRow("Chinese") << QStringLiteral("<NAME>映像一</NAME><DISPLAYNAME>系统 映像</DISPLAYNAME>")
                             << strs({"系统 映像", "", "映像一", "", ""});
    QTest::newRow("first occurrence wins") << "<NAME>a</NAME><NAME>b</NAME>" << strs({"", "", "a", "", ""});
    QTest::newRow("nested WINDOWS element")
        << "<WINDOWS><EDITIONID>Core</EDITIONID></WINDOWS><FLAGS>Core</FLAGS>" << strs({"", "", "", "", "Core"});
    // Empty elements as other tools write them, and tags spelled with space or attributes.
    QTest::newRow("empty tag first wins") << "<NAME/><NAME>late</NAME><FLAGS />" << strs({"", "", "", "", ""});
    QTest::newRow("empty DISPLAYNAME is not NAME") << "<DISPLAYNAME/><NAME>n</NAME>" << strs({"", "", "n", "", ""});
    QTest::newRow("longer name is another element") << "<NAMES>x</NAMES><NAME>n</NAME>" << strs({"", "", "n", "", ""});
    QTest::newRow("space and attribute in the tag")
        << "<NAME >a</NAME><FLAGS lang=\"x\">f</FLAGS>" << strs({"", "", "a", "", "f"});
}

void TestMetadataXml::texts()
{
    QFETCH(QString, inner);
    QFETCH(QStringList, expected);
    bool ok = false;
    const ImageInfo info = readOne(image(inner), &ok);
    QVERIFY(ok);
    QCOMPARE((QStringList{info.displayName, info.displayDescription, info.name, info.description, info.flags}),
             expected);
}

void TestMetadataXml::entitiesDecoded_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("shown");
    QTest::newRow("amp") << "A&amp;B"
                         << "A&B";
    QTest::newRow("lt gt") << "&lt;x&gt;"
                           << "<x>";
    QTest::newRow("quotes") << "&quot;q&quot; &apos;a&apos;"
                            << "\"q\" 'a'";
    QTest::newRow("decimal") << "&#65;&#20013;" << QStringLiteral("A中");
    QTest::newRow("hex") << "&#x42;&#x4e2D;" << QStringLiteral("B中");
    QTest::newRow("beyond the BMP") << "&#x1F600;" << QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::newRow("carriage return") << "a&#13;&#10;b"
                                     << "a\r\nb";
    QTest::newRow("decoded once") << "&amp;amp;"
                                  << "&amp;";
    QTest::newRow("unknown entity stays") << "a&nbsp;b"
                                          << "a&nbsp;b";
    QTest::newRow("bare ampersand stays") << "R&D"
                                          << "R&D";
    QTest::newRow("no semicolon") << "&amp"
                                  << "&amp";
    QTest::newRow("empty reference") << "&;"
                                     << "&;";
    QTest::newRow("not a number") << "&#12a;&#x;&#;"
                                  << "&#12a;&#x;&#;";
    QTest::newRow("upper-case X is no reference") << "&#X41;"
                                                  << "&#X41;";
    QTest::newRow("NUL not allowed") << "&#0;"
                                     << "&#0;";
    QTest::newRow("surrogate not allowed") << "&#xD800;"
                                           << "&#xD800;";
    QTest::newRow("beyond Unicode") << "&#x110000;"
                                    << "&#x110000;";
    QTest::newRow("overlong") << "&#x0000000041;"
                              << "&#x0000000041;";
    QTest::newRow("after an unknown one") << "&bogus;&amp;"
                                          << "&bogus;&";
}

void TestMetadataXml::entitiesDecoded()
{
    QFETCH(QString, written);
    QFETCH(QString, shown);
    const QString text = image(QStringLiteral("<NAME>") + written + QStringLiteral("</NAME><DISPLAYDESCRIPTION>")
                               + written + QStringLiteral("</DISPLAYDESCRIPTION>"));
    const ImageInfo info = readOne(text);
    QCOMPARE(info.name, shown);
    QCOMPARE(info.displayDescription, shown);
}

void TestMetadataXml::readUnclosed_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("filled");  // name, description, flags, displayName, displayDescription
    QTest::addColumn<quint64>("expandedBytes");
    QTest::newRow("TOTALBYTES") << "<IMAGE><TOTALBYTES>12" << strs({"", "", "", "", ""}) << quint64(0);
    QTest::newRow("HARDLINKBYTES") << "<IMAGE><TOTALBYTES>12</TOTALBYTES><NAME>n</NAME><HARDLINKBYTES>3"
                                   << strs({"", "", "", "", ""}) << quint64(0);
    QTest::newRow("NAME") << "<TOTALBYTES>12</TOTALBYTES><NAME>cut off" << strs({"", "", "", "", ""}) << quint64(12);
    QTest::newRow("DESCRIPTION after NAME")
        << "<NAME>n</NAME><FLAGS>f</FLAGS><DESCRIPTION>" << strs({"n", "", "", "", ""}) << quint64(0);
    QTest::newRow("DISPLAYDESCRIPTION last")
        << "<NAME>n</NAME><DESCRIPTION>d</DESCRIPTION><FLAGS>f</FLAGS><DISPLAYNAME>dn</DISPLAYNAME>"
           "<DISPLAYDESCRIPTION>tail"
        << strs({"n", "d", "f", "dn", ""}) << quint64(0);
    QTest::newRow("tag at the very end") << "<NAME>" << strs({"", "", "", "", ""}) << quint64(0);
}

void TestMetadataXml::readUnclosed()
{
    QFETCH(QString, text);
    QFETCH(QStringList, filled);
    QFETCH(quint64, expandedBytes);
    ImageTable table;
    QVERIFY(!ReadImageInfo(text, table));
    // The record stays counted with what was read before the failure.
    QCOMPARE(table.count, 1);
    const ImageInfo &info = table.records[0];
    QCOMPARE((QStringList{info.name, info.description, info.flags, info.displayName, info.displayDescription}), filled);
    QCOMPARE(info.expandedBytes, expandedBytes);
    QCOMPARE(kInvalidArgument, 0x80070057u);
}

void TestMetadataXml::readAppendsByTheTableRule()
{
    ImageTable table;
    for (int i = 0; i < 6; ++i)
        QVERIFY(ReadImageInfo(image(QStringLiteral("<NAME>%1</NAME>").arg(i)), table));
    QCOMPARE(table.count, 6);
    QCOMPARE(table.capacity, 6);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(table.records[std::size_t(i)].name, QString::number(i));

    // A slot freed by a removal is refilled from scratch: nothing of the old record shows through.
    table.records[5].flags = QStringLiteral("stale");
    table.records[5].expandedBytes = 99;
    table.remove(5);
    QVERIFY(ReadImageInfo(image(QStringLiteral("<NAME>new</NAME>")), table));
    QCOMPARE(table.count, 6);
    QCOMPARE(table.records[5].name, QStringLiteral("new"));
    QCOMPARE(table.records[5].flags, QString());
    QCOMPARE(table.records[5].expandedBytes, quint64(0));
}

void TestMetadataXml::setTag_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("after");
    QTest::newRow("emptied, both tags stay") << "<IMAGE><NAME>old</NAME></IMAGE>" << 0 << ""
                                             << "<IMAGE><NAME></NAME></IMAGE>";
    QTest::newRow("replaced in place") << "<IMAGE><NAME>old</NAME><FLAGS>Core</FLAGS></IMAGE>" << 4 << "Professional"
                                       << "<IMAGE><NAME>old</NAME><FLAGS>Professional</FLAGS></IMAGE>";
    QTest::newRow("empty element filled") << "<IMAGE><DESCRIPTION></DESCRIPTION></IMAGE>" << 1 << "d"
                                          << "<IMAGE><DESCRIPTION>d</DESCRIPTION></IMAGE>";
    QTest::newRow("missing, before </IMAGE>") << "<IMAGE><NAME>n</NAME></IMAGE>" << 4 << "Core"
                                              << "<IMAGE><NAME>n</NAME><FLAGS>Core</FLAGS></IMAGE>";
    QTest::newRow("missing, no </IMAGE>: at the start") << "<NAME>n</NAME>" << 4 << "Core"
                                                        << "<FLAGS>Core</FLAGS><NAME>n</NAME>";
    QTest::newRow("missing, empty text") << "" << 2 << "x"
                                         << "<DISPLAYNAME>x</DISPLAYNAME>";
    QTest::newRow("missing, empty value") << "<IMAGE></IMAGE>" << 0 << ""
                                          << "<IMAGE><NAME></NAME></IMAGE>";
    QTest::newRow("NAME inserted beside DISPLAYNAME")
        << "<IMAGE><DISPLAYNAME>shown</DISPLAYNAME></IMAGE>" << 0 << "real"
        << "<IMAGE><DISPLAYNAME>shown</DISPLAYNAME><NAME>real</NAME></IMAGE>";
    QTest::newRow("DESCRIPTION inserted beside DISPLAYDESCRIPTION")
        << "<IMAGE><DISPLAYDESCRIPTION>x</DISPLAYDESCRIPTION></IMAGE>" << 1 << "y"
        << "<IMAGE><DISPLAYDESCRIPTION>x</DISPLAYDESCRIPTION><DESCRIPTION>y</DESCRIPTION></IMAGE>";
    QTest::newRow("only the first occurrence") << "<IMAGE><NAME>a</NAME><NAME>b</NAME></IMAGE>" << 0 << "c"
                                               << "<IMAGE><NAME>c</NAME><NAME>b</NAME></IMAGE>";
    QTest::newRow("first </IMAGE>") << "<WIM><IMAGE></IMAGE><IMAGE></IMAGE></WIM>" << 0 << "n"
                                    << "<WIM><IMAGE><NAME>n</NAME></IMAGE><IMAGE></IMAGE></WIM>";
    QTest::newRow("value up to the next < is replaced") << "<IMAGE><NAME>old<b>x</b></NAME></IMAGE>" << 0 << "new"
                                                        << "<IMAGE><NAME>new<b>x</b></NAME></IMAGE>";
    QTest::newRow("ampersand escaped") << "<IMAGE><NAME></NAME></IMAGE>" << 0 << "A&B"
                                       << "<IMAGE><NAME>A&amp;B</NAME></IMAGE>";
    QTest::newRow("angle brackets escaped") << "<IMAGE></IMAGE>" << 4 << "<x>"
                                            << "<IMAGE><FLAGS>&lt;x&gt;</FLAGS></IMAGE>";
    QTest::newRow("typed entity escaped") << "<IMAGE><NAME>q</NAME></IMAGE>" << 0 << "&amp;"
                                          << "<IMAGE><NAME>&amp;amp;</NAME></IMAGE>";
    QTest::newRow("empty tag becomes the element") << "<IMAGE><FLAGS/></IMAGE>" << 4 << "Core"
                                                   << "<IMAGE><FLAGS>Core</FLAGS></IMAGE>";
    QTest::newRow("empty tag set empty") << "<IMAGE><FLAGS/><NAME>n</NAME></IMAGE>" << 4 << ""
                                         << "<IMAGE><FLAGS></FLAGS><NAME>n</NAME></IMAGE>";
    QTest::newRow("empty tag before a full one") << "<IMAGE><NAME /><NAME>b</NAME></IMAGE>" << 0 << "A&B"
                                                 << "<IMAGE><NAME >A&amp;B</NAME><NAME>b</NAME></IMAGE>";
    QTest::newRow("empty DISPLAYNAME left alone") << "<IMAGE><DISPLAYNAME/></IMAGE>" << 0 << "n"
                                                  << "<IMAGE><DISPLAYNAME/><NAME>n</NAME></IMAGE>";
    QTest::newRow("attributes kept") << "<IMAGE><FLAGS a=\"1\"/><NAME a=\"2\">x</NAME></IMAGE>" << 4 << "C"
                                     << "<IMAGE><FLAGS a=\"1\">C</FLAGS><NAME a=\"2\">x</NAME></IMAGE>";
    QTest::newRow("quotes need no escape") << "<IMAGE><NAME>q</NAME></IMAGE>" << 0 << "\"'"
                                           << "<IMAGE><NAME>\"'</NAME></IMAGE>";
}

void TestMetadataXml::setTag()
{
    QFETCH(QString, before);
    QFETCH(int, index);
    QFETCH(QString, value);
    QFETCH(QString, after);
    QString text = before;
    QVERIFY(SetMetadataTag(text, value, MetadataTag(index)));
    QCOMPARE(text, after);
}

void TestMetadataXml::callersOrderBeforeImageEnd()
{
    QString text = image(QStringLiteral("<TOTALBYTES>5</TOTALBYTES>"));
    for (int index : {1, 0, 4, 3, 2})
        QVERIFY(SetMetadataTag(text, QStringLiteral("v%1").arg(index), MetadataTag(index)));
    QCOMPARE(text, image(QStringLiteral("<TOTALBYTES>5</TOTALBYTES><DESCRIPTION>v1</DESCRIPTION><NAME>v0</NAME>"
                                        "<FLAGS>v4</FLAGS><DISPLAYDESCRIPTION>v3</DISPLAYDESCRIPTION>"
                                        "<DISPLAYNAME>v2</DISPLAYNAME>")));
    const ImageInfo info = readOne(text);
    QCOMPARE((QStringList{info.name, info.description, info.displayName, info.displayDescription, info.flags}),
             (strs({"v0", "v1", "v2", "v3", "v4"})));
    QCOMPARE(info.expandedBytes, quint64(5));
}

void TestMetadataXml::setKeepsEveryOtherCharacter()
{
    // What wimlib gives for an image, with a byte-order mark and a prologue
    // before the first element; only the NAME value may change.
    const QString prefix = kBom
                           + QStringLiteral("<IMAGE INDEX=\"2\">\r\n  <DIRCOUNT>3</DIRCOUNT>\n"
                                            "  <WINDOWS><ARCH>9</ARCH><LANGUAGES><LANGUAGE>zh-CN</LANGUAGE>"
                                            "</LANGUAGES></WINDOWS>\t<NAME>");
    const QString suffix = QStringLiteral("</NAME>\n  <CREATIONTIME><HIGHPART>0x01D</HIGHPART></CREATIONTIME>"
                                          "&amp;\n</IMAGE>");
    QString text = prefix + QStringLiteral("old name") + suffix;
    QVERIFY(SetMetadataTag(text, QStringLiteral("新的名字"), MetadataTag::Name));
    QCOMPARE(text, prefix + QStringLiteral("新的名字") + suffix);
    QVERIFY(text.startsWith(kBom));

    // A missing element goes before </IMAGE>; the BOM and the rest stay.
    QString inserted = prefix + QStringLiteral("n") + suffix;
    QVERIFY(SetMetadataTag(inserted, QStringLiteral("Core"), MetadataTag::Flags));
    const qsizetype end = suffix.indexOf(QStringLiteral("</IMAGE>"));
    QCOMPARE(inserted,
             prefix + QStringLiteral("n") + suffix.left(end) + QStringLiteral("<FLAGS>Core</FLAGS>") + suffix.mid(end));
}

void TestMetadataXml::setUnclosedLeavesTextAlone()
{
    const QString before = image(QStringLiteral("<NAME>n</NAME>")) + QStringLiteral("<DESCRIPTION>no end");
    QString text = before;
    QVERIFY(!SetMetadataTag(text, QStringLiteral("x"), MetadataTag::Description));
    QCOMPARE(text, before);
    // Another element of the same text is still found and set.
    QVERIFY(SetMetadataTag(text, QStringLiteral("m"), MetadataTag::Name));
    QVERIFY(text.contains(QStringLiteral("<NAME>m</NAME>")));
}

void TestMetadataXml::roundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("ampersand") << "A&B";
    QTest::newRow("tag-like") << "<x>";
    QTest::newRow("Chinese") << QStringLiteral("中文映像 专业版");
    QTest::newRow("entity typed literally") << "&amp;";
    QTest::newRow("reference typed literally") << "&#65;";
    QTest::newRow("quotes") << "say \"hi\" it's";
    QTest::newRow("everything") << "<a href=\"x&y\">&lt;</a>";
    QTest::newRow("CR LF") << "line one\r\nline two";
    QTest::newRow("spaces") << "  padded  ";
    QTest::newRow("empty") << "";
    QTest::newRow("emoji") << QString::fromUtf8("\xF0\x9F\x98\x80 smile");
    QTest::newRow("closing tag typed") << "</NAME></IMAGE>";
}

void TestMetadataXml::roundTrip()
{
    QFETCH(QString, value);
    const QStringList starts{
        image(QStringLiteral("<TOTALBYTES>1</TOTALBYTES>")),
        image(QStringLiteral("<NAME>old</NAME><DESCRIPTION>old</DESCRIPTION>"
                             "<FLAGS>old</FLAGS><DISPLAYNAME>old</DISPLAYNAME>"
                             "<DISPLAYDESCRIPTION>old</DISPLAYDESCRIPTION>")),
        image(QStringLiteral("<NAME/><DESCRIPTION /><FLAGS/><DISPLAYNAME/><DISPLAYDESCRIPTION/>"))};
    for (const QString &start : starts) {
        QString text = start;
        for (int index : {1, 0, 4, 3, 2})
            QVERIFY(SetMetadataTag(text, value, MetadataTag(index)));
        const ImageInfo info = readOne(text);
        QCOMPARE(info.name, value);
        QCOMPARE(info.description, value);
        QCOMPARE(info.flags, value);
        QCOMPARE(info.displayName, value);
        QCOMPARE(info.displayDescription, value);
        // Well-formed, and an XML parser reads the same texts.
        QCOMPARE(parsedValue(text, QStringLiteral("NAME")), value);
        QCOMPARE(parsedValue(text, QStringLiteral("DISPLAYDESCRIPTION")), value);
        QCOMPARE(parsedValue(text, QStringLiteral("FLAGS")), value);
        // Setting it again changes nothing.
        const QString once = text;
        for (int index : {1, 0, 4, 3, 2})
            QVERIFY(SetMetadataTag(text, value, MetadataTag(index)));
        QCOMPARE(text, once);
    }
}

QTEST_APPLESS_MAIN(TestMetadataXml)
#include "tst_metadata_xml.moc"
