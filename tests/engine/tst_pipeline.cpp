// Reading on several threads must give exactly what one thread gives: the same
// totals to the last bit, the same title items, the same first error.

#include "reportreader.h"
#include "summer.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <random>


class TestPipeline : public QObject
{
    Q_OBJECT

private slots:
    void threadCountDoesNotChangeTheResult();
    void largeFileArrivesWhole();
    void largeFileInPartsAddsAsWhole_data();
    void largeFileInPartsAddsAsWhole();
    void firstFailingFileInListOrderDecides();
    void lastTitleValueReadWins();
    void writingStopsAtFirstFailingGroup_data();
    void writingStopsAtFirstFailingGroup();
    void stopLeavesOnlyWholeFiles_data();
    void stopLeavesOnlyWholeFiles();
    void singleByteEncodingsReadLikeUtf8_data();
    void singleByteEncodingsReadLikeUtf8();
};

void TestPipeline::threadCountDoesNotChangeTheResult()
{
    // Values of very different sizes make the sum depend on the order of adding.
    QTemporaryDir in;
    QVERIFY(in.isValid());
    std::mt19937 random(42);
    std::uniform_real_distribution<double> small(-1, 1);
    std::vector<double> expected(6, 0.0); // cell (group g, col c) -> 3 * g + c
    for (int f = 0; f < 60; ++f) {
        const int group = f % 2;
        // Every third file is in windows-1251, read by table on whichever
        // thread takes it: a table made on a thread outlives the thread.
        const bool cyrillic = f % 3 == 0;
        QByteArray xml = cyrillic ? "<?xml version=\"1.0\" encoding=\"windows-1251\"?>" : "";
        xml += "<report code=\"F" + QByteArray::number(group)
            + "\" year=\"2014\" period=\"4\"><title><item name=\"n\" value=\"" + QByteArray::number(f) + "\"/>";
        if (cyrillic)
            xml += "<item name=\"org\" value=\"\xc1\xee\xeb\xfc\xed\xe8\xf6\xe0 " + QByteArray::number(f) + "\"/>";
        xml += "</title><sections><section code=\"1\"><row code=\"1\">";
        for (int c = 0; c < 3; ++c) {
            const double v = (f % 7 == 0 ? 1e16 : 1.0) * small(random);
            const QByteArray text = QByteArray::number(v, 'g', 17);
            expected[std::size_t(3 * group + c)] += text.toDouble();
            xml += "<col code=\"" + QByteArray::number(c) + "\">" + text + "</col>";
        }
        xml += "</row></section></sections></report>";
        QVERIFY(tu::writeFile(in.filePath(QStringLiteral("r%1.xml").arg(f, 3, 10, QLatin1Char('0'))), xml));
    }

    QTemporaryDir out;
    QMap<QString, QByteArray> first;
    for (int threads : {1, 2, 3, 8}) {
        Summer summer;
        summer.setReaderThreads(threads);
        QVERIFY(summer.readReports(in.path()));
        QCOMPARE(summer.titleItemMap().value(QStringLiteral("org")), QStringLiteral("Больница 57"));
        const QString dir = out.filePath(QString::number(threads));
        QVERIFY(summer.writeReports(dir, QStringLiteral("1")));
        for (int g = 0; g < 2; ++g) {
            const ColMap cols = summer.reportMap()
                                     .value({QStringLiteral("F%1").arg(g), QStringLiteral("2014"),
                                             QStringLiteral("4")})
                                     .value(1)
                                     .first();
            for (quint32 c = 0; c < 3; ++c)
                QCOMPARE(cols.value(c), expected[std::size_t(3 * g) + c]); // bit for bit
        }
        const QMap<QString, QByteArray> files = tu::folderContents(dir);
        QCOMPARE(files.size(), 2);
        if (first.isEmpty())
            first = files;
        QCOMPARE(files, first);
    }
}

void TestPipeline::largeFileArrivesWhole()
{
    // A file with far more cells than are held at once is handed over in parts.
    // With a nested section it has to be held whole; both must add up the same.
    QTemporaryDir in;
    QVERIFY(in.isValid());
    constexpr int Rows = 40000;
    QByteArray flat = "<report code=\"X\" year=\"1\" period=\"1\"><sections>";
    for (int s = 1; s <= 3; ++s) {
        flat += "<section code=\"" + QByteArray::number(s) + "\">";
        for (int r = 0; r < Rows; ++r) {
            flat += "<row code=\"" + QByteArray::number(r) + "\" s1=\"" + QByteArray::number(r % 3)
                + "\"><col code=\"1\">" + QByteArray::number(r) + "</col><col code=\"2\">" + QByteArray::number(s)
                + "</col></row>";
        }
        flat += "</section>";
    }
    flat += "</sections></report>";
    QVERIFY(tu::writeFile(in.filePath(QStringLiteral("a.xml")), flat));
    // the same again, behind a section that repeats section 3 around everything
    QVERIFY(tu::writeFile(in.filePath(QStringLiteral("b.xml")),
              QByteArray(flat).replace("<sections>", "<sections><section code=\"3\">")
                  .replace("</sections>", "</section></sections>")));

    Summer summer;
    QVERIFY(summer.readReports(in.path()));
    const SectionMap &sections = summer.reportMap().value({"X", "1", "1"});
    QCOMPARE(sections.size(), 3);
    for (quint32 s = 1; s <= 3; ++s) {
        const RowMap &rows = sections.value(s);
        QCOMPARE(rows.size(), Rows);
        for (int r = 0; r < Rows; r += 997) {
            const ColMap &cols = rows.value({quint32(r), QString::number(r % 3), {}, {}});
            QCOMPARE(cols.size(), std::size_t(2));
            QCOMPARE(cols.value(1), s == 3 ? 5.0 * r : 2.0 * r);
        }
        // section 3 also gathers rows 0.. of sections 1 and 2 in b.xml, column 2 = 1 + 2 + 3
        QCOMPARE(rows.value({0, QStringLiteral("0"), {}, {}}).value(2), s == 3 ? 3.0 + 3 + 1 + 2 + 3 : 2.0 * s);
    }
}

// A large file is parsed on one thread while the cells of its finished parts
// are added on another: the totals must be those of the whole file added at
// once, to the last bit, wherever the parts end.
void TestPipeline::largeFileInPartsAddsAsWhole_data()
{
    QTest::addColumn<int>("cells");
    const int part = int(reading::PartCells);
    QTest::newRow("one short of a part") << part - 1;
    QTest::newRow("one part") << part;
    QTest::newRow("one past a part") << part + 1;
    QTest::newRow("two parts") << 2 * part;
    QTest::newRow("two parts and one") << 2 * part + 1;
}

void TestPipeline::largeFileInPartsAddsAsWhole()
{
    QFETCH(int, cells);
    // Ten cols a row; rows come back (code r % 7, s1 by r % 3), so that cells
    // of every part add to totals begun in earlier ones, and values of very
    // different sizes make each total depend on the order of adding. Every
    // 1000th col is a text, passed over.
    QByteArray xml = "<report code=\"X\" year=\"1\" period=\"1\"><sections><section code=\"1\">";
    std::mt19937 random{quint32(cells)};
    std::uniform_real_distribution<double> small(-1, 1);
    for (int i = 0; i < cells; ++i) {
        const int r = i / 10;
        if (i % 10 == 0)
            xml += "<row code=\"" + QByteArray::number(r % 7) + "\" s1=\"" + QByteArray::number(r % 3) + "\">";
        const double v = (i % 13 == 0 ? 1e16 : 1.0) * small(random);
        xml += "<col code=\"" + QByteArray::number(i % 10) + "\">"
            + (i % 1000 == 999 ? QByteArray("x") : QByteArray::number(v, 'g', 17)) + "</col>";
        if (i % 10 == 9 || i + 1 == cells)
            xml += "</row>";
    }
    xml += "</section></sections></report>";
    QTemporaryDir in;
    QVERIFY(in.isValid());
    QVERIFY(tu::writeFile(in.filePath(QStringLiteral("a.xml")), xml));

    // The whole file at once, on this thread.
    ReportReader reader;
    const ParsedReport whole = reader.read(in.filePath(QStringLiteral("a.xml")));
    QCOMPARE(whole.status, ParsedReport::Status::Ok);
    ReportMap expected;
    for (const ParsedReport::Cell &cell : whole.cells) {
        const ParsedReport::Row &row = whole.rows.at(cell.row);
        addValue(expected, whole.key, row.section, row.key, cell.col, cell.value);
    }

    Summer summer;
    QVERIFY(summer.readReports(in.path()));
    const auto dump = [](const ReportMap &reports) {
        QStringList lines;
        for (const auto &[row, cols] : reports.value({"X", "1", "1"}).value(1).asKeyValueRange()) {
            for (const ColMap::Entry &e : cols)
                lines << QStringLiteral("%1/%2/%3=%4").arg(row.code).arg(row.s1).arg(e.code).arg(e.total, 0, 'g', 17);
        }
        return lines;
    };
    QCOMPARE(dump(summer.reportMap()), dump(expected));
    const FileRecord &record = summer.fileRecords().first();
    QCOMPARE(record.valuesAdded, qint64(whole.cells.size()));
    QCOMPARE(record.valuesPassedOver, whole.passedOverCount);
    QCOMPARE(record.valuesPassedOver, qint64(cells / 1000));
}

void TestPipeline::firstFailingFileInListOrderDecides()
{
    // A small broken file late in the list is parsed long before a large early
    // one is done; still the early broken file is the one reported.
    QTemporaryDir in;
    QVERIFY(in.isValid());
    QByteArray large = "<report code=\"1\"><section code=\"1\">";
    for (int r = 0; r < 100000; ++r)
        large += "<row code=\"" + QByteArray::number(r) + "\"><col code=\"1\">1</col></row>";
    QVERIFY(tu::writeFile(in.filePath(QStringLiteral("a.xml")), large + "</section></report>"));
    QVERIFY(tu::writeFile(in.filePath(QStringLiteral("b.xml")), large + "</section>")); // cut off
    for (int f = 0; f < 20; ++f)
        QVERIFY(tu::writeFile(in.filePath(QStringLiteral("c%1.xml").arg(f)), "<other/>"));

    for (int threads : {1, 4}) {
        Summer summer;
        summer.setReaderThreads(threads);
        QVERIFY(!summer.readReports(in.path()));
        QVERIFY2(summer.lastError().startsWith(QStringLiteral("Не удалось прочитать файл b.xml : ошибка XML в строке 1, столбце ")),
                 qPrintable(summer.lastError()));
    }
}

void TestPipeline::lastTitleValueReadWins()
{
    QTemporaryDir in;
    QVERIFY(in.isValid());
    for (int f = 0; f < 30; ++f) {
        QVERIFY(tu::writeFile(in.filePath(QStringLiteral("%1.xml").arg(f, 2, 10, QLatin1Char('0'))),
                  "<report><title><item name=\"who\" value=\"" + QByteArray::number(f)
                      + "\"/><item name=\"f" + QByteArray::number(f) + "\" value=\"x\"/></title></report>"));
    }
    Summer summer;
    summer.setReaderThreads(4);
    QVERIFY(summer.readReports(in.path()));
    QCOMPARE(summer.titleItemMap().value(QStringLiteral("who")), QStringLiteral("29"));
    QCOMPARE(summer.titleItemMap().size(), 31);
    QVERIFY(summer.reportMap().isEmpty()); // title items alone make no group
}

void TestPipeline::writingStopsAtFirstFailingGroup_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("one thread") << 1;
    QTest::newRow("four threads") << 4;
}

void TestPipeline::writingStopsAtFirstFailingGroup()
{
    // Groups are written at once, but a failure still leaves exactly the files of
    // the groups before it, and nothing half-written or temporary.
    QFETCH(int, threads);
    QTemporaryDir in, out;
    QVERIFY(in.isValid() && out.isValid());
    for (int g = 0; g < 12; ++g) {
        QVERIFY(tu::writeFile(in.filePath(QStringLiteral("%1.xml").arg(g)),
                  "<report code=\"G" + QByteArray::number(g + 10) + "\" year=\"1\" period=\"1\">"
                  "<section code=\"1\"><row code=\"1\"><col code=\"1\">1</col></row></section></report>"));
    }
    QVERIFY(QDir(out.path()).mkdir(QStringLiteral("G15_1_1.xml"))); // the 6th group cannot be written
    QVERIFY(tu::writeFile(out.filePath(QStringLiteral("G20_1_1.xml")), "older"));

    Summer summer;
    summer.setReaderThreads(threads);
    QVERIFY(summer.readReports(in.path()));
    QVERIFY(!summer.writeReports(out.path(), QStringLiteral("1")));
    QCOMPARE(summer.lastError(), QStringLiteral("Не получается открыть файл для записи"));
    QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({"G10_1_1.xml", "G11_1_1.xml", "G12_1_1.xml", "G13_1_1.xml", "G14_1_1.xml",
                          "G15_1_1.xml", "G20_1_1.xml"}));
    QCOMPARE(tu::readFile(out.filePath(QStringLiteral("G20_1_1.xml"))), QByteArray("older"));
    QVERIFY(tu::readFile(out.filePath(QStringLiteral("G14_1_1.xml"))).startsWith("<report code=\"G14\""));
}

void TestPipeline::stopLeavesOnlyWholeFiles_data()
{
    // The run is stopped from its own progress, at a step counted from the
    // start of reading or of writing: step 0 is the notice of how much there
    // is to do, step n comes after the n-th file read or report written.
    QTest::addColumn<bool>("whileWriting");
    QTest::addColumn<int>("atStep"); // -1: stopped before the step begins
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("filesAdded"); // by a stopped reading
    QTest::addColumn<int>("written");    // by a stopped writing
    // The first file large enough to come in many parts, more than the
    // reading queues: its reader waits for room when the stop comes.
    QTest::addColumn<bool>("largeFirst");

    QTest::newRow("before reading") << false << -1 << 2 << 0 << 0 << false;
    QTest::newRow("once listed") << false << 0 << 2 << 0 << 0 << false;
    QTest::newRow("after 3 of 12 files") << false << 3 << 2 << 3 << 0 << false;
    QTest::newRow("after the last file") << false << 12 << 2 << 12 << 0 << false;
    QTest::newRow("once listed, the first file large") << false << 0 << 2 << 0 << 0 << true;
    QTest::newRow("after 3 of 12 files, the first large") << false << 3 << 2 << 3 << 0 << true;
    QTest::newRow("before writing") << true << -1 << 2 << 12 << 0 << false;
    QTest::newRow("after 5 of 12 reports, one thread") << true << 5 << 1 << 12 << 5 << false;
    QTest::newRow("after 5 of 12 reports, four threads") << true << 5 << 4 << 12 << 5 << false;
}

void TestPipeline::stopLeavesOnlyWholeFiles()
{
    QFETCH(bool, whileWriting);
    QFETCH(int, atStep);
    QFETCH(int, threads);
    QFETCH(int, filesAdded);
    QFETCH(int, written);
    QFETCH(bool, largeFirst);

    QTemporaryDir in, out;
    QVERIFY(in.isValid() && out.isValid());
    QByteArray rows = "<row code=\"1\"><col code=\"1\">1</col></row>";
    if (largeFirst) {
        // 500,000 cells: several parts beyond what the reading queues.
        QByteArray row;
        for (int c = 1; c <= 10; ++c)
            row += "<col code=\"" + QByteArray::number(c) + "\">1</col>";
        rows.clear();
        for (int r = 1; r <= 50000; ++r)
            rows += "<row code=\"" + QByteArray::number(r) + "\">" + row + "</row>\n";
    }
    for (int g = 0; g < 12; ++g) {
        QVERIFY(tu::writeFile(in.filePath(QStringLiteral("%1.xml").arg(g + 10)),
                  "<report code=\"G" + QByteArray::number(g + 10) + "\" year=\"1\" period=\"1\">"
                  "<section code=\"1\">" + rows + "</section></report>"));
        if (g == 0)
            rows = "<row code=\"1\"><col code=\"1\">1</col></row>";
    }
    const QString summed = out.filePath(QStringLiteral("summed"));

    Summer summer;
    summer.setReaderThreads(threads);
    int step = -1;
    bool writing = false;
    summer.setStepHook([&] {
        if (writing == whileWriting && ++step == atStep) {
            if (largeFirst)
                QThread::msleep(300); // the large file's reader meanwhile fills the queues and waits
            summer.stop();
        }
    });
    if (atStep < 0 && !whileWriting)
        summer.stop();
    const bool read = summer.readReports(in.path());
    QCOMPARE(read, whileWriting || atStep == 12);
    if (!read) {
        // Nothing was added past the stop, and nothing is written.
        QVERIFY(summer.stopped());
        QVERIFY(summer.lastError().isEmpty());
        QCOMPARE(summer.fileRecords().size(), filesAdded);
        QVERIFY(!summer.writeReports(summed, QStringLiteral("1")));
        QVERIFY(!QFileInfo::exists(summed));
        return;
    }
    QCOMPARE(summer.fileRecords().size(), filesAdded);
    writing = true;
    step = -1;
    if (atStep < 0 || !whileWriting)
        summer.stop();
    QVERIFY(!summer.writeReports(summed, QStringLiteral("1")));
    QVERIFY(summer.stopped());
    QVERIFY(summer.lastError().isEmpty());
    QCOMPARE(summer.reportsWritten(), written);
    // The first reports in key order, each whole, and nothing else: no
    // temporary file, no report of a later group.
    QStringList expected;
    for (int g = 0; g < written; ++g)
        expected << QStringLiteral("G%1_1_1.xml").arg(g + 10);
    if (written == 0 && atStep < 0) {
        QVERIFY(!QFileInfo::exists(summed)); // not even the folder
        return;
    }
    QCOMPARE(QDir(summed).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), expected);
    for (const QString &name : std::as_const(expected))
        QVERIFY(tu::readFile(QDir(summed).filePath(name)).endsWith("</report>\n"));
}

void TestPipeline::singleByteEncodingsReadLikeUtf8_data()
{
    QTest::addColumn<QByteArray>("declaration");
    QTest::addColumn<QByteArray>("encoding");
    QTest::newRow("windows-1251") << QByteArray("<?xml version=\"1.0\" encoding=\"windows-1251\"?>") << QByteArray("windows-1251");
    QTest::newRow("spaced, single quotes") << QByteArray("<?xml version='1.0'  encoding = 'CP1251' ?>") << QByteArray("windows-1251");
    QTest::newRow("KOI8-R") << QByteArray("<?xml version=\"1.0\" encoding=\"KOI8-R\" standalone=\"yes\"?>") << QByteArray("KOI8-R");
}

void TestPipeline::singleByteEncodingsReadLikeUtf8()
{
    // A report of several megabytes, so that its text crosses many read blocks.
    QFETCH(QByteArray, declaration);
    QFETCH(QByteArray, encoding);
    QString text = QStringLiteral("<report code=\"Ф1\" year=\"2014\" period=\"Год\"><title>"
                                  "<item name=\"Организация\" value=\"ГБУЗ &quot;Областная больница&quot; 1\"/></title><sections>");
    for (int s = 1; s <= 4; ++s) {
        text += QStringLiteral("<section code=\"%1\">").arg(s);
        for (int r = 0; r < 10000; ++r)
            text += QStringLiteral("<row code=\"%1\" s1=\"Район %2\" s2=\"ёЁъЪ\"><col code=\"1\">%3,5</col></row>\n")
                        .arg(r).arg(r % 17).arg(r);
        text += QStringLiteral("</section>");
    }
    text += QStringLiteral("</sections></report>");

    QTemporaryDir utf8, single;
    QVERIFY(utf8.isValid() && single.isValid());
    QVERIFY(tu::writeFile(utf8.filePath(QStringLiteral("a.xml")), text.toUtf8()));
    QStringEncoder encoder(encoding.constData());
    QVERIFY(encoder.isValid());
    const QByteArray bytes = declaration + QByteArray(encoder.encode(text));
    QVERIFY(!encoder.hasError());
    QVERIFY(bytes.size() > 2 * 1024 * 1024);
    QVERIFY(tu::writeFile(single.filePath(QStringLiteral("a.xml")), bytes));

    Summer fromUtf8, fromSingle;
    QVERIFY(fromUtf8.readReports(utf8.path()));
    QVERIFY2(fromSingle.readReports(single.path()), qPrintable(fromSingle.lastError()));
    QCOMPARE(fromSingle.titleItemMap(), fromUtf8.titleItemMap());
    QCOMPARE(fromSingle.reportMap().keys(), fromUtf8.reportMap().keys());
    const SectionMap a = fromSingle.reportMap().first();
    const SectionMap b = fromUtf8.reportMap().first();
    QCOMPARE(a.size(), 4);
    for (quint32 s = 1; s <= 4; ++s) {
        QCOMPARE(a.value(s).keys(), b.value(s).keys());
        QCOMPARE(a.value(s).value({5, QStringLiteral("Район 5"), QStringLiteral("ёЁъЪ"), {}}).value(1), 5.5);
    }
}

QTEST_GUILESS_MAIN(TestPipeline)
#include "tst_pipeline.moc"
