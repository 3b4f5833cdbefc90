#include "csv.h"

#include "recordtable.h"

namespace csv {
namespace {

// A field a spreadsheet would take for a formula gets an apostrophe before
// it, which the spreadsheet then shows as text.
bool looksLikeFormula(const QString &text)
{
    return !text.isEmpty() && QStringView(u"=+-@\t\r").contains(text.front());
}

QString field(const QString &text)
{
    const QString safe = looksLikeFormula(text) ? QLatin1Char('\'') + text : text;
    if (!safe.contains(QLatin1Char(';')) && !safe.contains(QLatin1Char('"'))
        && !safe.contains(QLatin1Char('\r')) && !safe.contains(QLatin1Char('\n')))
        return safe;
    QString quoted = safe;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

void putLine(QByteArray &out, const QStringList &fields)
{
    QStringList line;
    line.reserve(fields.size());
    for (const QString &f : fields)
        line.append(field(f));
    out += line.join(QLatin1Char(';')).toUtf8();
    out += "\r\n";
}

QByteArray recordTable(const RecordTable &table, const QList<FileRecord> &records)
{
    QByteArray out("\xef\xbb\xbf");
    putLine(out, table.header);
    table.rows(records, [&out](const QStringList &fields, bool) { putLine(out, fields); });
    return out;
}

} // namespace

QByteArray registerTable(const QList<FileRecord> &records)
{
    return recordTable(RecordTable::fileRegister(), records);
}

QByteArray passedOverTable(const QList<FileRecord> &records)
{
    return recordTable(RecordTable::passedOver(), records);
}

} // namespace csv
