#include "recordtable.h"

#include <QSet>

namespace {

void registerRows(const QList<FileRecord> &records, const RecordTable::Row &row)
{
    // Both files of a report sent twice are marked, the earlier one too.
    QSet<QString> repeated;
    for (const FileRecord &r : records) {
        if (!r.sameOkpoAs.isEmpty())
            repeated.insert(r.sameOkpoAs);
    }
    for (const FileRecord &r : records) {
        row({r.name, r.outputName, r.elementText(), r.okpo, QString::number(r.valuesAdded),
             QString::number(r.valuesPassedOver), QString::number(r.lostNumbers), r.sameOkpoAs},
            r.lostNumbers > 0 || !r.sameOkpoAs.isEmpty() || repeated.contains(r.name) || r.looksSummed);
    }
}

void passedOverRows(const QList<FileRecord> &records, const RecordTable::Row &row)
{
    for (const FileRecord &r : records) {
        for (const PassedOverValue &v : r.passedOver) {
            row({r.name, QString::number(v.line), v.sectionCode(), v.rowCode(), v.s1(), v.s2(), v.s3(),
                 v.colCode(), v.text(), PassedOverValue::reasonText(v.reason),
                 v.lostNumber ? QStringLiteral("да") : QStringLiteral("нет")},
                v.lostNumber);
        }
    }
}

} // namespace

const RecordTable &RecordTable::fileRegister()
{
    static const RecordTable table{
        {QStringLiteral("Файл"), QStringLiteral("Сводный отчет"), QStringLiteral("Элемент"),
         QStringLiteral("ОКПО"), QStringLiteral("Учтено значений"), QStringLiteral("Пропущено значений"),
         QStringLiteral("Потеряно чисел"), QStringLiteral("Тот же ОКПО в файле")},
        {false, false, false, false, true, true, true, false},
        registerRows,
    };
    return table;
}

const RecordTable &RecordTable::passedOver()
{
    static const RecordTable table{
        {QStringLiteral("Файл"), QStringLiteral("Номер строки в файле"), QStringLiteral("Код раздела"),
         QStringLiteral("Код строки"), QStringLiteral("s1"), QStringLiteral("s2"), QStringLiteral("s3"),
         QStringLiteral("Код графы"), QStringLiteral("Текст"), QStringLiteral("Причина"),
         QStringLiteral("Потерянное число")},
        {false, true, false, false, false, false, false, false, false, false, false},
        passedOverRows,
    };
    return table;
}
