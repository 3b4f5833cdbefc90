#ifndef RECORDTABLE_H
#define RECORDTABLE_H

#include "filerecord.h"

#include <QList>
#include <QStringList>

#include <functional>

// A run's record as a table of texts, the same for the CSV files and the
// workbook: the register (one row per listed entry, in list order) and the
// list of values passed over (one row per value kept, files in list order,
// values in document order). The rows are handed out one by one, as a run may
// keep many values passed over.
struct RecordTable
{
    // Takes a row's fields and whether a warning concerns it (a report sent
    // twice, a file or a value with lost numbers, a file that looks like an
    // earlier run's summed report).
    using Row = std::function<void(const QStringList &fields, bool warned)>;

    QStringList header;
    // Per column: whether its texts are whole numbers (counts, line numbers)
    // rather than codes and texts, which stay texts whatever they look like.
    QList<bool> numeric;
    // Hands each row of the records to row, in order.
    void (*rows)(const QList<FileRecord> &records, const Row &row);

    static const RecordTable &fileRegister();
    static const RecordTable &passedOver();
};

#endif // RECORDTABLE_H
