#include "grid.h"

#include "numbers.h"

#include <algorithm>

namespace reading {
namespace {

// Nested sections and rows count a value once for each pair above it, and those
// cells are held until the file ends to be put in walk order: more than this
// many (about 450 MB) are refused as an XML error, so that a hostile file
// cannot take the machine's memory.
constexpr std::size_t MaxNestedCells = 1 << 22;

} // namespace

void Grid::start(ParsedReport *r, const FilePartSink *s)
{
    report = r;
    sink = s;
    depth = openSections = openRows = 0;
    validSections.clear();
    validRows.clear();
    innerSection = innerRow = -1;
    nested = false;
    nestedFrom = 0;
    order.clear();
    if (order.capacity() > PartCells)
        order.shrink_to_fit();
}

void Grid::trim()
{
    frames = std::vector<Frame>();
    validSections = std::vector<int>();
    validRows = std::vector<int>();
}

Grid::Frame &Grid::push(bool isSection, std::string_view codeText, quint32 docIndex)
{
    quint32 code = 0;
    const bool valid = codeText.data() && numbers::parseCode(codeText, &code);
    if (depth == int(frames.size()))
        frames.emplace_back();
    if (valid)
        (isSection ? validSections : validRows).push_back(depth);
    int &inner = isSection ? innerSection : innerRow;
    Frame &f = frames[depth];
    f.outer = inner;
    inner = depth++;
    f.isSection = isSection;
    f.valid = valid;
    f.code = code;
    f.codeText.assign(codeText, valid, code);
    f.docIndex = docIndex;
    f.cachedSection = -1;
    if (!nested && (isSection ? openSections : openRows) > 0) {
        nested = true;
        nestedFrom = report->cells.size();
    }
    (isSection ? openSections : openRows) += 1;
    return f;
}

void Grid::pop(bool isSection)
{
    const Frame &f = frames[--depth];
    if (f.valid)
        (isSection ? validSections : validRows).pop_back();
    (isSection ? innerSection : innerRow) = f.outer;
    (isSection ? openSections : openRows) -= 1;
}

bool Grid::addCellAnyNesting(quint32 col, double value, bool mayHandOver)
{
    // The valid rows open below the section of frame i.
    auto rowsBelow = [this](int i) { return std::upper_bound(validRows.begin(), validRows.end(), i); };
    if (nested) {
        std::size_t pairs = 0;
        for (const int i : validSections)
            pairs += std::size_t(validRows.end() - rowsBelow(i));
        if (order.size() + pairs > MaxNestedCells)
            return false;
    }
    for (const int i : validSections) {
        for (auto r = rowsBelow(i); r != validRows.end(); ++r) {
            const int j = *r;
            const quint32 row = rowFor(i, j);
            if (nested) {
                const quint64 walk = (quint64(frames[i].docIndex) << 32) | frames[j].docIndex;
                order.emplace_back(walk, report->cells.size());
            }
            report->cells.push_back({row, col, value});
        }
    }
    handOver(mayHandOver);
    return true;
}

void Grid::finishOrder()
{
    if (!nested || order.empty())
        return;
    std::stable_sort(order.begin(), order.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<ParsedReport::Cell> sorted;
    sorted.reserve(order.size());
    for (const auto &o : order)
        sorted.push_back(report->cells[o.second]);
    std::copy(sorted.begin(), sorted.end(), report->cells.begin() + qsizetype(nestedFrom));
    order.clear();
}

void Grid::handOverPart()
{
    const auto sent = quint32(report->rows.size());
    (*sink)(*report);
    report->rowBase += sent;
    report->rows.clear();
    report->cells.clear();
    report->cells.reserve(PartCells); // the next part is as large
}

quint32 Grid::newRow(int sectionFrame, int rowFrame)
{
    Frame &row = frames[rowFrame];
    RowKey key;
    key.code = row.code;
    key.s1 = QString::fromUtf8(row.s[0]);
    key.s2 = QString::fromUtf8(row.s[1]);
    key.s3 = QString::fromUtf8(row.s[2]);
    row.cachedSection = sectionFrame;
    row.cachedRow = report->rowBase + quint32(report->rows.size());
    report->rows.push_back({frames[sectionFrame].code, std::move(key)});
    return row.cachedRow;
}

void ColPlace::passOver(ParsedReport &report, const Grid &grid, const ColText &text, PassedOverValue::Reason reason,
                        int keptMax) const
{
    // A value passed over for its codes may be a number as it stands; one
    // passed over for its text was just found to be none.
    double value;
    const bool lost = !text.cut()
        && ((reason != PassedOverValue::Reason::Value && numbers::parseValue(text.text(), &value))
            || numbers::isNumberOnceUngrouped(text.text()));
    ++report.passedOverCount;
    report.lostCount += lost ? 1 : 0;
    if (report.passedOver.size() >= keptMax)
        return;
    PassedOverValue v;
    v.line = line;
    v.reason = reason;
    v.lostNumber = lost;
    const Grid::Frame *section = grid.innermostSection();
    const Grid::Frame *row = grid.innermostRow();
    const std::string none, sectionCode = section ? section->codeText.text() : none,
                            rowCode = row ? row->codeText.text() : none;
    v.setFields({sectionCode, rowCode, row ? row->s[0] : none, row ? row->s[1] : none,
                 row ? row->s[2] : none, codeText.text(), text.shown()});
    report.passedOver.append(std::move(v));
}

} // namespace reading
