#ifndef WORKBOOK_H
#define WORKBOOK_H

#include "runrecord.h"

#include <QString>
#include <QStringList>

// The workbook of a run (.xlsx): the register, the values passed over, the
// warnings and one sheet per summed report, for the person who checks the run
// in a spreadsheet. Written from a run's record, of which it keeps a copy.
class Workbook
{
public:
    // okpo is the head organisation's code, as the summed reports carry it.
    Workbook(const RunRecord &run, const QString &okpo);

    // Writes the workbook to path: a new name or a regular file through a
    // temporary file renamed into place; an existing file that is not a
    // regular one (a device, a FIFO) is written as it is. Returns false and
    // leaves the reason in lastError() on failure.
    bool write(const QString &path);
    QString lastError() const { return errorText; }

    // The sheet names of summed reports with these file names, in their
    // order: the name without ".xml", the characters a sheet name may not hold
    // and an apostrophe at either end replaced by '_', cut to 31 characters;
    // a name already taken, without regard to case (the fixed sheets' names
    // too), gets " (2)", " (3)", ... after as much of it as leaves room.
    static QStringList sheetNames(const QStringList &fileNames);

private:
    RunRecord run;
    QString okpo;
    QString errorText;
};

#endif // WORKBOOK_H
