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

} // namespace

QByteArray table(const QStringList &header, const QList<QStringList> &rows)
{
    QByteArray out("\xef\xbb\xbf");
    auto put = [&out](const QStringList &fields) {
        QStringList line;
        line.reserve(fields.size());
        for (const QString &f : fields)
            line.append(field(f));
        out += line.join(QLatin1Char(';')).toUtf8();
        out += "\r\n";
    };
    put(header);
    for (const QStringList &row : rows)
        put(row);
    return out;
}

QByteArray registerTable(const QList<FileRecord> &records)
{
    const RecordTable t = RecordTable::fileRegister(records);
    return table(t.header, t.rows);
}

QByteArray passedOverTable(const QList<FileRecord> &records)
{
    const RecordTable t = RecordTable::passedOver(records);
    return table(t.header, t.rows);
}

} // namespace csv
