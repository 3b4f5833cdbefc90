#ifndef PARSEDREPORT_H
#define PARSEDREPORT_H

// What reading one report file produces: made by the walk over the file,
// handed over by the reader, added to the store by the summer.

#include "filerecord.h"
#include "reportstore.h"

#include <QList>

#include <functional>
#include <vector>

// What one report file contributes to a run, in the order it must be added.
struct ParsedReport
{
    enum class Status {
        Ok,
        NoReportElement, // neither <report> nor <draft> in the file
        XmlError,        // has a report element, but is not well-formed XML
        AccessError,     // could not be opened or read
    };

    struct Row
    {
        quint32 section;
        RowKey key;
    };
    struct Cell
    {
        quint32 row; // index into rows
        quint32 col;
        double value;
    };

    Status status = Status::Ok;
    qint64 errorLine = 0;   // from 1
    qint64 errorColumn = 0; // from 1

    ReportKey key;
    bool isDraft = false; // the key is a <draft>'s: the file has no <report>
    TitleItems items; // name -> the last value read for it
    quint32 rowBase = 0;     // index of rows.front(): earlier rows went out in parts
    std::vector<Row> rows;   // the section and row each cell adds to, one per row element
    std::vector<Cell> cells; // every value to add, in adding order

    // Values passed over: all are counted, the first ReportReader::setKeptMax() kept.
    qint64 passedOverCount = 0;
    qint64 lostCount = 0;
    QList<PassedOverValue> passedOver;
};

// Takes the rows and cells of a part of a large file that may be added before
// the file ends (its group is known and nothing later can come before them).
// The callee moves them out; the reading then starts the next part.
using FilePartSink = std::function<void(ParsedReport &)>;

namespace reading {
// Cells a part of a large file holds when it is handed over.
constexpr std::size_t PartCells = 1 << 16;
} // namespace reading

#endif // PARSEDREPORT_H
