// Very large report files: memory must follow what the reports hold, not the size
// of their text. Each file is written to disk piece by piece.

#include "hostile.h"

#include <QtTest>

using namespace hostile;

namespace {

const QByteArray kOpen = "<report code=\"F\" year=\"2014\" period=\"1\">\n";

// One hundred rows of ten cells, each 1: repeated, every total is the count.
QByteArray rowBlock()
{
    QByteArray cols;
    for (int c = 1; c <= 10; ++c)
        cols += "<col code=\"" + QByteArray::number(c) + "\">1</col>";
    QByteArray rows;
    for (int r = 0; r < 100; ++r)
        rows += "<row code=\"" + QByteArray::number(r) + "\">" + cols + "</row>\n";
    return rows;
}

const qint64 kBlocks = 300 * MiB / rowBlock().size();

} // namespace

class TestHostileBig : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFileInfo(cliPath()).isExecutable(), qPrintable(cliPath())); }

    void document_data();
    void document() { documentCase(); }
};

void TestHostileBig::document_data()
{
    addDocumentColumns();
    const Files seven = one(Summed().add(1, 1, 1, "7"));

    QTest::newRow("100 MB attribute value")
            << Maker([](const QString &, const QString &file) {
                   Writer w(file);
                   w << "<report junk=\"";
                   w.repeat("x", 100 * MiB) << "\" code=\"F\" year=\"2014\" period=\"1\">"
                                            << "<section code=\"1\"><row code=\"1\"><col code=\"1\">7</col></row></section></report>\n";
                   return w.close();
               })
            << 0 << QString() << seven << 320;

    Summed totals;
    for (int r = 0; r < 100; ++r) {
        for (int c = 1; c <= 10; ++c)
            totals.add(1, r, c, QByteArray::number(kBlocks));
    }
    QTest::newRow("300 MB of cells")
            << Maker([](const QString &, const QString &file) {
                   Writer w(file);
                   w << kOpen << "<sections><section code=\"1\">\n";
                   w.repeat(rowBlock(), kBlocks) << "</section></sections></report>\n";
                   return w.close();
               })
            << 0 << QString() << one(totals) << 100;

    // The value is the number among the blanks; a text that cannot be a number
    // is passed over like any other.
    QTest::newRow("64 MB of blanks around a number in a col")
            << Maker([](const QString &, const QString &file) {
                   Writer w(file);
                   w << kOpen << "<section code=\"1\"><row code=\"1\"><col code=\"1\">";
                   w.repeat(" \n", 16 * MiB) << "7";
                   w.repeat("\t ", 16 * MiB) << "</col></row></section></report>\n";
                   return w.close();
               })
            << 0 << QString() << seven << 40;
    QTest::newRow("64 MB of letters in a col")
            << Maker([](const QString &, const QString &file) {
                   Writer w(file);
                   w << kOpen << "<section code=\"1\"><row code=\"1\"><col code=\"1\">7</col><col code=\"2\">";
                   w.repeat("ab", 32 * MiB) << "</col></row></section></report>\n";
                   return w.close();
               })
            << 0 << QString() << seven << 40;
}

QTEST_GUILESS_MAIN(TestHostileBig)
#include "tst_hostile_big.moc"
