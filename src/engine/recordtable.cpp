#include "recordtable.h"

#include <QSet>

RecordTable RecordTable::fileRegister(const QList<FileRecord> &records)
{
    RecordTable t;
    t.header = {QStringLiteral("Файл"), QStringLiteral("Сводный отчет"), QStringLiteral("Элемент"),
                QStringLiteral("ОКПО"), QStringLiteral("Учтено значений"),
                QStringLiteral("Пропущено значений"), QStringLiteral("Потеряно чисел"),
                QStringLiteral("Тот же ОКПО в файле")};
    t.numeric = {false, false, false, false, true, true, true, false};
    // Both files of a report sent twice are marked, the earlier one too.
    QSet<QString> repeated;
    for (const FileRecord &r : records) {
        if (!r.sameOkpoAs.isEmpty())
            repeated.insert(r.sameOkpoAs);
    }
    t.rows.reserve(records.size());
    t.warned.reserve(records.size());
    for (const FileRecord &r : records) {
        t.rows.append({r.name, r.outputName, r.elementText(), r.okpo, QString::number(r.valuesAdded),
                       QString::number(r.valuesPassedOver), QString::number(r.lostNumbers),
                       r.sameOkpoAs});
        t.warned.append(r.lostNumbers > 0 || !r.sameOkpoAs.isEmpty() || repeated.contains(r.name));
    }
    return t;
}

RecordTable RecordTable::passedOver(const QList<FileRecord> &records)
{
    RecordTable t;
    t.header = {QStringLiteral("Файл"), QStringLiteral("Номер строки в файле"),
                QStringLiteral("Код раздела"), QStringLiteral("Код строки"), QStringLiteral("s1"),
                QStringLiteral("s2"), QStringLiteral("s3"), QStringLiteral("Код графы"),
                QStringLiteral("Текст"), QStringLiteral("Причина"), QStringLiteral("Потерянное число")};
    t.numeric = {false, true, false, false, false, false, false, false, false, false, false};
    for (const FileRecord &r : records) {
        for (const PassedOverValue &v : r.passedOver) {
            t.rows.append({r.name, QString::number(v.line), v.sectionCode(), v.rowCode(), v.s1(), v.s2(),
                           v.s3(), v.colCode(), v.text(), PassedOverValue::reasonText(v.reason),
                           v.lostNumber ? QStringLiteral("да") : QStringLiteral("нет")});
            t.warned.append(v.lostNumber);
        }
    }
    return t;
}
