#ifndef RECORDTABLE_H
#define RECORDTABLE_H

#include "filerecord.h"

#include <QList>
#include <QStringList>

// A run's record as a table of texts, the same for the CSV files and the
// workbook: the register (one row per listed entry, in list order) and the
// list of values passed over (one row per value kept, files in list order,
// values in document order).
struct RecordTable
{
    QStringList header;
    // Per column: whether its texts are whole numbers (counts, line numbers)
    // rather than codes and texts, which stay texts whatever they look like.
    QList<bool> numeric;
    QList<QStringList> rows;
    // Per row: whether a warning concerns it (a report sent twice, a file or a
    // value with lost numbers).
    QList<bool> warned;

    static RecordTable fileRegister(const QList<FileRecord> &records);
    static RecordTable passedOver(const QList<FileRecord> &records);
};

#endif // RECORDTABLE_H
