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

#include "coltext.h"
#include "grid.h"
#include "numbers.h"

#include <algorithm>
#include <optional>

namespace reading {
namespace {

// Limits that keep a hostile file from taking the machine's memory. The parser
// keeps about 170 bytes for each open element, so elements nested deeper than
// this are refused as an XML error, as the parser refuses entities that expand
// too far.
constexpr int MaxDepth = 1 << 21;

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
