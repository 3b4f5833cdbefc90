#ifndef REPORTWALK_H
#define REPORTWALK_H

// The walk over one file: handlers for expat's events that gather the file's
// report element, title items and cells into a FileReport.

#include "filereport.h"

#include <expat.h>

#include <memory>

namespace reading {

class ReportWalk
{
public:
    ReportWalk();
    ~ReportWalk();

    ReportWalk(const ReportWalk &) = delete;
    ReportWalk &operator=(const ReportWalk &) = delete;

    // The parser to feed the file to; its handlers are set by start().
    XML_Parser parser() const;

    // Resets the parser and the walk for a new file that goes into report; with
    // a sink, cells that may be added before the file ends go out in parts.
    // keptMax values passed over are kept, all are counted.
    void start(FileReport *report, const FilePartSink *sink, int keptMax);
    // Puts the cells of a well-formed file into walk order, once it has ended.
    void finish();
    // Gives back memory that a deeply nested or hostile file made the walk hold.
    void trim();

    bool reportFound() const;
    bool draftFound() const;
    const ReportKey &draftKey() const; // of the first <draft>

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace reading

#endif // REPORTWALK_H
