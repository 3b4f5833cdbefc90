#ifndef GRID_H
#define GRID_H

// Where the walk over a file is: its open sections and rows, which give the
// cells that its cols add to, and the place of a col for telling about a
// value passed over.

#include "coltext.h"
#include "parsedreport.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace reading {

// The open sections and rows of a file, and the cells their cols add to the
// ParsedReport, in walk order.
class Grid
{
public:
    // An open <section> or <row>.
    struct Frame
    {
        bool isSection = false;
        bool valid = false;
        quint32 code = 0;
        quint32 docIndex = 0;
        CodeText codeText; // the code attribute as the file has it
        std::string s[3];    // row: s1, s2, s3
        int cachedSection = -1; // row: frame index of the section of cachedRow
        quint32 cachedRow = 0;
        int outer = -1; // frame index of the next section or row of its kind outside
    };

    void start(ParsedReport *r, const FilePartSink *s);

    // Gives back the frames a deeply nested file made it hold.
    void trim();

    // Opens a section or row with the given code attribute; docIndex is its
    // place among the file's elements.
    Frame &push(bool isSection, std::string_view codeText, quint32 docIndex);

    void pop(bool isSection);

    bool anyValidSection() const { return !validSections.empty(); }
    // True when some valid section has a valid row open below it.
    bool cellsCount() const
    {
        return !validSections.empty() && !validRows.empty() && validRows.back() > validSections.front();
    }
    const Frame *innermostSection() const { return innerSection >= 0 ? &frames[innerSection] : nullptr; }
    const Frame *innermostRow() const { return innerRow >= 0 ? &frames[innerRow] : nullptr; }

    // Adds a value once for each valid section and valid row below it; false
    // when a nested file would hold more cells than it may. Called for every
    // value of a file, so the usual file's way is here, to be inlined.
    bool addCell(quint32 col, double value, bool mayHandOver)
    {
        // The usual file: one section with one row open in it.
        if (!nested && validSections.size() == 1 && validRows.size() == 1
            && validRows.front() > validSections.front()) {
            report->cells.push_back({rowFor(validSections.front(), validRows.front()), col, value});
            handOver(mayHandOver);
            return true;
        }
        return addCellAnyNesting(col, value, mayHandOver);
    }

    // Puts the cells read since the first nesting into walk order.
    void finishOrder();

private:
    bool addCellAnyNesting(quint32 col, double value, bool mayHandOver);

    // Hands the cells gathered so far over as a part, once there are enough
    // of them and nothing before them can come later.
    void handOver(bool mayHandOver)
    {
        if (!nested && mayHandOver && *sink && report->cells.size() >= PartCells)
            handOverPart();
    }
    void handOverPart();

    // The index of the row that a cell in row frame rowFrame adds to under the
    // section of frame sectionFrame. Each row element gets its own entry; the
    // store brings equal rows together.
    quint32 rowFor(int sectionFrame, int rowFrame)
    {
        const Frame &row = frames[rowFrame];
        return row.cachedSection == sectionFrame ? row.cachedRow : newRow(sectionFrame, rowFrame);
    }
    quint32 newRow(int sectionFrame, int rowFrame);

    ParsedReport *report = nullptr;
    const FilePartSink *sink = nullptr;

    std::vector<Frame> frames; // used up to depth; kept to reuse their buffers
    int depth = 0;
    int openSections = 0;
    int openRows = 0;
    std::vector<int> validSections; // frame indices of the open sections with a code
    std::vector<int> validRows;     // and of the open rows with a code
    int innerSection = -1; // frame index of the innermost open section
    int innerRow = -1;     // and row

    // Set at the first nested section or row; cells from then on are sorted.
    bool nested = false;
    std::size_t nestedFrom = 0;
    std::vector<std::pair<quint64, std::size_t>> order; // walk position, cell
};

// Where the awaiting col is, for telling the user about a value passed over.
struct ColPlace
{
    qint64 line = 0; // 0 while values are not kept
    CodeText codeText;

    // Counts a value passed over for reason, and keeps it while the file
    // keeps fewer than keptMax.
    void passOver(ParsedReport &report, const Grid &grid, const ColText &text, PassedOverValue::Reason reason,
                  int keptMax) const;
};

} // namespace reading

#endif // GRID_H
