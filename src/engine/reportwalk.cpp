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

#include <algorithm>

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

ReportWalk::ReportWalk()
    : xml(XML_ParserCreate(nullptr))
{
}

ReportWalk::~ReportWalk()
{
    XML_ParserFree(xml);
}

void ReportWalk::trim()
{
    if (deepest > 4096) {
        XML_ParserFree(xml);
        xml = XML_ParserCreate(nullptr);
        grid.trim();
    }
    text.trim();
}

void ReportWalk::start(ParsedReport *target, const FilePartSink *sink, int keep)
{
    report = target;
    keptMax = keep;
    grid.start(target, sink);
    reportSeen = draftSeen = false;
    firstDraftKey = ReportKey();
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

// The handlers below run for every element and text of a file: they are
// inline, each called only here, so that they cost no call of their own.
inline void ReportWalk::setAwaiting(bool on)
{
    awaiting = on;
    XML_SetCharacterDataHandler(xml, on ? onText : nullptr);
}

inline void ReportWalk::boundary(Boundary kind)
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

inline void ReportWalk::decide()
{
    setAwaiting(false);
    inCdata = false;
    double value;
    if (!colFault && !text.cut() && numbers::parseValue(text.text(), &value)) {
        if (!grid.addCell(colCode, value, reportSeen))
            XML_StopParser(xml, XML_FALSE);
    } else {
        colPlace.passOver(*report, grid, text, colFault.value_or(PassedOverValue::Reason::Value), keptMax);
    }
    text.clear();
}

inline void ReportWalk::startElement(const XML_Char *name, const XML_Char **atts)
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
        } else if (!reportSeen && is(name, "report")) {
            reportSeen = true;
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
        if (!draftSeen && is(name, "draft")) {
            draftSeen = true;
            firstDraftKey = {textAttribute(atts, "code"), textAttribute(atts, "year"),
                        textAttribute(atts, "period")};
        }
        break;
    default:
        break;
    }
}

inline void ReportWalk::startCol(const XML_Char **atts)
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

inline void ReportWalk::endElement(const XML_Char *name)
{
    boundary(Boundary::End);
    --elementDepth;
    const bool section = is(name, "section");
    if (section || is(name, "row"))
        grid.pop(section);
}

void XMLCALL ReportWalk::onStart(void *p, const XML_Char *name, const XML_Char **atts)
{
    static_cast<ReportWalk *>(p)->startElement(name, atts);
}

void XMLCALL ReportWalk::onEnd(void *p, const XML_Char *name)
{
    static_cast<ReportWalk *>(p)->endElement(name);
}

void XMLCALL ReportWalk::onText(void *p, const XML_Char *s, int len)
{
    static_cast<ReportWalk *>(p)->text.append(s, std::size_t(len));
}

void XMLCALL ReportWalk::onCdataStart(void *p)
{
    static_cast<ReportWalk *>(p)->boundary(Boundary::CdataStart);
}

void XMLCALL ReportWalk::onCdataEnd(void *p)
{
    auto *self = static_cast<ReportWalk *>(p);
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

void XMLCALL ReportWalk::onComment(void *p, const XML_Char *)
{
    static_cast<ReportWalk *>(p)->boundary(Boundary::Other);
}

void XMLCALL ReportWalk::onPi(void *p, const XML_Char *, const XML_Char *)
{
    static_cast<ReportWalk *>(p)->boundary(Boundary::Other);
}

} // namespace reading
