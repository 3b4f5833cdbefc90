#include "reportreader.h"

#include "codepage.h"
#include "numbers.h"

#include <QFile>
#include <QStringDecoder>

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// The reader streams each file through expat and gives the same result as a walk
// over the file's document tree would:
//  - every <section> anywhere counts, every <row> at any depth below a section,
//    every <col> at any depth below a row; so a cell inside nested sections or
//    rows is added once for each (section, row) pair above it;
//  - a <col> counts only when its first child node is text; text that is only
//    blanks is no node at all, and a CDATA section is a text node of its own;
//  - values are added section by section in document order, then row by row,
//    then column by column. Without nesting that is simply document order; with
//    nesting the cells are sorted back into that order at the end of the file.

namespace {

constexpr int BlockSize = 1 << 20;
constexpr std::size_t PartCells = 1 << 16;

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

bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

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

template <std::size_t N>
QString textAttribute(const XML_Char **atts, const char (&name)[N])
{
    const char *v = attribute(atts, name);
    return v ? QString::fromUtf8(v) : QString();
}

bool codeAttribute(const XML_Char **atts, quint32 *code)
{
    const char *v = attribute(atts, "code");
    return v && numbers::parseCode(v, code);
}

// Encodings that expat does not know itself: any single-byte encoding that Qt can
// decode (windows-1251, KOI8-R, CP866, ISO-8859-5, ...). Multi-byte ones fail.
int XMLCALL unknownEncoding(void *, const XML_Char *name, XML_Encoding *info)
{
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    QStringDecoder decoder(name);
    if (!decoder.isValid())
        return windowsCodePageMap(name, info->map) ? XML_STATUS_OK : XML_STATUS_ERROR;
    for (int b = 0; b < 256; ++b) {
        const char byte = char(b);
        decoder.resetState();
        const QString text = decoder.decode(QByteArrayView(&byte, 1));
        if (text.isEmpty())
            return XML_STATUS_ERROR; // a lead byte of a multi-byte sequence
        const QChar c = text.at(0);
        if (text.size() != 1 || c.isSurrogate() || c == QChar::ReplacementCharacter)
            info->map[b] = -1;
        else
            info->map[b] = c.unicode();
    }
    return XML_STATUS_OK;
}

bool encodingProblem(XML_Error code)
{
    return code == XML_ERROR_UNKNOWN_ENCODING || code == XML_ERROR_INCORRECT_ENCODING;
}

// A single-byte encoding turned into UTF-8 by table, one sequence per byte.
// Expat can do this itself, but converts every name and text it hands over on
// the way; turning the bytes into UTF-8 first makes such files as quick to read
// as UTF-8 ones.
struct ByteTable
{
    char utf8[256][3];
    quint8 length[256];
};

// The encoding that the XML declaration at the start of text names, or nothing.
QByteArray declaredEncoding(const char *text, qint64 size)
{
    const std::string_view head(text, std::size_t(std::min<qint64>(size, 1024)));
    if (head.substr(0, 5) != "<?xml" || head.size() < 6 || !isXmlSpace(head[5]))
        return QByteArray();
    const std::size_t end = head.find("?>");
    if (end == std::string_view::npos)
        return QByteArray();
    const std::string_view decl = head.substr(0, end);
    std::size_t at = decl.find("encoding");
    if (at == std::string_view::npos || !isXmlSpace(decl[at - 1]))
        return QByteArray();
    at += 8;
    while (at < decl.size() && isXmlSpace(decl[at]))
        ++at;
    if (at >= decl.size() || decl[at] != '=')
        return QByteArray();
    ++at;
    while (at < decl.size() && isXmlSpace(decl[at]))
        ++at;
    if (at >= decl.size() || (decl[at] != '"' && decl[at] != '\''))
        return QByteArray();
    const std::size_t close = decl.find(decl[at], at + 1);
    if (close == std::string_view::npos)
        return QByteArray();
    return QByteArray(decl.data() + at + 1, qsizetype(close - at - 1));
}

// The table for a single-byte encoding that leaves ASCII as it is, or null.
const ByteTable *byteTable(const QByteArray &encoding)
{
    thread_local std::map<QByteArray, std::unique_ptr<ByteTable>> tables;
    const QByteArray key = encoding.toLower();
    for (const char *native : {"utf-8", "utf-16", "utf-16le", "utf-16be", "iso-8859-1", "us-ascii"}) {
        if (key == native)
            return nullptr; // expat's own, and quick
    }
    auto found = tables.find(key);
    if (found != tables.end())
        return found->second.get();

    std::unique_ptr<ByteTable> table;
    XML_Encoding info;
    if (unknownEncoding(nullptr, key.constData(), &info) == XML_STATUS_OK) {
        table = std::make_unique<ByteTable>();
        for (int b = 0; b < 256 && table; ++b) {
            const int c = info.map[b];
            if (b < 0x80 && c != b) {
                table.reset();
                break;
            }
            char *out = table->utf8[b];
            if (c < 0) { // not a character: a byte that UTF-8 never has
                out[0] = char(0xff);
                table->length[b] = 1;
            } else if (c < 0x80) {
                out[0] = char(c);
                table->length[b] = 1;
            } else if (c < 0x800) {
                out[0] = char(0xc0 | (c >> 6));
                out[1] = char(0x80 | (c & 0x3f));
                table->length[b] = 2;
            } else {
                out[0] = char(0xe0 | (c >> 12));
                out[1] = char(0x80 | ((c >> 6) & 0x3f));
                out[2] = char(0x80 | (c & 0x3f));
                table->length[b] = 3;
            }
        }
    }
    return tables.emplace(key, std::move(table)).first->second.get();
}

// Writes the UTF-8 form of n bytes of text to out and returns its length.
qint64 toUtf8(const ByteTable &table, const char *text, qint64 n, char *out)
{
    char *start = out;
    qint64 i = 0;
    while (i < n) {
        // ASCII, the bulk of any report, eight bytes at a time
        quint64 word;
        if (i + 8 <= n) {
            std::memcpy(&word, text + i, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                std::memcpy(out, &word, 8);
                out += 8;
                i += 8;
                continue;
            }
        }
        const auto b = static_cast<unsigned char>(text[i++]);
        if (b < 0x80) {
            *out++ = char(b);
        } else {
            const char *sequence = table.utf8[b];
            const int length = table.length[b];
            out[0] = sequence[0];
            if (length > 1)
                out[1] = sequence[1];
            if (length > 2)
                out[2] = sequence[2];
            out += length;
        }
    }
    return qint64(out - start);
}

// ---- Whether a parser failed inside a <report> or <draft> start tag ------------
// Such a file has its report element, even though the element could not be read
// whole. Expat hands over a start tag only once it is complete, so this is found
// out afterwards, on the failed file alone: the file is parsed again up to the
// error, with every token reported, to learn where the token that failed begins,
// and that token's first characters are looked at.

// The bytes a parser is fed from a file: the file itself or, for a single-byte
// encoding read by table, its UTF-8 form, made in raw, a block of RawBlock bytes.
constexpr qint64 RawBlock = BlockSize / 3;

class FedStream
{
public:
    FedStream(QFile *file, const ByteTable *table, char *raw)
        : m_file(file), m_table(table), m_raw(raw)
    {
    }
    // Reads at most max bytes (max >= 3); 0 at the end, -1 on failure.
    qint64 read(char *out, qint64 max)
    {
        if (!m_table)
            return m_file->read(out, max);
        const qint64 n = m_file->read(m_raw, std::min(max / 3, RawBlock));
        return n <= 0 ? n : toUtf8(*m_table, m_raw, n, out);
    }

private:
    QFile *m_file;
    const ByteTable *m_table;
    char *m_raw;
};

// Room for reading a failed file again, left uninitialised: only what is read
// into it is used, and most broken files are small.
struct LookBackBuffers
{
    explicit LookBackBuffers(bool table)
        : raw(table ? new char[RawBlock] : nullptr), block(new char[BlockSize])
    {
    }
    std::unique_ptr<char[]> raw;
    std::unique_ptr<char[]> block;
};

// Where the token begins that a parser of the stream was in at byte offset error:
// the end of the last whole token before it.
qint64 failedTokenStart(QFile *file, const ByteTable *table, qint64 error, LookBackBuffers &buffers)
{
    struct Tracker
    {
        XML_Parser xml = nullptr;
        qint64 end = 0;
    } tracker;
    tracker.xml = XML_ParserCreate(nullptr);
    if (!tracker.xml)
        return -1;
    XML_SetUserData(tracker.xml, &tracker);
    XML_SetUnknownEncodingHandler(tracker.xml, unknownEncoding, nullptr);
    if (table)
        XML_SetEncoding(tracker.xml, "UTF-8");
    // With no other handlers, every token goes to the default handler, entity
    // references in text unexpanded.
    XML_SetDefaultHandler(tracker.xml, [](void *p, const XML_Char *, int) {
        auto *t = static_cast<Tracker *>(p);
        t->end = qint64(XML_GetCurrentByteIndex(t->xml)) + XML_GetCurrentByteCount(t->xml);
    });
    // The last piece goes in as the end of the document: the parser then reports
    // every whole token before the error at once, instead of waiting for more.
    char *block = buffers.block.get();
    FedStream stream(file, table, buffers.raw.get());
    bool more = file->seek(0);
    for (qint64 fed = 0; more;) {
        const qint64 n = stream.read(block, BlockSize);
        const qint64 take = std::clamp<qint64>(error - fed, 0, std::max<qint64>(n, 0));
        more = n > 0 && fed + take < error;
        if (XML_Parse(tracker.xml, block, int(take), more ? XML_FALSE : XML_TRUE) != XML_STATUS_OK)
            break;
        fed += take;
    }
    XML_ParserFree(tracker.xml);
    return tracker.end;
}

// How the parser turned bytes into characters.
struct Decoding
{
    enum Kind { Utf8, Utf16Le, Utf16Be, Latin1, Ascii, Mapped } kind = Utf8;
    XML_Encoding map{}; // for Mapped: byte -> character, -1 for none
};

Decoding decodingOf(const char *head, qint64 size, const ByteTable *table)
{
    Decoding d;
    const auto b0 = size > 0 ? quint8(head[0]) : 0, b1 = size > 1 ? quint8(head[1]) : 0;
    if ((b0 == 0xff && b1 == 0xfe) || (b0 == '<' && b1 == 0)) {
        d.kind = Decoding::Utf16Le;
    } else if ((b0 == 0xfe && b1 == 0xff) || (b0 == 0 && b1 == '<')) {
        d.kind = Decoding::Utf16Be;
    } else if (!table) {
        const QByteArray name = declaredEncoding(head, size).toLower();
        if (name == "iso-8859-1")
            d.kind = Decoding::Latin1;
        else if (name == "us-ascii")
            d.kind = Decoding::Ascii;
        else if (!name.isEmpty() && !name.startsWith("utf-")
                 && unknownEncoding(nullptr, name.constData(), &d.map) == XML_STATUS_OK)
            d.kind = Decoding::Mapped;
    }
    return d;
}

// The characters at the start of text, at most max of them; a sequence that is
// no character ends the list with -1.
std::vector<int> characters(const Decoding &d, const char *text, qint64 size, std::size_t max)
{
    std::vector<int> out;
    const auto *u = reinterpret_cast<const quint8 *>(text);
    qint64 i = 0;
    while (i < size && out.size() < max) {
        int c = -1;
        if (d.kind == Decoding::Utf16Le || d.kind == Decoding::Utf16Be) {
            auto unit = [&](qint64 at) {
                return d.kind == Decoding::Utf16Le ? u[at] | (u[at + 1] << 8) : (u[at] << 8) | u[at + 1];
            };
            if (i + 1 >= size)
                break;
            c = unit(i);
            i += 2;
            if (c >= 0xd800 && c < 0xdc00 && i + 1 < size) {
                const int low = unit(i);
                c = low >= 0xdc00 && low < 0xe000 ? 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00) : -1;
                i += 2;
            } else if (c >= 0xd800 && c < 0xe000) {
                c = -1;
            }
        } else if (d.kind == Decoding::Latin1) {
            c = u[i++];
        } else if (d.kind == Decoding::Ascii) {
            c = u[i] < 0x80 ? u[i] : -1;
            ++i;
        } else if (d.kind == Decoding::Mapped) {
            c = d.map.map[u[i++]];
        } else { // UTF-8
            const quint8 b = u[i];
            const int length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
            if (length > 0 && i + length <= size) {
                c = length == 1 ? b : b & ((1 << (7 - length)) - 1);
                for (int k = 1; k < length && c >= 0; ++k)
                    c = (u[i + k] & 0xc0) == 0x80 ? (c << 6) | (u[i + k] & 0x3f) : -1;
                static constexpr int least[] = {0, 0, 0x80, 0x800, 0x10000};
                if (c < least[length] || c > 0x10ffff || (c >= 0xd800 && c < 0xe000))
                    c = -1;
            }
            i += std::max(length, 1);
        }
        out.push_back(c);
        if (c < 0)
            break;
    }
    return out;
}

// Whether c can continue an element name, as the parser decides it.
bool continuesName(int c)
{
    if (c < 0)
        return false;
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '.' || c == '-' || c == '_' || c == ':';
    const auto character = QChar::fromUcs4(char32_t(c));
    const QByteArray probe = "<a" + QStringView(character).toUtf8() + "/>";
    XML_Parser xml = XML_ParserCreate("UTF-8");
    const bool ok = xml && XML_Parse(xml, probe.constData(), int(probe.size()), XML_TRUE) == XML_STATUS_OK;
    if (xml)
        XML_ParserFree(xml);
    return ok;
}

// Whether a parser of file that failed at byte offset error was inside a
// <report> or <draft> start tag (right after its name included). head holds the
// file's first bytes.
bool failedInReportTag(QFile *file, const ByteTable *table, std::string_view head, qint64 error)
{
    LookBackBuffers buffers(table);
    const qint64 start = failedTokenStart(file, table, error, buffers);
    if (start < 0 || !file->seek(0))
        return false;
    // The first characters of the token are enough to tell its name.
    constexpr qint64 Look = 32;
    QByteArray token;
    char *block = buffers.block.get();
    FedStream stream(file, table, buffers.raw.get());
    for (qint64 at = 0; at < start + Look;) {
        const qint64 n = stream.read(block, BlockSize);
        if (n <= 0)
            break;
        const qint64 from = std::max(start, at), to = std::min(start + Look, at + n);
        if (from < to)
            token.append(block + (from - at), qsizetype(to - from));
        at += n;
    }
    const Decoding decoding = decodingOf(head.data(), qint64(head.size()), table);
    std::vector<int> chars = characters(decoding, token.constData(), token.size(), 9);
    if (start == 0 && !chars.empty() && chars.front() == 0xfeff)
        chars.erase(chars.begin()); // a byte-order mark is no token
    for (const std::u32string_view name : {std::u32string_view(U"<report"), std::u32string_view(U"<draft")}) {
        if (chars.size() < name.size()
            || !std::equal(name.begin(), name.end(), chars.begin(),
                           [](char32_t a, int b) { return int(a) == b; }))
            continue;
        if (chars.size() == name.size() || !continuesName(chars[name.size()]))
            return true;
    }
    return false;
}

} // namespace

struct ReportReader::Parser
{
    // An open <section> or <row>.
    struct Frame
    {
        bool isSection = false;
        bool valid = false;
        quint32 code = 0;
        quint32 docIndex = 0;
        std::string s[3];    // row: s1, s2, s3
        int cachedSection = -1; // row: frame index of the section of cachedRow
        quint32 cachedRow = 0;
    };

    XML_Parser xml = nullptr;
    FileReport *report = nullptr;
    const PartSink *sink = nullptr;

    bool reportFound = false;
    bool draftFound = false;
    ReportKey draftKey;

    std::vector<Frame> frames; // used up to depth; kept to reuse their buffers
    int depth = 0;
    int openSections = 0;
    int openRows = 0;
    std::vector<int> validSections; // frame indices of the open sections with a code
    std::vector<int> validRows;     // and of the open rows with a code
    quint32 elementCount = 0;
    int elementDepth = 0;

    // Set at the first nested section or row; cells from then on are sorted.
    bool nested = false;
    std::size_t nestedFrom = 0;
    std::vector<std::pair<quint64, std::size_t>> order; // walk position, cell

    // The <col> whose first child is still to come, and the text gathered for it.
    bool awaiting = false;
    bool inCdata = false;
    quint32 colCode = 0;
    std::string text;       // leading blanks left out
    bool textCut = false;   // more than ValueText bytes came, so no number
    bool blanksAfter = false; // blanks left out after text reached ValueText

    int deepest = 0; // the deepest element nesting of the file

    Parser() { xml = XML_ParserCreate(nullptr); }
    ~Parser() { XML_ParserFree(xml); }

    // After a deeply nested file, gives back what the parser keeps for reuse
    // (it keeps every element it had open), so that it does not stay with the
    // thread; likewise for the buffers that a hostile file made large.
    void trim()
    {
        if (deepest > 4096) {
            XML_ParserFree(xml);
            xml = XML_ParserCreate(nullptr);
            frames = std::vector<Frame>();
            validSections = std::vector<int>();
            validRows = std::vector<int>();
        }
        if (text.capacity() > ValueText / 8)
            std::string().swap(text);
    }

    void start(FileReport *r, const PartSink *s)
    {
        report = r;
        sink = s;
        reportFound = draftFound = false;
        draftKey = ReportKey();
        depth = openSections = openRows = 0;
        validSections.clear();
        validRows.clear();
        elementCount = 0;
        elementDepth = deepest = 0;
        nested = false;
        nestedFrom = 0;
        order.clear();
        if (order.capacity() > PartCells)
            order.shrink_to_fit();
        awaiting = inCdata = false;
        clearText();

        XML_ParserReset(xml, nullptr);
        XML_SetUserData(xml, this);
        XML_SetElementHandler(xml, onStart, onEnd);
        XML_SetCdataSectionHandler(xml, onCdataStart, onCdataEnd);
        XML_SetCommentHandler(xml, onComment);
        XML_SetProcessingInstructionHandler(xml, onPi);
        XML_SetUnknownEncodingHandler(xml, unknownEncoding, nullptr);
        XML_SetCharacterDataHandler(xml, nullptr);
    }

    void clearText()
    {
        text.clear();
        textCut = blanksAfter = false;
    }

    // Gathers the text of the awaiting col. Leading blanks are left out (blanks
    // alone are no node, and a number is read without them), and so are
    // trailing ones once the text is long; anything past ValueText bytes only
    // marks it as no number.
    void appendText(const char *s, std::size_t n)
    {
        if (textCut)
            return;
        if (text.empty()) {
            while (n > 0 && isXmlSpace(*s)) {
                ++s;
                --n;
            }
        }
        if (n == 0)
            return;
        if (text.size() + n <= ValueText && !blanksAfter) {
            text.append(s, n);
            return;
        }
        // Past the limit: blanks at the end are left out, anything else after
        // left-out blanks, or too much of it, is no number.
        std::size_t content = n;
        while (content > 0 && isXmlSpace(s[content - 1]))
            --content;
        if (content > 0 && (blanksAfter || text.size() + content > ValueText)) {
            textCut = true;
            return;
        }
        text.append(s, content);
        blanksAfter = content < n;
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
        if (!text.empty() || textCut) {
            decide();
            return;
        }
        if (kind == Boundary::CdataStart)
            inCdata = true;
        else
            setAwaiting(false); // the first child is no text, or there is none
    }

    // The first child of the awaiting <col> is the text in `text`.
    void decide()
    {
        setAwaiting(false);
        inCdata = false;
        double value;
        if (!textCut && numbers::parseValue(text, &value))
            addCell(colCode, value);
        clearText();
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

    void addCell(quint32 col, double value)
    {
        // The valid rows open below the section of frame i.
        auto rowsBelow = [this](int i) { return std::upper_bound(validRows.begin(), validRows.end(), i); };
        if (nested) {
            std::size_t pairs = 0;
            for (const int i : validSections)
                pairs += std::size_t(validRows.end() - rowsBelow(i));
            if (order.size() + pairs > MaxNestedCells) {
                XML_StopParser(xml, XML_FALSE);
                return;
            }
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
        if (!nested && reportFound && *sink && report->cells.size() >= PartCells) {
            const auto sent = quint32(report->rows.size());
            (*sink)(*report);
            report->rowBase += sent;
            report->rows.clear();
            report->cells.clear();
            report->cells.reserve(PartCells); // the next part is as large
        }
    }

    // True when some valid section has a valid row open below it.
    bool cellsCount() const
    {
        return !validSections.empty() && !validRows.empty()
            && validRows.back() > validSections.front();
    }

    Frame &push(bool isSection, bool valid)
    {
        if (depth == int(frames.size()))
            frames.emplace_back();
        if (valid)
            (isSection ? validSections : validRows).push_back(depth);
        Frame &f = frames[depth++];
        f.isSection = isSection;
        f.valid = valid;
        f.docIndex = elementCount;
        f.cachedSection = -1;
        if (!nested && (isSection ? openSections : openRows) > 0) {
            nested = true;
            nestedFrom = report->cells.size();
        }
        (isSection ? openSections : openRows) += 1;
        return f;
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
            if (is(name, "col") && codeAttribute(atts, &colCode) && cellsCount()) {
                clearText();
                setAwaiting(true);
            }
            break;
        case 'r':
            if (is(name, "row")) {
                quint32 code = 0;
                Frame &f = push(false, codeAttribute(atts, &code));
                f.code = code;
                if (f.valid) {
                    const char *values[] = {attribute(atts, "s1"), attribute(atts, "s2"),
                                            attribute(atts, "s3")};
                    for (int i = 0; i < 3; ++i)
                        f.s[i].assign(values[i] ? values[i] : "");
                }
            } else if (!reportFound && is(name, "report")) {
                reportFound = true;
                report->key = {textAttribute(atts, "code"), textAttribute(atts, "year"),
                               textAttribute(atts, "period")};
            }
            break;
        case 's':
            if (is(name, "section")) {
                quint32 code = 0;
                const bool valid = codeAttribute(atts, &code);
                push(true, valid).code = code;
            }
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

    void endElement(const XML_Char *name)
    {
        boundary(Boundary::End);
        --elementDepth;
        const bool section = is(name, "section");
        if (section || is(name, "row")) {
            const Frame &f = frames[--depth];
            if (f.valid)
                (section ? validSections : validRows).pop_back();
            (section ? openSections : openRows) -= 1;
        }
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

    static void XMLCALL onStart(void *p, const XML_Char *name, const XML_Char **atts)
    {
        static_cast<Parser *>(p)->startElement(name, atts);
    }
    static void XMLCALL onEnd(void *p, const XML_Char *name)
    {
        static_cast<Parser *>(p)->endElement(name);
    }
    static void XMLCALL onText(void *p, const XML_Char *s, int len)
    {
        static_cast<Parser *>(p)->appendText(s, std::size_t(len));
    }
    static void XMLCALL onCdataStart(void *p)
    {
        static_cast<Parser *>(p)->boundary(Boundary::CdataStart);
    }
    static void XMLCALL onCdataEnd(void *p)
    {
        auto *self = static_cast<Parser *>(p);
        if (self->inCdata)
            self->decide();
    }
    static void XMLCALL onComment(void *p, const XML_Char *)
    {
        static_cast<Parser *>(p)->boundary(Boundary::Other);
    }
    static void XMLCALL onPi(void *p, const XML_Char *, const XML_Char *)
    {
        static_cast<Parser *>(p)->boundary(Boundary::Other);
    }
};

ReportReader::ReportReader()
    : d(new Parser)
{
}

ReportReader::~ReportReader() = default;

FileReport ReportReader::read(const QString &path, const PartSink &sink,
                             const std::atomic<bool> *cancel)
{
    FileReport report;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        report.status = FileReport::Status::AccessError;
        return report;
    }
    // Room for the cells at once (a cell takes 25 bytes of text at the least),
    // so that the list is not copied over and over while it grows.
    report.cells.reserve(std::size_t(std::clamp<qint64>(file.size() / 25, 0, PartCells)));

    // The declaration at the start tells whether the file is turned into UTF-8
    // by table on its way to the parser.
    char headBytes[1024];
    const qint64 headSize = file.read(headBytes, sizeof headBytes);
    if (headSize < 0 || !file.seek(0)) {
        report.status = FileReport::Status::AccessError;
        return report;
    }
    const std::string_view head(headBytes, std::size_t(headSize));
    const ByteTable *table = headSize > 0 ? byteTable(declaredEncoding(headBytes, headSize)) : nullptr;

    Parser &p = *d;
    p.start(&report, &sink);
    if (table) {
        // The parser reads UTF-8, whatever the declaration says.
        XML_SetEncoding(p.xml, "UTF-8");
        if (!m_raw)
            m_raw.reset(new char[RawBlock]);
    }
    FedStream stream(&file, table, m_raw.get());
    bool wellFormed = true;
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            report.status = FileReport::Status::AccessError;
            return report;
        }
        void *buffer = XML_GetBuffer(p.xml, BlockSize);
        if (!buffer) {
            wellFormed = false;
            break;
        }
        const qint64 n = stream.read(static_cast<char *>(buffer), BlockSize);
        if (n < 0) {
            report.status = FileReport::Status::AccessError;
            return report;
        }
        if (XML_ParseBuffer(p.xml, int(n), n == 0) != XML_STATUS_OK) {
            wellFormed = false;
            break;
        }
        if (n == 0)
            break;
    }

    const XML_Error error = XML_GetErrorCode(p.xml);
    const qint64 errorAt = qint64(XML_GetCurrentByteIndex(p.xml));
    const qint64 errorLine = qint64(XML_GetCurrentLineNumber(p.xml));
    const qint64 errorColumn = qint64(XML_GetCurrentColumnNumber(p.xml)) + 1;
    p.trim();

    // A file is a report when the parser reached its report element before any
    // error. One whose encoding cannot be read at all might be one: an XML error.
    if (!p.reportFound && !p.draftFound
        && (wellFormed
            || !(encodingProblem(error) || failedInReportTag(&file, table, head, errorAt)))) {
        report = FileReport();
        report.status = FileReport::Status::NoReportElement;
        return report;
    }
    if (!wellFormed) {
        report.status = FileReport::Status::XmlError;
        report.errorLine = errorLine;
        report.errorColumn = errorColumn;
        return report;
    }
    if (!p.reportFound)
        report.key = p.draftKey;
    p.finishOrder();
    return report;
}
