#ifndef WORKBOOK_H
#define WORKBOOK_H

#include <QString>

class Summer;

// The workbook of a run (.xlsx): the register, the values passed over, the
// warnings and one sheet per summed report, for the person who checks the run
// in a spreadsheet. Written from what a Summer has read; the Summer must
// outlive the Workbook.
class Workbook
{
public:
    // okpo is the head organisation's code, as the summed reports carry it.
    Workbook(const Summer &summer, const QString &okpo);

    // Writes the workbook to path: a new name or a regular file through a
    // temporary file renamed into place; an existing file that is not a
    // regular one (a device, a FIFO) is written as it is. Returns false and
    // leaves the reason in lastError() on failure.
    bool write(const QString &path);
    QString lastError() const { return errorText; }

private:
    const Summer &summer;
    QString okpo;
    QString errorText;
};

#endif // WORKBOOK_H
