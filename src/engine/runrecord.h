#ifndef RUNRECORD_H
#define RUNRECORD_H

#include "filerecord.h"
#include "reportstore.h"

#include <QList>
#include <QString>
#include <QStringList>

// What a run produced, for everything it puts out beside the summed reports
// (the tables, the workbook, the window's box). A value: it may outlive the
// Summer and go to another thread. Its maps and lists share their data with
// the Summer's until either side changes them, so a copy costs next to nothing
// however large the run.
struct RunRecord
{
    QList<FileRecord> files; // one per listed entry, in list order
    QStringList warnings;    // as Summer::warnings() gives them
    QString passedOverNote;  // as Summer::passedOverNote() gives it
    ReportMap reports;       // the summed totals
    TitleItems titleItems;   // of all reports read
};

#endif // RUNRECORD_H
