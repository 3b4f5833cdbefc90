// Single-byte encodings turned into UTF-8: Qt's decoders give each byte its
// character once, and a file is then turned into UTF-8 a block at a time.

#include "singlebyte.h"

#include "codepage.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

namespace reading {

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

const ByteTable *byteTable(const QByteArray &encoding)
{
    // One cache for the process, not one per thread: on MinGW a thread_local
    // object's destructor runs after the thread's copy of it has been freed
    // (emulated TLS is let go first), which corrupts the heap now and then.
    // A table, once made, stays until the process ends.
    static std::mutex mutex;
    static std::map<QByteArray, std::unique_ptr<ByteTable>> tables;
    const QByteArray key = encoding.toLower();
    for (const char *native : {"utf-8", "utf-16", "utf-16le", "utf-16be", "iso-8859-1", "us-ascii"}) {
        if (key == native)
            return nullptr; // expat's own, and quick
    }
    const std::lock_guard lock(mutex);
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

qint64 FedStream::read(char *out, qint64 max)
{
    if (!table)
        return file->read(out, max);
    const qint64 n = file->read(raw, std::min(max / 3, RawBlock));
    return n <= 0 ? n : toUtf8(*table, raw, n, out);
}

} // namespace reading
