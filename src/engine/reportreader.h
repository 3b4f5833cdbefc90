#ifndef REPORTREADER_H
#define REPORTREADER_H

#include "filerecord.h"
#include "reportstore.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace reading {
class ReportWalk;
}

// What one report file contributes to a run, in the order it must be added.
struct FileReport
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

// Reads report files with a streaming XML parser. Not thread-safe: use one per thread.
class ReportReader
{
public:
    ReportReader();
    ~ReportReader();

    ReportReader(const ReportReader &) = delete;
    ReportReader &operator=(const ReportReader &) = delete;

    // Called with the rows and cells read so far when they may be added before
    // the file ends (its group is known and nothing later can come before them).
    // The callee moves them out; the reader then starts the next part.
    using PartSink = std::function<void(FileReport &)>;

    // Reads one file. With a sink, large files hand over their cells in parts
    // instead of holding them all; the last part is in the returned report.
    // When *cancel becomes true the reading stops early with an unusable result.
    FileReport read(const QString &path, const PartSink &sink = {},
                    const std::atomic<bool> *cancel = nullptr);

    // How many values passed over each file keeps (FileRecord::KeptMax unless
    // set); they are counted all the same.
    void setKeptMax(int count) { m_keptMax = count; }

private:
    std::unique_ptr<reading::ReportWalk> d;
    std::unique_ptr<char[]> m_raw; // a block of a file that is turned into UTF-8 by table
    int m_keptMax = FileRecord::KeptMax;
};

#endif // REPORTREADER_H
