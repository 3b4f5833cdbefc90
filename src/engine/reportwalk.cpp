// The walk over one file: expat's events turned into the file's report
// element, title items and cells, as a walk over the file's document tree would
// find them:
//  - every <section> anywhere counts, every <row> at any depth below a section,
//    every <col> at any depth below a row; so a cell inside nested sections or
//    rows is added once for each (section, row) pair above it;
//  - a <col> counts only when its first child node is text; text that is only
//    blanks is no node at all, and a CDATA section is a text node of its own;
//  - values are added section by section in document order, then row by row,
//    then column by column. Without nesting that is simply document order; with
//    nesting the cells are sorted back into that order at the end of the file.

#include "reportwalk.h"

#include "numbers.h"
#include "singlebyte.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace reading {
namespace {

// Limits that keep a hostile file from taking the machine's memory. The parser
// keeps about 170 bytes for each open element, so elements nested deeper than
// this are refused as an XML error, as the parser refuses entities that expand
// too far. A col's text is kept up to ValueText bytes, leading and trailing
// blanks aside: no number is that long, and the rest only has to be told
// apart from blanks.
constexpr int MaxDepth = 1 << 21;
constexpr std::size_t ValueText = 1 << 20;
// Nested sections and rows count a value once for each pair above it, and those
// cells are held until the file ends to be put in walk order: more than this
// many (about 450 MB) are refused as an XML error too.
constexpr std::size_t MaxNestedCells = 1 << 22;
// Of a col's text longer than ValueText, this many bytes are kept to show.
constexpr std::size_t ShownText = 1024;

// A code attribute's text as the file has it, kept for telling the user where
// a value was passed over. Nearly every code is written the plain way, as its
// number is: then only the number is kept, for this happens on every col of
// a large file. Any other text is copied.
class CodeText
{
public:
    void assign(std::string_view text, bool valid, quint32 code)
    {
        const auto digit = [](char c) { return c >= '0' && c <= '9'; };
        m_plain = valid && digit(text.front()) && digit(text.back()) && (text.front() != '0' || text.size() == 1);
        if (m_plain)
            m_code = code;
        else
            m_text.assign(text);
    }
    std::string text() const { return m_plain ? std::to_string(m_code) : m_text; }

private:
    bool m_plain = false;
    quint32 m_code = 0;
    std::string m_text;
};

// Whether a name is exactly the given literal; stops at the first difference,
// so it never reads past the end of a shorter name.
template <std::size_t N>
bool is(const char *name, const char (&literal)[N])
{
    for (std::size_t i = 0; i < N; ++i) {
        if (name[i] != literal[i])
            return false;
    }
    return true;
}

template <std::size_t N>
const char *attribute(const XML_Char **atts, const char (&name)[N])
{
    for (; *atts; atts += 2) {
        if (is(atts[0], name))
            return atts[1];
    }
    return nullptr;
}

// An attribute's text; no text at all when it is absent.
std::string_view textOf(const char *value)
{
    return value ? std::string_view(value) : std::string_view();
}

template <std::size_t N>
QString textAttribute(const XML_Char **atts, const char (&name)[N])
{
    const char *v = attribute(atts, name);
    return v ? QString::fromUtf8(v) : QString();
}

// The text of the col whose first child is still to come. Leading blanks are
// left out (blanks alone are no node, and a number is read without them), and
// so are trailing ones once the text is long; anything past ValueText bytes
// only marks it as no number.
class ColText
{
public:
    void clear()
    {
        m_text.clear();
        m_cut = m_blanksAfter = false;
    }
    // Gives back the memory a hostile file made it take.
    void trim()
    {
        if (m_text.capacity() > ValueText / 8)
            std::string().swap(m_text);
    }

    void append(const char *s, std::size_t n)
    {
        if (m_cut)
            return;
        if (m_text.empty()) {
            while (n > 0 && isXmlSpace(*s)) {
                ++s;
                --n;
            }
        }
        if (n == 0)
            return;
        if (m_text.size() + n <= ValueText && !m_blanksAfter) {
            m_text.append(s, n);
            return;
        }
        // Past the limit: blanks at the end are left out, anything else after
        // left-out blanks, or too much of it, is no number.
        std::size_t content = n;
        while (content > 0 && isXmlSpace(s[content - 1]))
            --content;
        if (content > 0 && (m_blanksAfter || m_text.size() + content > ValueText)) {
            m_cut = true;
            if (m_text.size() < ShownText)
                m_text.append(s, std::min(n, ShownText - m_text.size()));
            return;
        }
        m_text.append(s, content);
        m_blanksAfter = content < n;
    }

    // No text at all has come but blanks.
    bool blank() const { return m_text.empty() && !m_cut; }
    // More than ValueText bytes came: no number, whatever they are.
    bool cut() const { return m_cut; }
    std::string_view text() const { return m_text; }

    // The text as the user is shown it: blanks trimmed, a long one cut after
    // TextMax characters, with "…".
    std::string shown() const
    {
        std::string_view t(m_text);
        // A text that was cut goes on beyond what is kept: no trailing blanks.
        while (!m_cut && !t.empty() && isXmlSpace(t.back()))
            t.remove_suffix(1);
        std::size_t characters = 0;
        for (std::size_t at = 0; at < t.size(); ++at) {
            if ((static_cast<unsigned char>(t[at]) & 0xc0) != 0x80 && ++characters > PassedOverValue::TextMax)
                return std::string(t.substr(0, at)) + "\u2026";
        }
        return std::string(t);
    }

private:
    std::string m_text;
    bool m_cut = false;
    bool m_blanksAfter = false;
};

// The open sections and rows of a file, and the cells their cols add to the
// FileReport, in walk order.
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

    void start(FileReport *r, const FilePartSink *s)
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

    // Gives back the frames a deeply nested file made it hold.
    void trim()
    {
        frames = std::vector<Frame>();
        validSections = std::vector<int>();
        validRows = std::vector<int>();
    }

    // Opens a section or row with the given code attribute; docIndex is its
    // place among the file's elements.
    Frame &push(bool isSection, std::string_view codeText, quint32 docIndex)
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

    void pop(bool isSection)
    {
        const Frame &f = frames[--depth];
        if (f.valid)
            (isSection ? validSections : validRows).pop_back();
        (isSection ? innerSection : innerRow) = f.outer;
        (isSection ? openSections : openRows) -= 1;
    }

    bool anyValidSection() const { return !validSections.empty(); }
    // True when some valid section has a valid row open below it.
    bool cellsCount() const
    {
        return !validSections.empty() && !validRows.empty() && validRows.back() > validSections.front();
    }
    const Frame *innermostSection() const { return innerSection >= 0 ? &frames[innerSection] : nullptr; }
    const Frame *innermostRow() const { return innerRow >= 0 ? &frames[innerRow] : nullptr; }

    // Adds a value once for each valid section and valid row below it; false
    // when a nested file would hold more cells than it may.
    bool addCell(quint32 col, double value, bool mayHandOver)
    {
        // The usual file: one section with one row open in it.
        if (!nested && validSections.size() == 1 && validRows.size() == 1
            && validRows.front() > validSections.front()) {
            report->cells.push_back({rowFor(validSections.front(), validRows.front()), col, value});
            handOver(mayHandOver);
            return true;
        }
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

    // Puts the cells read since the first nesting into walk order.
    void finishOrder()
    {
        if (!nested || order.empty())
            return;
        std::stable_sort(order.begin(), order.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        std::vector<FileReport::Cell> sorted;
        sorted.reserve(order.size());
        for (const auto &o : order)
            sorted.push_back(report->cells[o.second]);
        std::copy(sorted.begin(), sorted.end(), report->cells.begin() + qsizetype(nestedFrom));
        order.clear();
    }

private:
    // Hands the cells gathered so far over as a part, once there are enough
    // of them and nothing before them can come later.
    void handOver(bool mayHandOver)
    {
        if (!nested && mayHandOver && *sink && report->cells.size() >= PartCells) {
            const auto sent = quint32(report->rows.size());
            (*sink)(*report);
            report->rowBase += sent;
            report->rows.clear();
            report->cells.clear();
            report->cells.reserve(PartCells); // the next part is as large
        }
    }

    // The index of the row that a cell in row frame rowFrame adds to under the
    // section of frame sectionFrame. Each row element gets its own entry; the
    // store brings equal rows together.
    quint32 rowFor(int sectionFrame, int rowFrame)
    {
        Frame &row = frames[rowFrame];
        if (row.cachedSection == sectionFrame)
            return row.cachedRow;
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

    FileReport *report = nullptr;
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
    void passOver(FileReport &report, const Grid &grid, const ColText &text, PassedOverValue::Reason reason,
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
};

} // namespace

// The parser's events: title items and the report element here, sections and
// rows to the grid, the first child of each col to its text.
struct ReportWalk::State
{
    XML_Parser xml = nullptr;
    FileReport *report = nullptr;
    int keptMax = FileRecord::KeptMax;
    Grid grid;

    bool reportFound = false;
    bool draftFound = false;
    ReportKey draftKey;

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

    State() { xml = XML_ParserCreate(nullptr); }
    ~State() { XML_ParserFree(xml); }

    // After a deeply nested file, gives back what the parser keeps for reuse
    // (it keeps every element it had open), so that it does not stay with the
    // thread; likewise for the buffers that a hostile file made large.
    void trim()
    {
        if (deepest > 4096) {
            XML_ParserFree(xml);
            xml = XML_ParserCreate(nullptr);
            grid.trim();
        }
        text.trim();
    }

    void start(FileReport *r, const FilePartSink *s, int kept)
    {
        report = r;
        keptMax = kept;
        grid.start(r, s);
        reportFound = draftFound = false;
        draftKey = ReportKey();
        elementCount = 0;
        elementDepth = deepest = 0;
        awaiting = inCdata = false;
        text.clear();

        XML_ParserReset(xml, nullptr);
        XML_SetUserData(xml, this);
        XML_SetElementHandler(xml, onStart, onEnd);
        XML_SetCdataSectionHandler(xml, onCdataStart, onCdataEnd);
        XML_SetCommentHandler(xml, onComment);
        XML_SetProcessingInstructionHandler(xml, onPi);
        XML_SetUnknownEncodingHandler(xml, unknownEncoding, nullptr);
        XML_SetCharacterDataHandler(xml, nullptr);
    }

    void setAwaiting(bool on)
    {
        awaiting = on;
        XML_SetCharacterDataHandler(xml, on ? onText : nullptr);
    }

    enum class Boundary { Start, End, Other, CdataStart };

    // A tag, comment, processing instruction or CDATA section ends the text node
    // that was being gathered.
    void boundary(Boundary kind)
    {
        if (!awaiting)
            return;
        if (!text.blank()) {
            decide();
            return;
        }
        if (kind == Boundary::CdataStart)
            inCdata = true;
        else
            setAwaiting(false); // the first child is no text, or there is none
    }

    // The first child of the awaiting <col> is the text gathered.
    void decide()
    {
        setAwaiting(false);
        inCdata = false;
        double value;
        if (!colFault && !text.cut() && numbers::parseValue(text.text(), &value)) {
            if (!grid.addCell(colCode, value, reportFound))
                XML_StopParser(xml, XML_FALSE);
        } else {
            colPlace.passOver(*report, grid, text, colFault.value_or(PassedOverValue::Reason::Value), keptMax);
        }
        text.clear();
    }

    void startElement(const XML_Char *name, const XML_Char **atts)
    {
        boundary(Boundary::Start);
        ++elementCount;
        if (++elementDepth > MaxDepth) {
            XML_StopParser(xml, XML_FALSE);
            return;
        }
        deepest = std::max(deepest, elementDepth);
        switch (name[0]) {
        case 'c':
            if (is(name, "col"))
                startCol(atts);
            break;
        case 'r':
            if (is(name, "row")) {
                // The row's attributes in one pass (the parser refuses repeated ones).
                const char *code = nullptr;
                const char *values[3] = {};
                for (const XML_Char **a = atts; *a; a += 2) {
                    const char *n = a[0];
                    if (n[0] == 's' && n[1] >= '1' && n[1] <= '3' && n[2] == '\0')
                        values[n[1] - '1'] = a[1];
                    else if (is(n, "code"))
                        code = a[1];
                }
                Grid::Frame &f = grid.push(false, textOf(code), elementCount);
                for (int i = 0; i < 3; ++i) {
                    if (values[i])
                        f.s[i].assign(values[i]);
                    else
                        f.s[i].clear();
                }
            } else if (!reportFound && is(name, "report")) {
                reportFound = true;
                report->key = {textAttribute(atts, "code"), textAttribute(atts, "year"),
                               textAttribute(atts, "period")};
            }
            break;
        case 's':
            if (is(name, "section"))
                grid.push(true, textOf(attribute(atts, "code")), elementCount);
            break;
        case 'i':
            if (is(name, "item"))
                report->items.insert(textAttribute(atts, "name"), textAttribute(atts, "value"));
            break;
        case 'd':
            if (!draftFound && is(name, "draft")) {
                draftFound = true;
                draftKey = {textAttribute(atts, "code"), textAttribute(atts, "year"),
                            textAttribute(atts, "period")};
            }
            break;
        default:
            break;
        }
    }

    // Every col with text first is looked at: it adds to the totals, or is
    // passed over and told about.
    void startCol(const XML_Char **atts)
    {
        const std::string_view code = textOf(attribute(atts, "code"));
        const bool codeValid = code.data() && numbers::parseCode(code, &colCode);
        if (!grid.anyValidSection())
            colFault = PassedOverValue::Reason::Section;
        else if (!grid.cellsCount())
            colFault = PassedOverValue::Reason::Row;
        else if (!codeValid)
            colFault = PassedOverValue::Reason::Col;
        else
            colFault.reset();
        // The parser counts lines by going over every byte again, which costs
        // as much as a tenth of the parse: only done while values are kept.
        colPlace.line = report->passedOver.size() < keptMax ? qint64(XML_GetCurrentLineNumber(xml)) : 0;
        colPlace.codeText.assign(code, codeValid, colCode);
        text.clear();
        setAwaiting(true);
    }

    void endElement(const XML_Char *name)
    {
        boundary(Boundary::End);
        --elementDepth;
        const bool section = is(name, "section");
        if (section || is(name, "row"))
            grid.pop(section);
    }

    static void XMLCALL onStart(void *p, const XML_Char *name, const XML_Char **atts)
    {
        static_cast<State *>(p)->startElement(name, atts);
    }
    static void XMLCALL onEnd(void *p, const XML_Char *name)
    {
        static_cast<State *>(p)->endElement(name);
    }
    static void XMLCALL onText(void *p, const XML_Char *s, int len)
    {
        static_cast<State *>(p)->text.append(s, std::size_t(len));
    }
    static void XMLCALL onCdataStart(void *p)
    {
        static_cast<State *>(p)->boundary(Boundary::CdataStart);
    }
    static void XMLCALL onCdataEnd(void *p)
    {
        auto *self = static_cast<State *>(p);
        if (!self->inCdata)
            return;
        // A CDATA section of blanks alone is the col's first child, but no value.
        if (self->text.blank()) {
            self->inCdata = false;
            self->setAwaiting(false);
        } else {
            self->decide();
        }
    }
    static void XMLCALL onComment(void *p, const XML_Char *)
    {
        static_cast<State *>(p)->boundary(Boundary::Other);
    }
    static void XMLCALL onPi(void *p, const XML_Char *, const XML_Char *)
    {
        static_cast<State *>(p)->boundary(Boundary::Other);
    }
};

ReportWalk::ReportWalk()
    : d(new State)
{
}

ReportWalk::~ReportWalk() = default;

XML_Parser ReportWalk::parser() const
{
    return d->xml;
}

void ReportWalk::start(FileReport *report, const FilePartSink *sink, int keptMax)
{
    d->start(report, sink, keptMax);
}

void ReportWalk::trim()
{
    d->trim();
}

void ReportWalk::finish()
{
    d->grid.finishOrder();
}

bool ReportWalk::reportFound() const
{
    return d->reportFound;
}

bool ReportWalk::draftFound() const
{
    return d->draftFound;
}

const ReportKey &ReportWalk::draftKey() const
{
    return d->draftKey;
}

} // namespace reading
