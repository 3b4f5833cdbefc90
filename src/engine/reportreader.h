#ifndef REPORTREADER_H
#define REPORTREADER_H

#include "parsedreport.h"

#include <QString>

#include <atomic>
#include <memory>

namespace reading {
class ReportWalk;
}

// Reads report files with a streaming XML parser. Not thread-safe: use one per thread.
class ReportReader
{
public:
    ReportReader();
    ~ReportReader();

    ReportReader(const ReportReader &) = delete;
    ReportReader &operator=(const ReportReader &) = delete;

    using PartSink = FilePartSink;

    // Reads one file. With a sink, large files hand over their cells in parts
    // instead of holding them all; the last part is in the returned report.
    // When *cancel becomes true the reading stops early with an unusable result.
    ParsedReport read(const QString &path, const PartSink &sink = {},
                      const std::atomic<bool> *cancel = nullptr);

    // How many values passed over each file keeps (FileRecord::KeptMax unless
    // set); they are counted all the same.
    void setKeptMax(int count) { keptMax = count; }

private:
    std::unique_ptr<reading::ReportWalk> walk; // the parser and the handlers of its events
    std::unique_ptr<char[]> raw; // a block of a file that is turned into UTF-8 by table
    int keptMax = FileRecord::KeptMax;
};

#endif // REPORTREADER_H
