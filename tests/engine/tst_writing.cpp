// Writing the summed reports: the exact bytes of the output files, their names,
// the checks made before anything is written, and the failures.

#include "summer.h"
#include "testutil.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <csignal>
#include <sys/resource.h>

namespace {

const QString kCannotOpen = QStringLiteral("Не получается открыть файл для записи");

QString badNameMessage(const QString &name)
{
    return QStringLiteral("Недопустимое имя файла: ") + name;
}

QString clashMessage(const QString &name)
{
    return QStringLiteral("Разные отчеты дают одно имя файла: ") + name;
}

QString cannotWriteMessage(const QString &name)
{
    return QStringLiteral("Не удалось записать файл ") + name;
}

using Files = QList<QPair<QString, QByteArray>>;

bool writeInputs(const QString &dir, const Files &files)
{
    for (const auto &f : files)
        if (!tu::writeFile(QDir(dir).filePath(f.first), f.second))
            return false;
    return true;
}

// A report with one cell 1/1/1 holding the given value.
QByteArray groupReport(const QByteArray &code, const QByteArray &year, const QByteArray &period,
                       const QByteArray &value = "1")
{
    return tu::report("code=\"" + code + "\" year=\"" + year + "\" period=\"" + period + "\"",
                      tu::cell("1", "1", "1", value));
}

// The whole expected file of a group with one row 1 and one column 1.
QByteArray simpleOutput(const QByteArray &reportAttrs, const QByteArray &items, const QByteArray &rowAttrs,
                        const QByteArray &number)
{
    return "<report " + reportAttrs + ">\n"
           " <title>\n" + items +
           " </title>\n"
           " <sections>\n"
           "  <section code=\"1\">\n"
           "   <row code=\"1\"" + rowAttrs + ">\n"
           "    <col code=\"1\">" + number + "</col>\n"
           "   </row>\n"
           "  </section>\n"
           " </sections>\n"
           "</report>\n";
}

// Keeps a folder's listing and the bytes of every file in it.
QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> out;
    for (const QString &name : tu::entries(dir)) {
        const QString path = QDir(dir).filePath(name);
        out.insert(name, QFileInfo(path).isDir() ? QByteArray("<folder>") : tu::readFile(path));
    }
    return out;
}

} // namespace

class TestWriting : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;
    int caseNumber = 0;

    // A fresh input folder with the given files, read into summer. Returns the folder.
    QString readInputs(Summer &summer, const Files &files)
    {
        const QString in = work.filePath(QStringLiteral("in%1").arg(++caseNumber));
        if (!QDir().mkpath(in) || !writeInputs(in, files) || !summer.readReports(in))
            return QString();
        return in;
    }
    QString freshOutput() { return work.filePath(QStringLiteral("out%1").arg(++caseNumber)); }

private slots:
    void initTestCase() { QVERIFY(work.isValid()); }

    // ---- Exact bytes ----------------------------------------------------------------

    void goldenTwoGroups()
    {
        const QByteArray a = R"(<report code="ABCDEFGHIJKL" year="2014" period="3" form="zzz">
 <title>
  <item name="okpo" value="111"/>
  <item name="b" value="2"/>
  <item name="A" value="1"/>
  <item name="a" value="x &amp; &lt;y&gt; &quot;z&quot; 'w'"/>
 </title>
 <sections>
  <section code="10">
   <row code="5" s1="b"><col code="2">1.5</col><col code="1">0.1</col></row>
   <row code="5"><col code="3">0</col></row>
  </section>
  <section code="2">
   <row code="1" s2="only s2"><col code="4294967295">-7.25</col></row>
  </section>
 </sections>
</report>
)";
        const QByteArray b = R"(<draft code="ABCDEFGHIJKL" year="2014" period="3"><sections><section code="10"><row code="5" s1="b"><col code="1">0.2</col></row></section></sections></draft>)";
        const QByteArray c = R"(<report code="F1" year="Y2" period="P3"><title><item name="b" value="3"/></title>
<sections><section code="1"><row code="7" s3="z" s2="y" s1="x"><col code="1">
  150
</col></row></section></sections></report>)";

        const QByteArray expectedFirst = R"(<report code="ABCDEFGHIJKL" year="2014" period="3" form="GHI">
 <title>
  <item name="okpo" value="12345678"/>
  <item name="A" value="1"/>
  <item name="a" value="x &amp; &lt;y> &quot;z&quot; 'w'"/>
  <item name="b" value="3"/>
 </title>
 <sections>
  <section code="2">
   <row code="1" s2="only s2">
    <col code="4294967295">-7.25</col>
   </row>
  </section>
  <section code="10">
   <row code="5">
    <col code="3">0</col>
   </row>
   <row code="5" s1="b">
    <col code="1">0.3</col>
    <col code="2">1.5</col>
   </row>
  </section>
 </sections>
</report>
)";
        const QByteArray expectedSecond = R"(<report code="F1" year="Y2" period="P3" form="1">
 <title>
  <item name="okpo" value="12345678"/>
  <item name="A" value="1"/>
  <item name="a" value="x &amp; &lt;y> &quot;z&quot; 'w'"/>
  <item name="b" value="3"/>
 </title>
 <sections>
  <section code="1">
   <row code="7" s1="x" s2="y" s3="z">
    <col code="1">150</col>
   </row>
  </section>
 </sections>
</report>
)";
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", a}, {"b.xml", b}, {"c.xml", c}}).isEmpty());
        const QString out = freshOutput();
        QVERIFY2(summer.writeReports(out, "12345678"), qPrintable(summer.lastError()));
        QCOMPARE(summer.lastError(), QString());
        QCOMPARE(tu::entries(out), QStringList({"ABCDEFGHIJKL_2014_3.xml", "F1_Y2_P3.xml"}));
        QCOMPARE(tu::readFile(out + "/ABCDEFGHIJKL_2014_3.xml"), expectedFirst);
        QCOMPARE(tu::readFile(out + "/F1_Y2_P3.xml"), expectedSecond);
    }

    void goldenEscapesAndEmptyTexts()
    {
        const QByteArray in = "<report code=\"\xd0\x9e\xd0\x9a\xd0\xa3\xd0\x94\" year=\"2014\">"
                              "<title><item value=\"no name\"/>"
                              "<item name=\"okpo\" value=\"from input\"/>"
                              "<item name=\"q\" value=\"&lt;&amp;&quot;'&gt;&#9;&#10;&#13;\"/></title>"
                              "<sections><section code=\"000\"><row code=\"0\" s1=\"a&#9;b\" s2=\"l1&#10;l2\" s3=\"cr&#13;\">"
                              "<col code=\"0\">-0</col></row></section></sections></report>";
        const QByteArray expected = "<report code=\"\xd0\x9e\xd0\x9a\xd0\xa3\xd0\x94\" year=\"2014\" period=\"\" form=\"1\">\n"
                                    " <title>\n"
                                    "  <item name=\"okpo\" value=\"\"/>\n"
                                    "  <item name=\"\" value=\"no name\"/>\n"
                                    "  <item name=\"q\" value=\"&lt;&amp;&quot;'>&#x9;&#xa;&#xd;\"/>\n"
                                    " </title>\n"
                                    " <sections>\n"
                                    "  <section code=\"0\">\n"
                                    "   <row code=\"0\" s1=\"a&#x9;b\" s2=\"l1&#xa;l2\" s3=\"cr&#xd;\">\n"
                                    "    <col code=\"0\">0</col>\n"
                                    "   </row>\n"
                                    "  </section>\n"
                                    " </sections>\n"
                                    "</report>\n";
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", in}}).isEmpty());
        const QString out = freshOutput();
        QVERIFY2(summer.writeReports(out, QString()), qPrintable(summer.lastError()));
        const QString name = QStringLiteral("ОКУД_2014_.xml");
        QCOMPARE(tu::entries(out), QStringList{name});
        QCOMPARE(tu::readFile(QDir(out).filePath(name)), expected);
    }

    // ---- Parts of the output ---------------------------------------------------------

    void formAttribute_data()
    {
        QTest::addColumn<QByteArray>("code");        // as written in the input
        QTest::addColumn<QByteArray>("firstLine");   // expected, without the line end
        QTest::newRow("7 characters") << QByteArray("ABCDEFG")
                                      << QByteArray("<report code=\"ABCDEFG\" year=\"1\" period=\"1\" form=\"1\">");
        QTest::newRow("8 characters") << QByteArray("ABCDEFGH")
                                      << QByteArray("<report code=\"ABCDEFGH\" year=\"1\" period=\"1\" form=\"1\">");
        QTest::newRow("9 characters") << QByteArray("ABCDEFGHI")
                                      << QByteArray("<report code=\"ABCDEFGHI\" year=\"1\" period=\"1\" form=\"GHI\">");
        QTest::newRow("12 characters") << QByteArray("ABCDEFGHIJKL")
                                       << QByteArray("<report code=\"ABCDEFGHIJKL\" year=\"1\" period=\"1\" form=\"GHI\">");
        QTest::newRow("digits") << QByteArray("0609123456")
                                << QByteArray("<report code=\"0609123456\" year=\"1\" period=\"1\" form=\"345\">");
        QTest::newRow("empty code") << QByteArray("")
                                    << QByteArray("<report code=\"\" year=\"1\" period=\"1\" form=\"1\">");
        QTest::newRow("cyrillic") << QByteArray("ОКУДФОРМА1")
                                  << QByteArray("<report code=\"ОКУДФОРМА1\" year=\"1\" period=\"1\" form=\"РМА\">");
        // Three surrogate pairs are six UTF-16 code units.
        QTest::newRow("counted in utf-16 units") << QByteArray("😀😀😀XYZW")
                                                 << QByteArray("<report code=\"😀😀😀XYZW\" year=\"1\" period=\"1\" form=\"XYZ\">");
        QTest::newRow("escaped form") << QByteArray("abcdef&amp;'x")
                                      << QByteArray("<report code=\"abcdef&amp;'x\" year=\"1\" period=\"1\" form=\"&amp;'x\">");
    }
    void formAttribute()
    {
        QFETCH(QByteArray, code);
        QFETCH(QByteArray, firstLine);
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", groupReport(code, "1", "1")}}).isEmpty());
        const QString out = freshOutput();
        QVERIFY2(summer.writeReports(out, "1"), qPrintable(summer.lastError()));
        const QStringList files = tu::entries(out);
        QCOMPARE(files.size(), 1);
        const QByteArray content = tu::readFile(QDir(out).filePath(files.first()));
        QCOMPARE(content.left(content.indexOf('\n')), firstLine);
    }

    void titleItems_data()
    {
        QTest::addColumn<QByteArray>("items"); // input title items
        QTest::addColumn<QString>("okpo");
        QTest::addColumn<QByteArray>("expected"); // the item lines of the output
        QTest::newRow("okpo from the input is replaced")
                << QByteArray("<item name=\"okpo\" value=\"999\"/><item name=\"x\" value=\"1\"/><item name=\"okpo\" value=\"998\"/>")
                << "12345"
                << QByteArray("  <item name=\"okpo\" value=\"12345\"/>\n  <item name=\"x\" value=\"1\"/>\n");
        QTest::newRow("other spellings of okpo are ordinary items")
                << QByteArray("<item name=\"OKPO\" value=\"1\"/><item name=\"okpo \" value=\"2\"/><item name=\"Okpo\" value=\"3\"/>")
                << "7"
                << QByteArray("  <item name=\"okpo\" value=\"7\"/>\n  <item name=\"OKPO\" value=\"1\"/>\n"
                              "  <item name=\"Okpo\" value=\"3\"/>\n  <item name=\"okpo \" value=\"2\"/>\n");
        QTest::newRow("names in code unit order")
                << QByteArray("<item name=\"b\" value=\"1\"/><item name=\"A\" value=\"2\"/><item name=\"a\" value=\"3\"/>"
                              "<item name=\"\xd0\xb0\" value=\"4\"/><item name=\"_\" value=\"5\"/><item name=\"10\" value=\"6\"/>"
                              "<item name=\"9\" value=\"7\"/>")
                << "1"
                << QByteArray("  <item name=\"okpo\" value=\"1\"/>\n  <item name=\"10\" value=\"6\"/>\n"
                              "  <item name=\"9\" value=\"7\"/>\n  <item name=\"A\" value=\"2\"/>\n"
                              "  <item name=\"_\" value=\"5\"/>\n  <item name=\"a\" value=\"3\"/>\n"
                              "  <item name=\"b\" value=\"1\"/>\n  <item name=\"\xd0\xb0\" value=\"4\"/>\n");
        QTest::newRow("empty okpo") << QByteArray() << QString()
                                    << QByteArray("  <item name=\"okpo\" value=\"\"/>\n");
        QTest::newRow("okpo verbatim") << QByteArray() << QStringLiteral(" 0012 & \"x\" ")
                                       << QByteArray("  <item name=\"okpo\" value=\" 0012 &amp; &quot;x&quot; \"/>\n");
    }
    void titleItems()
    {
        QFETCH(QByteArray, items);
        QFETCH(QString, okpo);
        QFETCH(QByteArray, expected);
        const QByteArray in = "<report code=\"F\" year=\"1\" period=\"1\"><title>" + items + "</title><sections>"
                + tu::cell("1", "1", "1", "5") + "</sections></report>";
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", in}}).isEmpty());
        const QString out = freshOutput();
        QVERIFY2(summer.writeReports(out, okpo), qPrintable(summer.lastError()));
        QCOMPARE(tu::readFile(out + "/F_1_1.xml"),
                 simpleOutput("code=\"F\" year=\"1\" period=\"1\" form=\"1\"", expected, "", "5"));
    }

    void rowAttributes_data()
    {
        QTest::addColumn<QByteArray>("inputAttrs");
        QTest::addColumn<QByteArray>("outputAttrs");
        QTest::newRow("none") << QByteArray() << QByteArray();
        QTest::newRow("all empty") << QByteArray(" s1=\"\" s2=\"\" s3=\"\"") << QByteArray();
        QTest::newRow("s1 only") << QByteArray(" s1=\"a\"") << QByteArray(" s1=\"a\"");
        QTest::newRow("s2 only") << QByteArray(" s1=\"\" s2=\"b\" s3=\"\"") << QByteArray(" s2=\"b\"");
        QTest::newRow("s3 only") << QByteArray(" s3=\"c\"") << QByteArray(" s3=\"c\"");
        QTest::newRow("s1 and s3") << QByteArray(" s3=\"c\" s1=\"a\"") << QByteArray(" s1=\"a\" s3=\"c\"");
        QTest::newRow("blank is not empty") << QByteArray(" s1=\" \"") << QByteArray(" s1=\" \"");
        QTest::newRow("other attributes dropped") << QByteArray(" S1=\"x\" s4=\"y\" s2=\"b\"") << QByteArray(" s2=\"b\"");
        QTest::newRow("names that begin like s1")
            << QByteArray(" s=\"x\" s0=\"x\" s10=\"x\" s1x=\"x\" codes=\"x\" s3=\"c\"") << QByteArray(" s3=\"c\"");
    }
    void rowAttributes()
    {
        QFETCH(QByteArray, inputAttrs);
        QFETCH(QByteArray, outputAttrs);
        // An earlier row with every attribute, which adds nothing: nothing of it
        // may stay with the row read after it.
        const QByteArray in = "<report code=\"F\" year=\"1\" period=\"1\"><sections>"
                              "<section code=\"1\"><row code=\"1\" s1=\"x\" s2=\"y\" s3=\"z\"/></section>"
                              "<section code=\"1\"><row code=\"1\""
                + inputAttrs + "><col code=\"1\">5</col></row></section></sections></report>";
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", in}}).isEmpty());
        const QString out = freshOutput();
        QVERIFY2(summer.writeReports(out, "1"), qPrintable(summer.lastError()));
        QCOMPARE(tu::readFile(out + "/F_1_1.xml"),
                 simpleOutput("code=\"F\" year=\"1\" period=\"1\" form=\"1\"",
                              "  <item name=\"okpo\" value=\"1\"/>\n", outputAttrs, "5"));
    }

    void numberText_data()
    {
        QTest::addColumn<QList<QByteArray>>("values"); // added into one cell, in this order
        QTest::addColumn<QByteArray>("text");
        auto row = [](const char *name, QList<QByteArray> v, const char *t) {
            QTest::newRow(name) << v << QByteArray(t);
        };
        row("whole number", {"150"}, "150");
        row("trailing zeros dropped", {"2.50"}, "2.5");
        row("0.1 + 0.2", {"0.1", "0.2"}, "0.3");
        row("0.1 + 0.7", {"0.1", "0.7"}, "0.8");
        row("one third", {"0.333333333333333333"}, "0.333333333333333");
        row("cancelling to zero", {"-0.1", "0.1"}, "0");
        row("zero", {"0"}, "0");
        row("negative zero", {"-0"}, "0");
        row("negative", {"-7.25"}, "-7.25");
        row("15 digits", {"999999999999999"}, "999999999999999");
        row("10^14", {"100000000000000"}, "100000000000000");
        row("10^15", {"1e15"}, "1e+15");
        row("rounds up to 10^15", {"999999999999999.5"}, "1e+15");
        row("rounds to 10^14", {"99999999999999.95"}, "100000000000000");
        row("many digits", {"123456789012345678"}, "1.23456789012346e+17");
        row("large exponent", {"1e100"}, "1e+100");
        row("0.0001", {"0.0001"}, "0.0001");
        row("0.00001", {"0.00001"}, "1e-05");
        row("rounds up to 0.0001", {"0.000099999999999999999"}, "0.0001");
        row("small with digits", {"0.000123456789012345678"}, "0.000123456789012346");
        row("small negative", {"-1.5e-7"}, "-1.5e-07");
        row("tiny", {"1e-300"}, "1e-300");
        row("fraction", {"12345.678"}, "12345.678");
        row("comma decimal input", {"12,5", "0,25"}, "12.75");
        row("beyond 32 bits", {"4294967296"}, "4294967296");
        row("big plus ones", {"1e16", "1", "1"}, "1e+16");
    }
    void numberText()
    {
        QFETCH(QList<QByteArray>, values);
        QFETCH(QByteArray, text);
        QByteArray cells;
        for (const QByteArray &v : values)
            cells += tu::cell("1", "1", "1", v);
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", tu::report("code=\"N\" year=\"1\" period=\"1\"", cells)}}).isEmpty());
        const QString out = freshOutput();
        QVERIFY2(summer.writeReports(out, "1"), qPrintable(summer.lastError()));
        QCOMPARE(tu::readFile(out + "/N_1_1.xml"),
                 simpleOutput("code=\"N\" year=\"1\" period=\"1\" form=\"1\"",
                              "  <item name=\"okpo\" value=\"1\"/>\n", "", text));
    }

    void numberTextIgnoresLocale()
    {
        const QLocale savedDefault;
        const QByteArray savedC = std::setlocale(LC_ALL, nullptr);
        const char *candidates[] = {"ru_RU.UTF-8", "ru_RU.utf8", "ru_RU", "de_DE.UTF-8", "de_DE.utf8",
                                    "fr_FR.UTF-8", "fr_FR.utf8"};
        QByteArray cLocale;
        for (const char *name : candidates) {
            if (std::setlocale(LC_ALL, name)) {
                cLocale = name;
                break;
            }
        }
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        if (cLocale.isEmpty())
            qInfo("no C library locale with a decimal comma is installed; checking the Qt locale only");

        Summer summer;
        const QString in = readInputs(summer, {{"a.xml", tu::report("code=\"N\" year=\"1\" period=\"1\"",
                                                                    tu::cell("1", "1", "1", "-1234567.25")
                                                                            + tu::cell("1", "1", "2", "0.5")
                                                                            + tu::cell("1", "1", "3", "1e-05")
                                                                            + tu::cell("1", "1", "4", "1,5"))}});
        const QString out = freshOutput();
        const bool written = !in.isEmpty() && summer.writeReports(out, "1");

        std::setlocale(LC_ALL, savedC.constData());
        QLocale::setDefault(savedDefault);

        QVERIFY2(written, qPrintable(summer.lastError()));
        const QByteArray expected = "<report code=\"N\" year=\"1\" period=\"1\" form=\"1\">\n"
                                    " <title>\n"
                                    "  <item name=\"okpo\" value=\"1\"/>\n"
                                    " </title>\n"
                                    " <sections>\n"
                                    "  <section code=\"1\">\n"
                                    "   <row code=\"1\">\n"
                                    "    <col code=\"1\">-1234567.25</col>\n"
                                    "    <col code=\"2\">0.5</col>\n"
                                    "    <col code=\"3\">1e-05</col>\n"
                                    "    <col code=\"4\">1.5</col>\n"
                                    "   </row>\n"
                                    "  </section>\n"
                                    " </sections>\n"
                                    "</report>\n";
        QCOMPARE(tu::readFile(out + "/N_1_1.xml"), expected);
    }

    // ---- File names ---------------------------------------------------------------

    void fileNames_data()
    {
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<QByteArray>("year");
        QTest::addColumn<QByteArray>("period");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << QByteArray("F1") << QByteArray("Y2") << QByteArray("P3") << "F1_Y2_P3.xml";
        QTest::newRow("all empty") << QByteArray() << QByteArray() << QByteArray() << "__.xml";
        QTest::newRow("blanks kept") << QByteArray(" F") << QByteArray("2014 ") << QByteArray("1") << " F_2014 _1.xml";
        QTest::newRow("cyrillic") << QByteArray("Ф") << QByteArray("2014") << QByteArray("год") << QStringLiteral("Ф_2014_год.xml");
        QTest::newRow("allowed punctuation") << QByteArray("a&amp;b") << QByteArray("'(1)'") << QByteArray("+.,;=[]{}!#$%")
                                             << "a&b_'(1)'_+.,;=[]{}!#$%.xml";
    }
    void fileNames()
    {
        QFETCH(QByteArray, code);
        QFETCH(QByteArray, year);
        QFETCH(QByteArray, period);
        QFETCH(QString, name);
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", groupReport(code, year, period)}}).isEmpty());
        const QString out = freshOutput();
        QVERIFY2(summer.writeReports(out, "1"), qPrintable(summer.lastError()));
        QCOMPARE(tu::entries(out), QStringList{name});
    }

    void badFileNames_data()
    {
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<QByteArray>("year");
        QTest::addColumn<QByteArray>("period");
        QTest::addColumn<QString>("name");
        QTest::newRow("slash") << QByteArray("a/b") << QByteArray("1") << QByteArray("1") << "a/b_1_1.xml";
        QTest::newRow("backslash") << QByteArray("a") << QByteArray("20\\14") << QByteArray("1") << "a_20\\14_1.xml";
        QTest::newRow("colon") << QByteArray("a") << QByteArray("1") << QByteArray("1:2") << "a_1_1:2.xml";
        QTest::newRow("star") << QByteArray("*") << QByteArray("1") << QByteArray("1") << "*_1_1.xml";
        QTest::newRow("question mark") << QByteArray("a") << QByteArray("?") << QByteArray("1") << "a_?_1.xml";
        QTest::newRow("double quote") << QByteArray("&quot;a") << QByteArray("1") << QByteArray("1") << "\"a_1_1.xml";
        QTest::newRow("less than") << QByteArray("a&lt;") << QByteArray("1") << QByteArray("1") << "a<_1_1.xml";
        QTest::newRow("greater than") << QByteArray("a") << QByteArray(">") << QByteArray("1") << "a_>_1.xml";
        QTest::newRow("bar") << QByteArray("a") << QByteArray("1") << QByteArray("|") << "a_1_|.xml";
        QTest::newRow("tab") << QByteArray("a&#9;b") << QByteArray("1") << QByteArray("1") << "a\tb_1_1.xml";
        QTest::newRow("line feed") << QByteArray("a") << QByteArray("1&#10;") << QByteArray("1") << "a_1\n_1.xml";
        QTest::newRow("carriage return") << QByteArray("a") << QByteArray("1") << QByteArray("&#13;1") << "a_1_\r1.xml";
    }
    void badFileNames()
    {
        // Valid groups sort both before and after the bad one; none is written.
        QFETCH(QByteArray, code);
        QFETCH(QByteArray, year);
        QFETCH(QByteArray, period);
        QFETCH(QString, name);
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", groupReport("A", "1", "1")},
                                     {"b.xml", groupReport(code, year, period)},
                                     {"c.xml", groupReport("z", "1", "1")}}).isEmpty());
        QCOMPARE(summer.reportMap().size(), 3);
        const QString out = freshOutput();
        QVERIFY(!summer.writeReports(out, "1"));
        QCOMPARE(summer.lastError(), badNameMessage(name));
        QCOMPARE(tu::entries(out), QStringList());
    }

    void clashingFileNames_data()
    {
        QTest::addColumn<QList<QByteArray>>("groups"); // code|year|period
        QTest::addColumn<QString>("name");
        QTest::newRow("underscore in code and year")
                << QList<QByteArray>{"a_b|c|P", "a|b_c|P"} << "a_b_c_P.xml";
        QTest::newRow("letter case") << QList<QByteArray>{"a|1|1", "A|1|1"} << "a_1_1.xml";
        QTest::newRow("cyrillic letter case")
                << QList<QByteArray>{"\xd0\xa4|1|1", "\xd1\x84|1|1"} << QStringLiteral("ф_1_1.xml");
        QTest::newRow("case and underscore, among other groups")
                << QList<QByteArray>{"A|1|1", "x|1_1|", "X_1|1|", "z|1|1"} << "x_1_1_.xml";
    }
    void clashingFileNames()
    {
        QFETCH(QList<QByteArray>, groups);
        QFETCH(QString, name);
        Files files;
        for (int i = 0; i < groups.size(); ++i) {
            const QList<QByteArray> k = groups.at(i).split('|');
            files << qMakePair(QStringLiteral("%1.xml").arg(i), groupReport(k.at(0), k.at(1), k.at(2)));
        }
        Summer summer;
        QVERIFY(!readInputs(summer, files).isEmpty());
        QCOMPARE(summer.reportMap().size(), groups.size());
        const QString out = freshOutput();
        QVERIFY(!summer.writeReports(out, "1"));
        QCOMPARE(summer.lastError(), clashMessage(name));
        QCOMPARE(tu::entries(out), QStringList());
    }

    void similarButDistinctNames()
    {
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", groupReport("a", "1", "1")},
                                     {"b.xml", groupReport("a", "1", "1 ")},
                                     {"c.xml", groupReport("a", "11", "")},
                                     {"d.xml", groupReport("a_1", "1", "1")}}).isEmpty());
        const QString out = freshOutput();
        QVERIFY2(summer.writeReports(out, "1"), qPrintable(summer.lastError()));
        QCOMPARE(tu::entries(out), QStringList({"a_11_.xml", "a_1_1 .xml", "a_1_1.xml", "a_1_1_1.xml"}));
    }

    // ---- Folders and existing files -----------------------------------------------------

    void missingFoldersAreCreated()
    {
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", groupReport("F", "1", "1")}}).isEmpty());
        const QString out = freshOutput() + "/a/b/c";
        QVERIFY2(summer.writeReports(out, "1"), qPrintable(summer.lastError()));
        QCOMPARE(tu::entries(out), QStringList{"F_1_1.xml"});
        // A new output file gets the same permissions as any other new file.
        QVERIFY(tu::writeFile(out + "/plain.txt", "x"));
        QCOMPARE(QFileInfo(out + "/F_1_1.xml").permissions(), QFileInfo(out + "/plain.txt").permissions());
    }

    void emptyStoreCreatesFolderOnly()
    {
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", tu::plainReport(tu::cell("1", "1", "1", "abc"))}}).isEmpty());
        QVERIFY(summer.reportMap().isEmpty());
        const QString out = freshOutput() + "/new";
        QVERIFY2(summer.writeReports(out, "1"), qPrintable(summer.lastError()));
        QVERIFY(QFileInfo(out).isDir());
        QCOMPARE(tu::entries(out), QStringList());
        QCOMPARE(summer.lastError(), QString());
    }

    void relativeAndEmptyOutputPath()
    {
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", groupReport("F", "1", "1")}}).isEmpty());
        const QString base = freshOutput();
        QVERIFY(QDir().mkpath(base + "/cwd"));
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(base + "/cwd"));
        const bool relative = summer.writeReports("rel/sub", "1");
        const bool blank = summer.writeReports(" b", "1");
        const bool empty = summer.writeReports(QString(), "1");
        QDir::setCurrent(saved);
        QVERIFY(relative && blank && empty);
        QCOMPARE(tu::entries(base + "/cwd"), QStringList({" b", "F_1_1.xml", "rel"}));
        QCOMPARE(tu::entries(base + "/cwd/rel/sub"), QStringList{"F_1_1.xml"});
        QCOMPARE(tu::entries(base + "/cwd/ b"), QStringList{"F_1_1.xml"});
    }

    void existingFileIsReplaced()
    {
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", groupReport("F", "1", "1", "5")}}).isEmpty());
        const QString out = freshOutput();
        QVERIFY(QDir().mkpath(out));
        QVERIFY(tu::writeFile(out + "/F_1_1.xml", QByteArray(20000, 'x')));
        QVERIFY(tu::writeFile(out + "/other.txt", "keep me"));
        QVERIFY2(summer.writeReports(out, "1"), qPrintable(summer.lastError()));
        QCOMPARE(tu::entries(out), QStringList({"F_1_1.xml", "other.txt"}));
        QCOMPARE(tu::readFile(out + "/F_1_1.xml"),
                 simpleOutput("code=\"F\" year=\"1\" period=\"1\" form=\"1\"",
                              "  <item name=\"okpo\" value=\"1\"/>\n", "", "5"));
        QCOMPARE(tu::readFile(out + "/other.txt"), QByteArray("keep me"));
    }

    void writingTwiceGivesSameFilesAndKeepsStore()
    {
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", groupReport("F", "1", "1", "0.1")},
                                     {"b.xml", groupReport("F", "1", "1", "0.2")},
                                     {"c.xml", groupReport("G", "1", "1", "3")}}).isEmpty());
        const QStringList before = tu::dump(summer.reportMap());
        const QStringList titlesBefore = tu::titleDump(summer.titleItemMap());
        const QString out = freshOutput();
        QVERIFY(summer.writeReports(out, "1"));
        const auto first = snapshot(out);
        QVERIFY(summer.writeReports(out, "1"));
        QCOMPARE(snapshot(out), first);
        QCOMPARE(tu::dump(summer.reportMap()), before);
        QCOMPARE(tu::titleDump(summer.titleItemMap()), titlesBefore);
        QCOMPARE(first.size(), 2);
    }

    void outputReadsBackUnchanged()
    {
        const QByteArray in =
                "<report code=\"R\" year=\"2014\" period=\"4\"><title>"
                "<item name=\"t&#9;ab\" value=\"&lt;a&gt; &amp; &quot;b&quot; 'c'&#10;&#13;d\"/></title><sections>"
                "<section code=\"3\"><row code=\"1\" s1=\"&amp;&lt;&gt;&quot;'\" s2=\"a&#9;b&#10;c&#13;d\">"
                "<col code=\"1\">1.5</col><col code=\"7\">-2</col></row>"
                "<row code=\"2\" s3=\"\xd1\x8f \xf0\x9f\x98\x80\"><col code=\"4294967295\">1e-05</col></row></section>"
                "<section code=\"0\"><row code=\"0\"><col code=\"0\">123456789012345</col></row></section>"
                "</sections></report>";
        Summer first;
        QVERIFY(!readInputs(first, {{"a.xml", in}}).isEmpty());
        const QString out = freshOutput();
        QVERIFY(first.writeReports(out, "okpo-code"));

        Summer second;
        QVERIFY2(second.readReports(out), qPrintable(second.lastError()));
        QCOMPARE(tu::dump(second.reportMap()), tu::dump(first.reportMap()));
        TitleItems expectedTitles = first.titleItemMap();
        expectedTitles.insert("okpo", "okpo-code");
        QCOMPARE(tu::titleDump(second.titleItemMap()), tu::titleDump(expectedTitles));
    }

    // A large report is put into text in pieces of 1024 rows on several threads;
    // the bytes must be those of one thread wherever the pieces and sections end.
    void resultDoesNotDependOnThreadCount_data()
    {
        QTest::addColumn<QList<int>>("sectionRows"); // one large file; none: 40 small ones
        QTest::newRow("many small reports") << QList<int>{};
        QTest::newRow("one section, four pieces exactly") << QList<int>{4096};
        QTest::newRow("one section, a row past the pieces") << QList<int>{4097};
        QTest::newRow("sections ending around pieces") << QList<int>{1023, 1, 1024, 1025, 2049};
        QTest::newRow("many one-row sections") << QList<int>(4100, 1);
    }
    void resultDoesNotDependOnThreadCount()
    {
        QFETCH(QList<int>, sectionRows);
        const QString in = freshOutput();
        QVERIFY(QDir().mkpath(in));
        for (int i = 0; sectionRows.isEmpty() && i < 40; ++i) {
            QByteArray cells;
            for (int r = 0; r < 6; ++r)
                for (int c = 0; c < 3; ++c) {
                    const double v = ((i + r + c) % 4 == 0) ? 1e16 : 1.0 / (1 + (i * r + c) % 9);
                    cells += tu::cell(QByteArray::number(r % 2), QByteArray::number(r), QByteArray::number(c),
                                      QByteArray::number(v, 'g', 17));
                }
            const QByteArray doc = "<report code=\"C" + QByteArray::number(i % 3) + "\" year=\"2014\" period=\"1\">"
                    "<title><item name=\"n" + QByteArray::number(i % 5) + "\" value=\"" + QByteArray::number(i)
                    + "\"/></title><sections>" + cells + "</sections></report>";
            QVERIFY(tu::writeFile(QStringLiteral("%1/f%2.xml").arg(in).arg(i), doc));
        }
        if (!sectionRows.isEmpty()) {
            QByteArray doc = "<report code=\"L\" year=\"2014\" period=\"1\"><sections>";
            for (int s = 0; s < sectionRows.size(); ++s) {
                doc += "<section code=\"" + QByteArray::number(s) + "\">";
                for (int r = 0; r < sectionRows.at(s); ++r) {
                    doc += "<row code=\"" + QByteArray::number(r) + "\"" + (r % 5 == 0 ? " s1=\"&amp;\"" : "") + ">";
                    for (int c = 0; c < 1 + r % 3; ++c)
                        doc += "<col code=\"" + QByteArray::number(c) + "\">" + QByteArray::number(r * 0.25 - c, 'g', 17) + "</col>";
                    doc += "</row>";
                }
                doc += "</section>";
            }
            QVERIFY(tu::writeFile(in + "/large.xml", doc + "</sections></report>"));
        }
        const qsizetype groups = sectionRows.isEmpty() ? 3 : 1;
        QMap<QString, QByteArray> reference;
        for (int threads : {1, 4, 2, 0}) {
            Summer summer;
            summer.setReaderThreads(threads);
            QVERIFY(summer.readReports(in));
            const QString out = freshOutput();
            QVERIFY(summer.writeReports(out, "42"));
            const auto files = snapshot(out);
            QCOMPARE(files.size(), groups);
            if (reference.isEmpty())
                reference = files;
            else
                QCOMPARE(files, reference);
        }
    }

    // ---- Failures ------------------------------------------------------------------

    void cannotOpenOutput_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("output path names a file") << "file";
        QTest::newRow("output path below a file") << "file/sub";
        QTest::newRow("output path deeper below a file") << "file/sub/deeper";
    }
    void cannotOpenOutput()
    {
        QFETCH(QString, where);
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", groupReport("F", "1", "1")},
                                     {"b.xml", groupReport("G", "1", "1")}}).isEmpty());
        const QString base = freshOutput();
        QVERIFY(QDir().mkpath(base));
        QVERIFY(tu::writeFile(base + "/file", "plain file"));
        QVERIFY(!summer.writeReports(base + "/" + where, "1"));
        QCOMPARE(summer.lastError(), kCannotOpen);
        QCOMPARE(tu::entries(base), QStringList{"file"});
        QCOMPARE(tu::readFile(base + "/file"), QByteArray("plain file"));
    }

    void emptyStoreSucceedsEvenWithoutFolder()
    {
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", tu::plainReport(tu::cell("x", "1", "1", "1"))}}).isEmpty());
        QVERIFY(summer.reportMap().isEmpty());
        const QString base = freshOutput();
        QVERIFY(QDir().mkpath(base));
        QVERIFY(tu::writeFile(base + "/file", "plain file"));
        QVERIFY2(summer.writeReports(base + "/file/sub", "1"), qPrintable(summer.lastError()));
        QCOMPARE(summer.lastError(), QString());
    }

    void nameTooLongForFileSystem()
    {
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", groupReport(QByteArray(300, 'L'), "1", "1")}}).isEmpty());
        const QString out = freshOutput();
        QVERIFY(!summer.writeReports(out, "1"));
        QCOMPARE(summer.lastError(), kCannotOpen);
        QCOMPARE(tu::entries(out), QStringList());
    }

    void laterGroupFailureKeepsEarlierFiles()
    {
        // A folder stands where the second group's file would go.
        Summer summer;
        QVERIFY(!readInputs(summer, {{"a.xml", groupReport("A", "1", "1", "5")},
                                     {"b.xml", groupReport("B", "1", "1")},
                                     {"c.xml", groupReport("C", "1", "1")}}).isEmpty());
        const QString out = freshOutput();
        QVERIFY(QDir().mkpath(out + "/B_1_1.xml"));
        QVERIFY(!summer.writeReports(out, "1"));
        QCOMPARE(summer.lastError(), kCannotOpen);
        QCOMPARE(tu::entries(out), QStringList({"A_1_1.xml", "B_1_1.xml"}));
        QVERIFY(QFileInfo(out + "/B_1_1.xml").isDir());
        QCOMPARE(tu::readFile(out + "/A_1_1.xml"),
                 simpleOutput("code=\"A\" year=\"1\" period=\"1\" form=\"1\"",
                              "  <item name=\"okpo\" value=\"1\"/>\n", "", "5"));
    }

    void incompleteWriteIsReported_data()
    {
        QTest::addColumn<int>("rows");
        QTest::newRow("small report") << 1;
        QTest::newRow("large report, put into text on several threads") << 20000;
    }
    void incompleteWriteIsReported()
    {
        // The file-size limit of the process makes every write past 100 bytes fail
        // with EFBIG (SIGXFSZ ignored), which works for root as well.
        QFETCH(int, rows);
        QByteArray cells;
        for (int r = 0; r < rows; ++r)
            cells += tu::cell("1", QByteArray::number(r), "1", "5");
        Summer summer;
        summer.setReaderThreads(2);
        QVERIFY(!readInputs(summer, {{"a.xml", tu::report("code=\"F\" year=\"1\" period=\"1\"", cells)}}).isEmpty());
        const QString out = freshOutput();
        QVERIFY(QDir().mkpath(out));
        const QByteArray old = "old content that must survive";
        QVERIFY(tu::writeFile(out + "/F_1_1.xml", old));

        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 100;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool ok = summer.writeReports(out, "1");
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);

        QVERIFY(!ok);
        QCOMPARE(summer.lastError(), cannotWriteMessage("F_1_1.xml"));
        QCOMPARE(tu::readFile(out + "/F_1_1.xml"), old);
    }
};

QTEST_GUILESS_MAIN(TestWriting)
#include "tst_writing.moc"
