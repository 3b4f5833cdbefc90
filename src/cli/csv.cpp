#include "csv.h"

namespace csv {
namespace {

QString field(const QString &text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
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
    QList<QStringList> rows;
    rows.reserve(records.size());
    for (const FileRecord &r : records) {
        rows.append({r.name, r.outputName, r.elementText(), r.okpo, QString::number(r.valuesAdded),
                     QString::number(r.valuesPassedOver), QString::number(r.lostNumbers),
                     r.sameOkpoAs});
    }
    return table({QStringLiteral("Файл"), QStringLiteral("Сводный отчет"), QStringLiteral("Элемент"),
                  QStringLiteral("ОКПО"), QStringLiteral("Учтено значений"),
                  QStringLiteral("Пропущено значений"), QStringLiteral("Потеряно чисел"),
                  QStringLiteral("Тот же ОКПО в файле")},
                 rows);
}

QByteArray passedOverTable(const QList<FileRecord> &records)
{
    QList<QStringList> rows;
    for (const FileRecord &r : records) {
        for (const PassedOverValue &v : r.passedOver) {
            rows.append({r.name, QString::number(v.line), v.sectionCode(), v.rowCode(), v.s1(), v.s2(), v.s3(),
                         v.colCode(), v.text(), PassedOverValue::reasonText(v.reason),
                         v.lostNumber ? QStringLiteral("да") : QStringLiteral("нет")});
        }
    }
    return table({QStringLiteral("Файл"), QStringLiteral("Номер строки в файле"),
                  QStringLiteral("Код раздела"), QStringLiteral("Код строки"), QStringLiteral("s1"),
                  QStringLiteral("s2"), QStringLiteral("s3"), QStringLiteral("Код графы"),
                  QStringLiteral("Текст"), QStringLiteral("Причина"), QStringLiteral("Потерянное число")},
                 rows);
}

} // namespace csv
