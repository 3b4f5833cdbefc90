// The look back at a failed file. A file that failed inside its <report> or
// <draft> start tag has its report element, even though the element could not
// be read whole. Expat hands over a start tag only once it is complete, so this
// is found out afterwards, on the failed file alone: the file is parsed again up
// to the error, with every token reported, to learn where the token that failed
// begins, and that token's first characters are looked at.

#include "failedtag.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace reading {
namespace {

// Room for reading a failed file again, left uninitialised: only what is read
// into it is used, and most broken files are small.
struct RereadBuffers
{
    explicit RereadBuffers(bool table)
        : raw(table ? new char[RawBlock] : nullptr), block(new char[BlockSize])
    {
    }
    std::unique_ptr<char[]> raw;
    std::unique_ptr<char[]> block;
};

// Where the token begins that a parser of the stream was in at byte offset error:
// the end of the last whole token before it.
qint64 failedTokenStart(QFile *file, const ByteTable *table, qint64 error, RereadBuffers &buffers)
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

} // namespace

bool failedInReportTag(QFile *file, const ByteTable *table, std::string_view head, qint64 error)
{
    RereadBuffers buffers(table);
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

} // namespace reading
