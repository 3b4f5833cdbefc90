// The workbook read back: its parts unzipped, its sheets' cells with their
// types compared with the run's record and with the summed files, the sheet
// names, the same bytes from the same run, and the failures.

#include "testutil.h"
#include "summer.h"
#include "workbook.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QXmlStreamReader>
#include <QtTest>

#include <clocale>
#include <memory>

namespace {

// A part of a zip file, by `unzip -p`.
QByteArray unzipped(const QString &zip, const QString &part)
{
    QProcess p;
    p.start(QStringLiteral("unzip"), {QStringLiteral("-p"), zip, part});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return QByteArray();
    return p.readAllStandardOutput();
}

// Each row of a sheet, one entry a column: "" for no value, "t:" and the text
// of a text cell, "n:" and the shortest form of a number cell's double that
// reads back as the same double.
using Grid = QList<QStringList>;

QString numberCell(double value)
{
    return QStringLiteral("n:") + QString::number(value, 'g', 17);
}

void put(Grid &grid, int row, int col, const QString &cell)
{
    while (grid.size() <= row)
        grid.append(QStringList());
    QStringList &r = grid[row];
    while (r.size() <= col)
        r.append(QString());
    r[col] = cell;
}

// "BC12" as its 0-based row and column.
void cellAt(QStringView ref, int *row, int *col)
{
    int i = 0;
    *col = 0;
    for (; i < ref.size() && ref.at(i).isLetter(); ++i)
        *col = *col * 26 + (ref.at(i).unicode() - 'A' + 1);
    *col -= 1;
    *row = ref.mid(i).toInt() - 1;
}

Grid sheetGrid(const QByteArray &xml)
{
    Grid grid;
    QXmlStreamReader r(xml);
    int row = 0;
    int col = 0;
    QString type;
    while (r.readNextStartElement() || !r.atEnd()) {
        if (!r.isStartElement())
            continue;
        if (r.name() == QLatin1String("c")) {
            cellAt(r.attributes().value(QLatin1String("r")), &row, &col);
            type = r.attributes().value(QLatin1String("t")).toString();
        } else if (r.name() == QLatin1String("t") && type == QLatin1String("inlineStr")) {
            put(grid, row, col, QStringLiteral("t:") + r.readElementText());
        } else if (r.name() == QLatin1String("v")) {
            // The text as a reader takes it: C's number form, whatever the locale.
            bool ok = false;
            const double v = r.readElementText().toUtf8().toDouble(&ok);
            put(grid, row, col, type.isEmpty() && ok ? numberCell(v) : QStringLiteral("?") + type);
        }
    }
    return grid;
}

// The rows of a sheet, from 0, whose first cell has a format: the header's
// is bold, a row a warning concerns is filled, others have none.
QList<int> formattedRows(const QByteArray &xml)
{
    QList<int> rows;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement || r.name() != QLatin1String("c"))
            continue;
        int row = 0;
        int col = 0;
        cellAt(r.attributes().value(QLatin1String("r")), &row, &col);
        if (col == 0 && r.attributes().hasAttribute(QLatin1String("s")))
            rows.append(row);
    }
    return rows;
}

QStringList sheetNamesOf(const QString &zip)
{
    QStringList names;
    QXmlStreamReader r(unzipped(zip, QStringLiteral("xl/workbook.xml")));
    while (!r.atEnd()) {
        if (r.readNext() == QXmlStreamReader::StartElement && r.name() == QLatin1String("sheet"))
            names.append(r.attributes().value(QLatin1String("name")).toString());
    }
    return names;
}

// The library names the parts of the sheets by their order.
Grid sheet(const QString &zip, int index)
{
    return sheetGrid(unzipped(zip, QStringLiteral("xl/worksheets/sheet%1.xml").arg(index + 1)));
}

// What a summed file holds, laid out as its sheet: the grid a reader of the
// file alone would build.
Grid expectedReportGrid(const QString &file)
{
    Grid grid;
    const QString name = QFileInfo(file).fileName();
    put(grid, 0, 0, QStringLiteral("t:Сводный отчет"));
    put(grid, 0, 1, QStringLiteral("t:") + name);
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    QXmlStreamReader r(&f);
    int row = 0;
    QStringList cols;
    auto text = [](QStringView s) { return s.isEmpty() ? QString() : QStringLiteral("t:") + s.toString(); };
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = r.attributes();
        if (r.name() == QLatin1String("item")) {
            put(grid, ++row, 0, text(a.value(QLatin1String("name"))));
            put(grid, row, 1, text(a.value(QLatin1String("value"))));
        } else if (r.name() == QLatin1String("section")) {
            // Its col codes, ascending, from a look ahead at the section.
            QXmlStreamReader ahead(tu::readFile(file));
            QList<quint32> codes;
            bool inside = false;
            while (!ahead.atEnd()) {
                if (ahead.readNext() == QXmlStreamReader::StartElement) {
                    if (ahead.name() == QLatin1String("section"))
                        inside = ahead.attributes().value(QLatin1String("code")) == a.value(QLatin1String("code"));
                    else if (inside && ahead.name() == QLatin1String("col")
                             && !codes.contains(ahead.attributes().value(QLatin1String("code")).toUInt()))
                        codes.append(ahead.attributes().value(QLatin1String("code")).toUInt());
                }
            }
            std::sort(codes.begin(), codes.end());
            cols.clear();
            row += 2;
            put(grid, row, 0, QStringLiteral("t:Раздел"));
            put(grid, row, 1, text(a.value(QLatin1String("code"))));
            ++row;
            put(grid, row, 0, QStringLiteral("t:Строка"));
            for (int i = 1; i <= 3; ++i)
                put(grid, row, i, QStringLiteral("t:s%1").arg(i));
            for (quint32 c : std::as_const(codes)) {
                cols.append(QString::number(c));
                put(grid, row, 3 + int(cols.size()), QStringLiteral("t:") + cols.last());
            }
        } else if (r.name() == QLatin1String("row")) {
            put(grid, ++row, 0, text(a.value(QLatin1String("code"))));
            for (int i = 1; i <= 3; ++i)
                put(grid, row, i, text(a.value(QStringLiteral("s%1").arg(i))));
        } else if (r.name() == QLatin1String("col")) {
            const int col = 4 + int(cols.indexOf(a.value(QLatin1String("code")).toString()));
            const QString total = r.readElementText();
            bool ok = false;
            const double value = total.toUtf8().toDouble(&ok);
            put(grid, row, col, ok && qIsFinite(value) ? numberCell(value) : QStringLiteral("t:") + total);
        }
    }
    // Trailing empty cells are no cells.
    for (QStringList &cells : grid) {
        while (!cells.isEmpty() && cells.last().isEmpty())
            cells.removeLast();
    }
    return grid;
}

} // namespace

class TestWorkbook : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;
    int cases = 0;
    QString fresh()
    {
        const QString dir = work.filePath(QStringLiteral("case%1").arg(++cases));
        QDir().mkpath(dir);
        return dir;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("unzip")).isEmpty(),
                 "the workbook is read back with unzip (tools/dev.sh installs it)");
    }

    // Codes stay texts as the files have them, counts and lines are numbers,
    // and the warnings are the lines svodar-cli prints.
    void recordSheets()
    {
        const QString in = fresh();
        const QByteArray attrs = "code=\"F\" year=\"1\" period=\"1\"";
        QVERIFY(tu::writeFile(in + "/a.xml", tu::report(attrs, "<item name=\"okpo\" value=\"02145678\"/>"
                                                              "<section code=\"2\"><row code=\"07\" s2=\"01\">"
                                                              "<col code=\"1\">1 234</col>"
                                                              "<col code=\"2\">=1+1</col></row></section>")));
        QVERIFY(tu::writeFile(in + "/b.xml", tu::report(attrs, "<item name=\"okpo\" value=\"02145678\"/>"
                                                              + tu::cell("1", "1", "1", "5"))));
        Summer summer;
        QVERIFY(summer.readReports(in));
        const QString zip = in + "/w.xlsx";
        Workbook wb(summer.runRecord(), QStringLiteral("1"));
        QVERIFY2(wb.write(zip), qPrintable(wb.lastError()));
        QCOMPARE(wb.lastError(), QString());
        QCOMPARE(sheetNamesOf(zip), (QStringList{"Реестр", "Пропущенные значения", "Предупреждения", "F_1_1"}));

        const Grid fileRegister = sheet(zip, 0);
        QCOMPARE(fileRegister.size(), 3);
        QCOMPARE(fileRegister.at(0).first(), QStringLiteral("t:Файл"));
        QCOMPARE(fileRegister.at(1), (QStringList{"t:a.xml", "t:F_1_1.xml", "t:report", "t:02145678", "n:0", "n:2",
                                                 "n:1"}));
        QCOMPARE(fileRegister.at(2), (QStringList{"t:b.xml", "t:F_1_1.xml", "t:report", "t:02145678", "n:1", "n:0",
                                                 "n:0", "t:a.xml"}));
        const Grid passedOver = sheet(zip, 1);
        QCOMPARE(passedOver.size(), 3);
        QCOMPARE(passedOver.at(0).size(), 11);
        QCOMPARE(passedOver.at(1), (QStringList{"t:a.xml", "n:3", "t:2", "t:07", "", "t:01", "", "t:1", "t:1 234",
                                               "t:значение", "t:да"}));
        QCOMPARE(passedOver.at(2), (QStringList{"t:a.xml", "n:3", "t:2", "t:07", "", "t:01", "", "t:2", "t:=1+1",
                                               "t:значение", "t:нет"}));
        Grid warnings;
        for (const QString &line : summer.warnings())
            warnings.append({QStringLiteral("t:") + line});
        QCOMPARE(warnings.size(), 2);
        QCOMPARE(sheet(zip, 2), warnings);
    }

    // The register's rows a warning concerns are filled: both files of a
    // report sent twice, a file with lost numbers, a file that looks like an
    // earlier run's summed report; a head office's own report is not.
    void registerMarks_data()
    {
        QTest::addColumn<QByteArrayList>("files"); // name, okpo, value; the head organisation's code is 1
        QTest::addColumn<QList<int>>("marked");    // rows from 1, the header being 0
        QTest::newRow("sent twice, lost numbers")
            << QByteArrayList{"a.xml", "7", "5", "b.xml", "8", "1 234", "c.xml", "7", "5", "d.xml", "9", "5"}
            << QList<int>{1, 2, 3};
        QTest::newRow("an earlier run's summed report")
            << QByteArrayList{"a.xml", "7", "5", "F_1_1.xml", "1", "5"} << QList<int>{2};
        QTest::newRow("a head office's own report") << QByteArrayList{"1_F_1_1.xml", "1", "5"} << QList<int>();
    }
    void registerMarks()
    {
        QFETCH(QByteArrayList, files);
        QFETCH(QList<int>, marked);
        const QString in = fresh();
        QVERIFY(tu::writeOkpoReports(in, files));
        Summer summer;
        summer.setOutput(in + "/out", QStringLiteral("1"));
        QVERIFY(summer.readReports(in));
        const QString zip = in + "/w.xlsx";
        Workbook wb(summer.runRecord(), QStringLiteral("1"));
        QVERIFY2(wb.write(zip), qPrintable(wb.lastError()));
        QCOMPARE(formattedRows(unzipped(zip, QStringLiteral("xl/worksheets/sheet1.xml"))), QList<int>{0} + marked);
    }

    void noWarnings()
    {
        const QString in = fresh();
        QVERIFY(tu::writeFile(in + "/a.xml", tu::plainReport(tu::cell("1", "1", "1", "5"))));
        Summer summer;
        QVERIFY(summer.readReports(in));
        Workbook wb(summer.runRecord(), QString());
        QVERIFY2(wb.write(in + "/w.xlsx"), qPrintable(wb.lastError()));
        QCOMPARE(sheet(in + "/w.xlsx", 2), Grid{{QStringLiteral("t:Предупреждений нет")}});
    }

    void sheetNames_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("sheets");
        QTest::newRow("plain") << QStringList{"0601012_2014_3.xml"} << QStringList{"0601012_2014_3"};
        QTest::newRow("forbidden characters") << QStringList{"a[b]c:d*e?f/g\\h_1_1.xml"}
                                              << QStringList{"a_b_c_d_e_f_g_h_1_1"};
        QTest::newRow("apostrophes at the ends") << QStringList{"'x'_1_'.xml"} << QStringList{"_x'_1__"};
        QTest::newRow("31 characters") << QStringList{QString(27, 'a') + "_1_1.xml", QString(28, 'b') + "_1_1.xml"}
                                       << QStringList{QString(27, 'a') + "_1_1", QString(28, 'b') + "_1_"};
        QTest::newRow("cut leaves an apostrophe") << QStringList{QString(30, 'a') + "'_1_1.xml"}
                                                  << QStringList{QString(30, 'a') + "_"};
        QTest::newRow("code points, not UTF-16 units")
            << QStringList{QString(29, QChar(0x416)) + QStringLiteral("😀😀_1_1.xml")}
            << QStringList{QString(29, QChar(0x416)) + QStringLiteral("😀😀")};
        QTest::newRow("clash differing in case")
            << QStringList{"Ф_1_1.xml", "ф_1_1.xml", "Ф_1_1 (2).xml", "ф:1_1.xml"}
            << QStringList{"Ф_1_1", "ф_1_1 (2)", "Ф_1_1 (2) (2)", "ф_1_1 (3)"};
        QTest::newRow("clash of long names: the shortest cut")
            << QStringList{QString(40, 'x') + "_1_1.xml", QString(40, 'X') + "_1_2.xml"}
            << QStringList{QString(31, 'x'), QString(27, 'X') + " (2)"};
        QTest::newRow("ten clashes") << QStringList(11, QString(40, 'y') + ".xml")
                                     << (QStringList{QString(31, 'y')}
                                         << QString(27, 'y') + " (2)" << QString(27, 'y') + " (3)"
                                         << QString(27, 'y') + " (4)" << QString(27, 'y') + " (5)"
                                         << QString(27, 'y') + " (6)" << QString(27, 'y') + " (7)"
                                         << QString(27, 'y') + " (8)" << QString(27, 'y') + " (9)"
                                         << QString(26, 'y') + " (10)" << QString(26, 'y') + " (11)");
    }
    void sheetNames()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, sheets);
        QCOMPARE(Workbook::sheetNames(files), sheets);
    }

    // Every summed report's sheet against its summed file, cell by cell, each
    // total the same double as the file's text: under a locale with a decimal
    // comma too.
    void reportSheets_data()
    {
        QTest::addColumn<QByteArray>("locale");
        QTest::newRow("C") << QByteArray("C");
        QTest::newRow("ru_RU") << QByteArray("ru_RU.UTF-8");
    }
    void reportSheets()
    {
        QFETCH(QByteArray, locale);
        const QByteArray previous = std::setlocale(LC_NUMERIC, nullptr);
        if (!std::setlocale(LC_NUMERIC, locale.constData()))
            QSKIP("locale not installed");
        const auto restore = qScopeGuard([&] { std::setlocale(LC_NUMERIC, previous.constData()); });

        const QString in = fresh();
        QByteArray body = "<section code=\"3\"><row code=\"2\" s1=\"01\" s3=\" x \">"
                          "<col code=\"10\">0.1</col><col code=\"2\">1e300</col></row>"
                          "<row code=\"1\"><col code=\"7\">-0.000123456789012345678</col></row></section>"
                          "<section code=\"1\"><row code=\"1\"><col code=\"1\">123456789012345678</col>"
                          "<col code=\"2\">2.5</col></row></section>";
        // Values whose sums need all 15 digits and more.
        QByteArray values;
        for (int i = 1; i <= 300; ++i)
            values += "<col code=\"" + QByteArray::number(i) + "\">"
                      + QByteArray::number(1.0 / (i * 7.0) * std::pow(10.0, i % 40 - 20), 'g', 17) + "</col>";
        body += "<section code=\"2\"><row code=\"5\" s2=\"&lt;&amp;\">" + values + "</row></section>";
        QVERIFY(tu::writeFile(in + "/a.xml", tu::plainReport("<title><item name=\"okpo\" value=\"9\"/>"
                                                              "<item name=\"name\" value=\"Завод\"/>"
                                                              "<item name=\"empty\" value=\"\"/></title>"
                                                              + body)));
        // Sums beyond the range of a double.
        QVERIFY(tu::writeFile(in + "/b.xml", tu::plainReport(body + tu::cell("4", "1", "1", "1e308")
                                                             + tu::cell("4", "1", "2", "-1e308"))));
        QVERIFY(tu::writeFile(in + "/b2.xml", tu::plainReport(tu::cell("4", "1", "1", "1e308")
                                                              + tu::cell("4", "1", "2", "-1e308"))));
        QVERIFY(tu::writeFile(in + "/c.xml", tu::report("code=\"G\" year=\"2\" period=\"1\"", body)));
        Summer summer;
        QVERIFY(summer.readReports(in));
        QVERIFY(summer.writeReports(in + "/out", QStringLiteral("1234")));
        Workbook wb(summer.runRecord(), QStringLiteral("1234"));
        QVERIFY2(wb.write(in + "/w.xlsx"), qPrintable(wb.lastError()));
        QCOMPARE(sheetNamesOf(in + "/w.xlsx").mid(3), (QStringList{"F_2014_1", "G_2_1"}));
        QCOMPARE(sheet(in + "/w.xlsx", 3), expectedReportGrid(in + "/out/F_2014_1.xml"));
        QCOMPARE(sheet(in + "/w.xlsx", 4), expectedReportGrid(in + "/out/G_2_1.xml"));
    }

    // A summed report's columns as wide as their longest text, counted in code
    // points, the totals as the summed file writes them; one column per
    // column with cells and no more. The widths are measured before any row
    // is written, from the same cells.
    void reportWidths_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QList<int>>("chars"); // the longest text of each column
        QTest::newRow("title, row keys, col codes")
            << QByteArray("<title><item name=\"okpo\" value=\"9\"/><item name=\"наименование организации\" "
                          "value=\"Завод\"/></title><section code=\"1\"><row code=\"123456789\" "
                          "s2=\"двадцать символов s2\" s3=\"x\"><col code=\"1234567890\">5</col></row></section>")
            << QList<int>{24, 12, 20, 1, 10};
        QTest::newRow("totals as the file writes them")
            << QByteArray("<section code=\"2\"><row code=\"1\"><col code=\"1\">123456789012</col>"
                          "<col code=\"2\">1e300</col><col code=\"3\">0.1</col></row></section>")
            << QList<int>{13, 12, 0, 0, 12, 6, 3};
        QTest::newRow("code points, at most 60")
            << ("<section code=\"1\"><row code=\"1\" s1=\"" + QString(100, QChar(0x436)).toUtf8() + "\" s3=\""
                + QStringLiteral("😀").repeated(10).toUtf8() + "\"><col code=\"1\">1</col></row></section>")
            << QList<int>{13, 100, 0, 10, 1};
    }
    void reportWidths()
    {
        QFETCH(QByteArray, body);
        QFETCH(QList<int>, chars);
        const QString in = fresh();
        QVERIFY(tu::writeFile(in + "/a.xml", tu::plainReport(body)));
        Summer summer;
        QVERIFY(summer.readReports(in));
        Workbook wb(summer.runRecord(), QStringLiteral("1234"));
        QVERIFY2(wb.write(in + "/w.xlsx"), qPrintable(wb.lastError()));
        QList<double> widths;
        QXmlStreamReader r(unzipped(in + "/w.xlsx", QStringLiteral("xl/worksheets/sheet4.xml")));
        while (!r.atEnd()) {
            if (r.readNext() != QXmlStreamReader::StartElement || r.name() != QLatin1String("col"))
                continue;
            for (int c = r.attributes().value("min").toInt(); c <= r.attributes().value("max").toInt(); ++c)
                widths.append(r.attributes().value("width").toDouble());
        }
        QCOMPARE(widths.size(), chars.size());
        for (qsizetype c = 0; c < chars.size(); ++c) {
            // The library adds a little under a character for the cell's margins.
            const double expected = std::clamp(chars.at(c) * 1.2 + 2, 8.43, 60.0);
            QVERIFY2(widths.at(c) >= expected && widths.at(c) < expected + 1,
                     qPrintable(QStringLiteral("column %1: %2, not %3").arg(c).arg(widths.at(c)).arg(expected)));
        }
    }

    // The same run gives the same bytes, a second later too, and once the
    // Summer it came from is gone.
    void sameBytes()
    {
        const QString in = fresh();
        QVERIFY(tu::writeFile(in + "/a.xml", tu::plainReport(tu::cell("1", "1", "1", "x"))));
        auto summer = std::make_unique<Summer>();
        QVERIFY(summer->readReports(in));
        Workbook wb(summer->runRecord(), QStringLiteral("1"));
        QVERIFY(wb.write(in + "/1.xlsx"));
        summer.reset();
        QThread::msleep(1100);
        QVERIFY(wb.write(in + "/2.xlsx"));
        QCOMPARE(tu::readFile(in + "/2.xlsx"), tu::readFile(in + "/1.xlsx"));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("cols");
        QTest::addColumn<QString>("reason"); // after the file's name
        QTest::addColumn<QByteArray>("code"); // of the report
        QTest::newRow("folder missing") << "missing/w.xlsx" << 1 << QString() << QByteArray("F");
        QTest::newRow("a folder") << "." << 1 << QString() << QByteArray("F");
        QTest::newRow("disk full") << "/dev/full" << 1 << QString() << QByteArray("F");
        QTest::newRow("as many columns as a sheet has") << "w.xlsx" << 16380 << QString() << QByteArray("F");
        QTest::newRow("one column too many")
            << "w.xlsx" << 16381
            << QStringLiteral(": сводный отчет F_2014_1.xml не помещается на лист: столбцов больше 16384")
            << QByteArray("F");
        QTest::newRow("one column too many, %3 in the name")
            << "w.xlsx" << 16381
            << QStringLiteral(": сводный отчет F%3_2014_1.xml не помещается на лист: столбцов больше 16384")
            << QByteArray("F%3");
    }
    void failures()
    {
        QFETCH(QString, target);
        QFETCH(int, cols);
        QFETCH(QString, reason);
        QFETCH(QByteArray, code);
        const QString in = fresh();
        QByteArray row = "<section code=\"1\"><row code=\"1\">";
        for (int c = 1; c <= cols; ++c)
            row += "<col code=\"" + QByteArray::number(c) + "\">1</col>";
        QVERIFY(tu::writeFile(in + "/a.xml", tu::report("code=\"" + code + "\" year=\"2014\" period=\"1\"",
                                                        row + "</row></section>")));
        Summer summer;
        QVERIFY(summer.readReports(in));
        const QString path = target.startsWith('/') ? target : in + "/" + target;
        Workbook wb(summer.runRecord(), QString());
        if (cols == 16380 && reason.isEmpty()) {
            QVERIFY2(wb.write(path), qPrintable(wb.lastError()));
            return;
        }
        QVERIFY(!wb.write(path));
        QCOMPARE(wb.lastError(), QStringLiteral("Не удалось записать файл ") + path + reason);
        QCOMPARE(tu::entries(in), QStringList{"a.xml"});
    }
};

QTEST_GUILESS_MAIN(TestWorkbook)
#include "tst_workbook.moc"
