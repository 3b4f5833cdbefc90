// The report store: key orders, cell identity and accumulation, both on the store
// types directly and on the store that reading a folder leaves behind.

#include "summer.h"
#include "testutil.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

class TestStore : public QObject
{
    Q_OBJECT

private:
    // Writes the given documents as 01.xml, 02.xml, ... and reads the folder.
    bool readDocuments(Summer &summer, const QList<QByteArray> &documents)
    {
        QTemporaryDir dir;
        if (!dir.isValid())
            return false;
        for (int i = 0; i < documents.size(); ++i) {
            const QString name = QStringLiteral("%1.xml").arg(i + 1, 2, 10, QLatin1Char('0'));
            if (!tu::writeFile(dir.filePath(name), documents.at(i)))
                return false;
        }
        return summer.readReports(dir.path());
    }

private slots:
    void freshSummerIsEmpty()
    {
        Summer summer;
        QVERIFY(summer.reportMap().isEmpty());
        QVERIFY(summer.titleItemMap().isEmpty());
        QCOMPARE(summer.lastError(), QString());
    }

    void colMapKeepsColumnsAscending_data()
    {
        QTest::addColumn<QList<quint32>>("insertOrder");
        QTest::newRow("ascending") << QList<quint32>{1, 2, 3, 10};
        QTest::newRow("descending") << QList<quint32>{10, 3, 2, 1};
        QTest::newRow("mixed with repeats") << QList<quint32>{5, 1, 9, 1, 5, 3, 9, 0};
        QTest::newRow("range ends") << QList<quint32>{4294967295u, 0, 2147483648u, 7};
        QTest::newRow("insert in the middle") << QList<quint32>{1, 100, 50, 75, 25, 60};
    }
    void colMapKeepsColumnsAscending()
    {
        QFETCH(QList<quint32>, insertOrder);
        ColMap cols;
        ColMap hinted; // the same through the look-up that first tries the next place
        std::size_t next = 0;
        QMap<quint32, double> expected;
        for (int i = 0; i < insertOrder.size(); ++i) {
            cols[insertOrder.at(i)] += i + 1;
            hinted.total(insertOrder.at(i), &next) += i + 1;
            expected[insertOrder.at(i)] += i + 1;
            // Again from the start, as for the next file's row: every hint leads to the right total.
            std::size_t fromStart = 0;
            for (const quint32 code : insertOrder.mid(0, i + 1))
                QCOMPARE(hinted.total(code, &fromStart), expected.value(code));
        }
        QCOMPARE(cols.size(), std::size_t(expected.size()));
        QVERIFY(std::equal(cols.begin(), cols.end(), hinted.begin(), hinted.end(),
                           [](const ColMap::Entry &a, const ColMap::Entry &b) {
                               return a.code == b.code && a.total == b.total;
                           }));
        QList<quint32> codes;
        QList<double> totals;
        for (const auto &entry : cols) {
            codes << entry.code;
            totals << entry.total;
        }
        QCOMPARE(codes, expected.keys());
        QCOMPARE(totals, expected.values());
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            QVERIFY(cols.contains(it.key()));
            QCOMPARE(cols.value(it.key()), it.value());
        }
        QVERIFY(!cols.contains(123456));
        QCOMPARE(cols.value(123456, -1.0), -1.0);
    }

    void newCellStartsAtPositiveZero()
    {
        ReportMap reports;
        addValue(reports, ReportKey{"F", "2014", "1"}, 1, RowKey{1, {}, {}, {}}, 1, -0.0);
        const double total = reports.first().first().first().value(1);
        QCOMPARE(total, 0.0);
        QVERIFY2(!std::signbit(total), "a lone negative zero must end as positive zero");
    }

    void negativeZeroReadFromFileEndsAsZero()
    {
        Summer summer;
        QVERIFY(readDocuments(summer, {tu::plainReport(tu::cell("1", "1", "1", "-0")),
                                       tu::plainReport(tu::cell("1", "1", "2", "-0.0"))}));
        QCOMPARE(tu::dump(summer.reportMap()),
                 QStringList({tu::line(1, 1, 1, 0), tu::line(1, 1, 2, 0)}));
        for (const auto &entry : summer.reportMap().first().first().first())
            QVERIFY2(!std::signbit(entry.total), qPrintable(QString::number(entry.code)));
    }

    void groupsSortAsText_data()
    {
        QTest::addColumn<QList<QByteArray>>("reportAttrs");
        QTest::addColumn<QStringList>("expectedOrder");

        QTest::newRow("10 before 9") << QList<QByteArray>{"code=\"9\"", "code=\"10\""}
                                     << QStringList{"10||", "9||"};
        QTest::newRow("upper case before lower case, empty first")
                << QList<QByteArray>{"code=\"a\"", "code=\"B\"", "code=\"\"", "code=\"b\"", "code=\"A\""}
                << QStringList{"||", "A||", "B||", "a||", "b||"};
        QTest::newRow("a trailing blank makes another year")
                << QList<QByteArray>{"code=\"F\" year=\"2014 \"", "code=\"F\" year=\"2014\"",
                                     "code=\"F\" year=\"2013\""}
                << QStringList{"F|2013|", "F|2014|", "F|2014 |"};
        QTest::newRow("code decides before year, year before period")
                << QList<QByteArray>{"code=\"B\" year=\"1\" period=\"1\"",
                                     "code=\"A\" year=\"2\" period=\"1\"",
                                     "code=\"A\" year=\"1\" period=\"9\"",
                                     "code=\"A\" year=\"1\" period=\"10\""}
                << QStringList{"A|1|10", "A|1|9", "A|2|1", "B|1|1"};
        QTest::newRow("prefix first") << QList<QByteArray>{"code=\"ab\"", "code=\"a\"", "code=\"a b\""}
                                      << QStringList{"a||", "a b||", "ab||"};
        QTest::newRow("cyrillic by code unit")
                << QList<QByteArray>{"code=\"\xd0\xb0\"", "code=\"\xd0\xaf\"", "code=\"\xd1\x91\"",
                                     "code=\"\xd1\x8f\""}
                << QStringList{QString::fromUtf8("\xd0\xaf||"), QString::fromUtf8("\xd0\xb0||"),
                               QString::fromUtf8("\xd1\x8f||"), QString::fromUtf8("\xd1\x91||")};
        // U+1F600 is stored as the surrogates D83D DE00, so it sorts before U+FF5E.
        QTest::newRow("utf-16 code units, not code points")
                << QList<QByteArray>{"code=\"\xef\xbd\x9e\"", "code=\"\xf0\x9f\x98\x80\""}
                << QStringList{QString::fromUtf8("\xf0\x9f\x98\x80||"), QString::fromUtf8("\xef\xbd\x9e||")};
    }
    void groupsSortAsText()
    {
        QFETCH(QList<QByteArray>, reportAttrs);
        QFETCH(QStringList, expectedOrder);
        QList<QByteArray> docs;
        for (const QByteArray &attrs : reportAttrs)
            docs << tu::report(attrs, tu::cell("1", "1", "1", "1"));
        Summer summer;
        QVERIFY(readDocuments(summer, docs));
        QCOMPARE(tu::groupKeys(summer.reportMap()), expectedOrder);
    }

    void equalKeysFormOneGroup_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QString>("expectedKey");
        QTest::newRow("same attributes") << QByteArray("<report code=\"F\" year=\"2014\" period=\"1\">")
                                         << QByteArray("<report period=\"1\" code=\"F\" year=\"2014\">")
                                         << "F|2014|1";
        QTest::newRow("report and draft") << QByteArray("<report code=\"F\" year=\"2014\" period=\"1\">")
                                          << QByteArray("<draft code=\"F\" year=\"2014\" period=\"1\">")
                                          << "F|2014|1";
        QTest::newRow("absent and empty year") << QByteArray("<report code=\"F\" period=\"1\">")
                                               << QByteArray("<report code=\"F\" year=\"\" period=\"1\">")
                                               << "F||1";
        QTest::newRow("no attributes at all") << QByteArray("<report>")
                                              << QByteArray("<draft code=\"\" year=\"\" period=\"\">")
                                              << "||";
    }
    void equalKeysFormOneGroup()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(QString, expectedKey);
        auto doc = [](const QByteArray &open, const QByteArray &value) {
            const QByteArray close = open.startsWith("<draft") ? "</draft>" : "</report>";
            return open + "<sections>" + tu::cell("1", "2", "3", value) + "</sections>" + close;
        };
        Summer summer;
        QVERIFY(readDocuments(summer, {doc(first, "1.5"), doc(second, "2.25")}));
        QCOMPARE(tu::dump(summer.reportMap()),
                 QStringList{expectedKey + QStringLiteral(" s1 r2[||] c3=3.75")});
    }

    void rowKeys_data()
    {
        QTest::addColumn<QByteArray>("rows");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("codes sort as numbers, leading zeros ignored")
                << QByteArray("<row code=\"10\"><col code=\"1\">1</col></row>"
                              "<row code=\"9\"><col code=\"1\">2</col></row>"
                              "<row code=\"07\"><col code=\"1\">4</col></row>"
                              "<row code=\"7\"><col code=\"1\">8</col></row>")
                << QStringList{"r7[||] c1=12", "r9[||] c1=2", "r10[||] c1=1"};
        QTest::newRow("same code, s1 decides, absent s1 first")
                << QByteArray("<row code=\"5\" s1=\"b\"><col code=\"1\">1</col></row>"
                              "<row code=\"5\" s1=\"a\"><col code=\"1\">2</col></row>"
                              "<row code=\"5\"><col code=\"1\">4</col></row>"
                              "<row code=\"5\" s1=\"B\"><col code=\"1\">8</col></row>")
                << QStringList{"r5[||] c1=4", "r5[B||] c1=8", "r5[a||] c1=2", "r5[b||] c1=1"};
        QTest::newRow("s2 then s3 decide")
                << QByteArray("<row code=\"1\" s1=\"x\" s2=\"2\" s3=\"a\"><col code=\"1\">1</col></row>"
                              "<row code=\"1\" s1=\"x\" s2=\"10\" s3=\"b\"><col code=\"1\">2</col></row>"
                              "<row code=\"1\" s1=\"x\" s2=\"2\"><col code=\"1\">4</col></row>"
                              "<row code=\"1\" s3=\"z\"><col code=\"1\">8</col></row>")
                << QStringList{"r1[||z] c1=8", "r1[x|10|b] c1=2", "r1[x|2|] c1=4", "r1[x|2|a] c1=1"};
        QTest::newRow("empty and absent s1 are the same row")
                << QByteArray("<row code=\"3\" s1=\"\" s2=\"\"><col code=\"1\">1</col></row>"
                              "<row code=\"3\"><col code=\"1\">2</col></row>")
                << QStringList{"r3[||] c1=3"};
        QTest::newRow("blank s1 is its own row")
                << QByteArray("<row code=\"3\" s1=\" \"><col code=\"1\">1</col></row>"
                              "<row code=\"3\"><col code=\"1\">2</col></row>")
                << QStringList{"r3[||] c1=2", "r3[ ||] c1=1"};
        QTest::newRow("whole unsigned range")
                << QByteArray("<row code=\"4294967295\"><col code=\"1\">1</col></row>"
                              "<row code=\"0\"><col code=\"1\">2</col></row>"
                              "<row code=\"2147483648\"><col code=\"1\">4</col></row>")
                << QStringList{"r0[||] c1=2", "r2147483648[||] c1=4", "r4294967295[||] c1=1"};
    }
    void rowKeys()
    {
        QFETCH(QByteArray, rows);
        QFETCH(QStringList, expected);
        Summer summer;
        QVERIFY(readDocuments(summer, {tu::plainReport("<section code=\"1\">" + rows + "</section>")}));
        QStringList got = tu::dump(summer.reportMap());
        for (QString &l : got)
            l.remove(QStringLiteral("F|2014|1 s1 "));
        QCOMPARE(got, expected);
    }

    void sectionAndColumnCodesSortAsNumbers()
    {
        const QByteArray body =
                "<section code=\"10\"><row code=\"1\">"
                "<col code=\"4294967295\">1</col><col code=\"10\">2</col><col code=\"9\">3</col>"
                "<col code=\"0\">4</col><col code=\"009\">5</col></row></section>"
                "<section code=\"9\"><row code=\"1\"><col code=\"1\">6</col></row></section>"
                "<section code=\"4294967295\"><row code=\"1\"><col code=\"1\">7</col></row></section>"
                "<section code=\"0\"><row code=\"1\"><col code=\"1\">8</col></row></section>"
                "<section code=\"09\"><row code=\"1\"><col code=\"1\">9</col></row></section>";
        Summer summer;
        QVERIFY(readDocuments(summer, {tu::plainReport(body)}));
        QCOMPARE(tu::dump(summer.reportMap()),
                 QStringList({tu::line(0, 1, 1, 8), tu::line(9, 1, 1, 15), tu::line(10, 1, 0, 4),
                              tu::line(10, 1, 9, 8), tu::line(10, 1, 10, 2),
                              tu::line(10, 1, 4294967295u, 1), tu::line(4294967295u, 1, 1, 7)}));
    }

    void valuesAddUpPerCell()
    {
        const QByteArray a = tu::plainReport(tu::cell("1", "1", "1", "1.5") + tu::cell("1", "1", "1", "2")
                                             + tu::cell("1", "1", "2", "10"));
        const QByteArray b = tu::plainReport(tu::cell("1", "1", "1", "-0.5") + tu::cell("2", "1", "1", "7"));
        const QByteArray other =
                tu::report("code=\"G\" year=\"2014\" period=\"1\"", tu::cell("1", "1", "1", "100"));
        Summer summer;
        QVERIFY(readDocuments(summer, {a, other, b}));
        QCOMPARE(tu::dump(summer.reportMap()),
                 QStringList({tu::line(1, 1, 1, 3), tu::line(1, 1, 2, 10), tu::line(2, 1, 1, 7),
                              QStringLiteral("G|2014|1 s1 r1[||] c1=100")}));
    }

    void totalsAreAddedInReadingOrder()
    {
        // 1 + 1 + 1e16 is exactly 1e16 + 2, while 1e16 + 1 + 1 rounds back to 1e16
        // at every step; so the total shows the order in which values were added.
        Summer forward;
        QVERIFY(readDocuments(forward, {tu::plainReport(tu::cell("1", "1", "1", "1")),
                                        tu::plainReport(tu::cell("1", "1", "1", "1")),
                                        tu::plainReport(tu::cell("1", "1", "1", "1e16"))}));
        QCOMPARE(tu::dump(forward.reportMap()), QStringList{tu::line(1, 1, 1, 1e16 + 2)});

        Summer backward;
        QVERIFY(readDocuments(backward, {tu::plainReport(tu::cell("1", "1", "1", "1e16")),
                                         tu::plainReport(tu::cell("1", "1", "1", "1")
                                                         + tu::cell("1", "1", "1", "1"))}));
        QCOMPARE(tu::dump(backward.reportMap()), QStringList{tu::line(1, 1, 1, 1e16)});
    }

    void reportWithoutValuesLeavesNoGroup()
    {
        const QByteArray doc =
                "<report code=\"F\" year=\"2014\" period=\"1\"><title><item name=\"n\" value=\"v\"/></title>"
                "<sections><section code=\"1\"><row code=\"1\"><col code=\"1\">abc</col></row>"
                "<row code=\"2\"/></section><section code=\"2\"/>"
                "<section code=\"x\"><row code=\"1\"><col code=\"1\">5</col></row></section>"
                "</sections></report>";
        Summer summer;
        QVERIFY(readDocuments(summer, {doc}));
        QVERIFY(summer.reportMap().isEmpty());
        QCOMPARE(tu::titleDump(summer.titleItemMap()), QStringList{"n=v"});
    }

    void noEmptyLevelsAreCreated()
    {
        // Only one cell converts: no other section, row or group may appear.
        const QByteArray doc = tu::plainReport(
                "<section code=\"1\"><row code=\"1\"><col code=\"1\"></col></row>"
                "<row code=\"2\"><col code=\"x\">1</col></row></section>"
                "<section code=\"2\"><row code=\"3\"><col code=\"1\">4</col><col code=\"2\"> </col></row></section>");
        Summer summer;
        QVERIFY(readDocuments(summer, {doc}));
        const ReportMap &reports = summer.reportMap();
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports.first().size(), 1);
        QCOMPARE(reports.first().firstKey(), 2u);
        QCOMPARE(reports.first().first().size(), 1);
        QCOMPARE(reports.first().first().first().size(), std::size_t(1));
        QCOMPARE(tu::dump(reports), QStringList{tu::line(2, 3, 1, 4)});
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
