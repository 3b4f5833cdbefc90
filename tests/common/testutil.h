#ifndef SVODAR_TESTUTIL_H
#define SVODAR_TESTUTIL_H

// Small helpers shared by the test suites that look at the engine: wrapping
// cells in report markup and printing the store in a form that QCOMPARE can
// show; and, from testfiles.h, writing and reading files.

#include "summer.h"
#include "testfiles.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QStringList>

namespace tu {

// One cell wrapped in section and row markup.
inline QByteArray cell(const QByteArray &section, const QByteArray &row, const QByteArray &col,
                       const QByteArray &value)
{
    return "<section code=\"" + section + "\"><row code=\"" + row + "\"><col code=\"" + col
            + "\">" + value + "</col></row></section>";
}

// A whole report document with the given report attributes and body.
inline QByteArray report(const QByteArray &attrs, const QByteArray &body)
{
    return "<report " + attrs + ">\n<sections>\n" + body + "\n</sections>\n</report>\n";
}

// The usual group of the reading tests: code F, year 2014, period 1.
inline QByteArray plainReport(const QByteArray &body)
{
    return report("code=\"F\" year=\"2014\" period=\"1\"", body);
}

// Reports of group F|1|1 written into folder, from triples: the file's name,
// its okpo title item and the value of its one cell.
inline bool writeOkpoReports(const QString &folder, const QByteArrayList &triples)
{
    bool ok = true;
    for (qsizetype i = 0; ok && i + 2 < triples.size(); i += 3) {
        ok = writeFile(folder + '/' + QString::fromUtf8(triples[i]),
                       report("code=\"F\" year=\"1\" period=\"1\"",
                              "<item name=\"okpo\" value=\"" + triples[i + 1] + "\"/>"
                                  + cell("1", "1", "1", triples[i + 2])));
    }
    return ok;
}

inline QString number(double v)
{
    return QString::number(v, 'g', 17);
}

// One line per cell: "code|year|period s<section> r<row>[s1|s2|s3] c<col>=<total>",
// in the store's walking order.
inline QStringList dump(const ReportMap &reports)
{
    QStringList out;
    for (auto g = reports.cbegin(); g != reports.cend(); ++g) {
        const QString group = g.key().code + '|' + g.key().year + '|' + g.key().period;
        for (auto s = g.value().cbegin(); s != g.value().cend(); ++s) {
            for (auto r = s.value().cbegin(); r != s.value().cend(); ++r) {
                const RowKey &rk = r.key();
                for (const auto &c : r.value()) {
                    out << QStringLiteral("%1 s%2 r%3[%4|%5|%6] c%7=%8")
                                   .arg(group)
                                   .arg(s.key())
                                   .arg(rk.code)
                                   .arg(rk.s1, rk.s2, rk.s3)
                                   .arg(c.code)
                                   .arg(number(c.total));
                }
            }
        }
    }
    return out;
}

// The same line for a cell of the usual group F|2014|1 with empty s1, s2, s3.
inline QString line(quint32 section, quint32 row, quint32 col, double total)
{
    return QStringLiteral("F|2014|1 s%1 r%2[||] c%3=%4").arg(section).arg(row).arg(col).arg(number(total));
}

inline QStringList groupKeys(const ReportMap &reports)
{
    QStringList out;
    for (auto g = reports.cbegin(); g != reports.cend(); ++g)
        out << g.key().code + '|' + g.key().year + '|' + g.key().period;
    return out;
}

inline QStringList titleDump(const TitleItems &items)
{
    QStringList out;
    for (auto i = items.cbegin(); i != items.cend(); ++i)
        out << i.key() + '=' + i.value();
    return out;
}

} // namespace tu

#endif // SVODAR_TESTUTIL_H
