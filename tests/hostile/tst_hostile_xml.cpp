// Hostile XML in a report file: entity bombs, references to outside files,
// broken and unusual encodings, very deep nesting and very many attributes.
// Each must end in a clear outcome, with bounded time and memory.

#include "hostile.h"

#include <QtTest>

using namespace hostile;

namespace {

const QByteArray kOpen = "<report code=\"F\" year=\"2014\" period=\"1\">\n";
const QByteArray kCells = "<section code=\"1\"><row code=\"1\"><col code=\"1\">&m;</col><col code=\"2\">5</col></row></section>";

// Ten entities, each ten references to the one before: 10^9 times "lol".
QByteArray laughs()
{
    QByteArray d = "<!DOCTYPE report [\n<!ENTITY l0 \"lol\">\n";
    for (int i = 1; i < 10; ++i)
        d += "<!ENTITY l" + QByteArray::number(i) + " \""
                + ("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">\n";
    return d + "]>\n";
}

Maker quadratic()
{
    return [](const QString &, const QString &file) {
        Writer w(file);
        w << "<!DOCTYPE report [<!ENTITY a \"" + QByteArray(4096, 'x') + "\">]>\n" << kOpen
          << "<title><item name=\"n\" value=\"1\"/></title>\n";
        w.repeat("&a;", 1000000) << "\n</report>\n";
        return w.close();
    };
}

Maker deep(const QByteArray &before, const QByteArray &open, const QByteArray &middle,
           const QByteArray &close, const QByteArray &after)
{
    return [=](const QString &, const QString &file) {
        Writer w(file);
        w << kOpen << before;
        w.repeat(open, 1000000) << middle;
        w.repeat(close, 1000000) << after << "</report>\n";
        return w.close();
    };
}

Maker manyAttributes()
{
    return [](const QString &, const QString &file) {
        Writer w(file);
        w << "<report";
        for (int i = 0; i < 300000; ++i)
            w << " a" + QByteArray::number(i) + "=\"" + QByteArray::number(i) + "\"";
        w << " code=\"F\" year=\"2014\" period=\"1\"><section code=\"1\"><row code=\"1\"><col";
        for (int i = 0; i < 300000; ++i)
            w << " b" + QByteArray::number(i) + "=\"\"";
        w << " code=\"1\">7</col></row></section></report>\n";
        return w.close();
    };
}

Maker utf16(bool bigEndian)
{
    return [bigEndian](const QString &, const QString &file) {
        const QString text = QStringLiteral("<report code=\"Ф\" year=\"2014\" period=\"1\"><title><item "
                                            "name=\"имя\" value=\"Ё\"/></title>")
                + QStringLiteral("<section code=\"1\"><row code=\"1\"><col code=\"2\">5</col></row></section></report>");
        QByteArray bytes;
        for (QChar ch : QChar(0xfeff) + text) {
            const char hi = char(ch.unicode() >> 8), lo = char(ch.unicode() & 0xff);
            bytes += bigEndian ? QByteArray{&hi, 1} + lo : QByteArray{&lo, 1} + hi;
        }
        return writeFile(file, bytes);
    };
}

} // namespace

class TestHostileXml : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFileInfo(cliPath()).isExecutable(), qPrintable(cliPath())); }

    void document_data();
    void document() { documentCase(); }
};

void TestHostileXml::document_data()
{
    addDocumentColumns();
    const Files withItem = one(Summed().item("n", "1").add(1, 1, 2, "5"));

    // Entity bombs end in an XML error at the reference that would expand too far.
    QTest::newRow("billion laughs in a col")
            << fixed(laughs() + kOpen + "<section code=\"1\"><row code=\"1\"><col code=\"1\">&l9;</col></row></section>\n</report>\n")
            << 1 << readErrorExactly(xmlError("a.xml", 14, 47)) << Files() << 64;
    QTest::newRow("billion laughs in an attribute")
            << fixed(laughs() + kOpen + "<title><item name=\"n\" value=\"&l9;\"/></title>\n</report>\n")
            << 1 << readErrorExactly(xmlError("a.xml", 14, 8)) << Files() << 64;
    QTest::newRow("4 KB entity referenced a million times")
            << quadratic() << 1
            << readErrorPattern(QRegularExpression::escape(QStringLiteral(
                       "Не удалось прочитать файл a.xml : ошибка XML в строке 4, столбце "))
                                + "\\d+")
            << Files() << 200;

    // Nothing outside the file is ever loaded: an outside entity in content is
    // passed over, one in an attribute value is an XML error.
    QTest::newRow("external entity in a col")
            << fixed("<!DOCTYPE report [<!ENTITY m SYSTEM \"file://@ROOT@/secret.txt\">]>\n" + kOpen + kCells
                     + "<title><item name=\"n\" value=\"1\"/>&m;</title></report>\n")
            << 0 << QString() << withItem << 64;
    QTest::newRow("external entity in an attribute")
            << fixed("<!DOCTYPE report [<!ENTITY m SYSTEM \"file://@ROOT@/secret.txt\">]>\n" + kOpen
                     + "<title><item name=\"n\" value=\"&m;\"/></title>" + kCells + "</report>\n")
            << 1 << readErrorExactly(xmlError("a.xml", 3, 30)) << Files() << 64;
    QTest::newRow("external DTD")
            << fixed("<!DOCTYPE report SYSTEM \"@ROOT@/secret.dtd\">\n" + kOpen
                     + "<title><item name=\"n\" value=\"1&m;&n;\"/></title>" + kCells + "</report>\n")
            << 0 << QString() << withItem << 64;
    QTest::newRow("external parameter entity")
            << fixed("<!DOCTYPE report [<!ENTITY % p SYSTEM \"file://@ROOT@/secret.dtd\"> %p; %q;]>\n" + kOpen
                     + "<title><item name=\"n\" value=\"1&m;&n;\"/></title>" + kCells + "</report>\n")
            << 0 << QString() << withItem << 64;
    QTest::newRow("internal parameter entity declaring an external one")
            << fixed("<!DOCTYPE report [<!ENTITY % p \"<!ENTITY m SYSTEM 'file://@ROOT@/secret.txt'>\"> %p;]>\n"
                     + kOpen + "<title><item name=\"n\" value=\"1\"/></title>" + kCells + "</report>\n")
            << 0 << QString() << withItem << 64;

    // Encodings: broken bytes after the report tag are an XML error at their
    // place; before it there is no report element; UTF-16 with a BOM is read.
    QTest::newRow("invalid UTF-8 after the report tag")
            << fixed(kOpen + "<sections>\n\xff\xfe<section/></sections></report>\n")
            << 1 << readErrorExactly(xmlError("a.xml", 3, 1)) << Files() << 64;
    QTest::newRow("cut UTF-8 sequence in a col")
            << fixed(kOpen + "<section code=\"1\"><row code=\"1\"><col code=\"1\">5\xd0</col></row></section></report>\n")
            << 1 << readErrorExactly(xmlError("a.xml", 2, 48)) << Files() << 64;
    QTest::newRow("NUL after the report tag")
            << fixed(kOpen + "<sections>\n" + QByteArray(1, '\0') + "</sections></report>\n")
            << 1 << readErrorExactly(xmlError("a.xml", 3, 1)) << Files() << 64;
    QTest::newRow("NUL before the report tag")
            << fixed(QByteArray(1, '\0') + kOpen + "</report>\n")
            << 1 << readErrorExactly(noReportElement("a.xml")) << Files() << 64;
    QTest::newRow("unknown declared encoding")
            << fixed("<?xml version=\"1.0\" encoding=\"x-no-such-thing\"?>\n" + kOpen + "</report>\n")
            << 1 << readErrorExactly(xmlError("a.xml", 1, 31)) << Files() << 64;
    Summed cyrillic;
    cyrillic.code = QStringLiteral("Ф").toUtf8();
    cyrillic.item(QStringLiteral("имя"), QStringLiteral("Ё")).add(1, 1, 2, "5");
    QTest::newRow("UTF-16 LE with BOM") << utf16(false) << 0 << QString() << one(cyrillic) << 64;
    QTest::newRow("UTF-16 BE with BOM") << utf16(true) << 0 << QString() << one(cyrillic) << 64;

    // Depth and width: well-formed, so the usual rules give the sums.
    const Files seven = one(Summed().add(1, 1, 1, "7"));
    QTest::newRow("1,000,000 deep inside a col")
            << deep("<section code=\"1\"><row code=\"1\"><col code=\"1\">7", "<a>", "8", "</a>",
                    "</col><col code=\"2\"><b/>9</col></row></section>")
            << 0 << QString() << seven << 256;
    QTest::newRow("1,000,000 deep around the sections")
            << deep("", "<x>", "<sections><section code=\"1\"><row code=\"1\"><col code=\"1\">7</col></row></section></sections>",
                    "</x>", "")
            << 0 << QString() << seven << 256;
    QTest::newRow("300,000 attributes on one element") << manyAttributes() << 0 << QString() << seven << 128;
}

QTEST_GUILESS_MAIN(TestHostileXml)
#include "tst_hostile_xml.moc"
