#ifndef REPORTWALK_H
#define REPORTWALK_H

// The walk over one file: handlers for expat's events that gather the file's
// report element, title items and cells into a ParsedReport.

#include "coltext.h"
#include "parsedreport.h"
#include "grid.h"

#include <expat.h>

#include <optional>

namespace reading {

// The parser's events: title items and the report element here, sections and
// rows to the grid, the first child of each col to its text.
class ReportWalk
{
public:
    ReportWalk();
    ~ReportWalk();

    ReportWalk(const ReportWalk &) = delete;
    ReportWalk &operator=(const ReportWalk &) = delete;

    // The parser to feed the file to; its handlers are set by start().
    XML_Parser parser() const { return xml; }

    // Resets the parser and the walk for a new file whose report goes into
    // target; with a sink, cells that may be added before the file ends go out
    // in parts. Of the values passed over the first keep are kept, all are
    // counted.
    void start(ParsedReport *target, const FilePartSink *sink, int keep);
    // Puts the cells of a well-formed file into walk order, once it has ended.
    void finish() { grid.finishOrder(); }
    // After a deeply nested file, gives back what the parser keeps for reuse
    // (it keeps every element it had open), so that it does not stay with the
    // thread; likewise for the buffers that a hostile file made large.
    void trim();

    bool reportFound() const { return reportSeen; }
    bool draftFound() const { return draftSeen; }
    const ReportKey &draftKey() const { return firstDraftKey; } // of the first <draft>

private:
    void setAwaiting(bool on);

    enum class Boundary { Start, End, Other, CdataStart };

    // A tag, comment, processing instruction or CDATA section ends the text node
    // that was being gathered.
    void boundary(Boundary kind);
    // The first child of the awaiting <col> is the text gathered.
    void decide();

    void startElement(const XML_Char *name, const XML_Char **atts);
    // Every col with text first is looked at: it adds to the totals, or is
    // passed over and told about.
    void startCol(const XML_Char **atts);
    void endElement(const XML_Char *name);

    static void XMLCALL onStart(void *p, const XML_Char *name, const XML_Char **atts);
    static void XMLCALL onEnd(void *p, const XML_Char *name);
    static void XMLCALL onText(void *p, const XML_Char *s, int len);
    static void XMLCALL onCdataStart(void *p);
    static void XMLCALL onCdataEnd(void *p);
    static void XMLCALL onComment(void *p, const XML_Char *);
    static void XMLCALL onPi(void *p, const XML_Char *, const XML_Char *);

    XML_Parser xml = nullptr;
    ParsedReport *report = nullptr;
    int keptMax = FileRecord::KeptMax;
    Grid grid;

    bool reportSeen = false;
    bool draftSeen = false;
    ReportKey firstDraftKey;

    quint32 elementCount = 0;
    int elementDepth = 0;
    int deepest = 0; // the deepest element nesting of the file

    // The <col> whose first child is still to come, and the text gathered for it.
    bool awaiting = false;
    bool inCdata = false;
    quint32 colCode = 0;
    // Why the awaiting col cannot count whatever its text, if so.
    std::optional<PassedOverValue::Reason> colFault;
    ColPlace colPlace;
    ColText text;
};

} // namespace reading

#endif // REPORTWALK_H
