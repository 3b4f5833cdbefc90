#ifndef SINGLEBYTE_H
#define SINGLEBYTE_H

// Single-byte encodings (windows-1251, KOI8-R, CP866, ...) turned into UTF-8 by
// table before the parser sees a file, and the stream of bytes a parser is fed.

#include <QByteArray>

#include <expat.h>

class QFile;

namespace reading {

// Bytes the parser takes from a file at a time.
constexpr int BlockSize = 1 << 20;
// A block of a single-byte file: its UTF-8 form fills at most BlockSize bytes.
constexpr qint64 RawBlock = BlockSize / 3;

inline bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Encodings that expat does not know itself: any single-byte encoding that Qt can
// decode (windows-1251, KOI8-R, CP866, ISO-8859-5, ...), or, where Qt knows none
// (built without ICU, as for Windows), Windows can. Multi-byte ones fail.
int XMLCALL unknownEncoding(void *, const XML_Char *name, XML_Encoding *info);

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
QByteArray declaredEncoding(const char *text, qint64 size);

// The table for a single-byte encoding that leaves ASCII as it is, or null.
// Any thread may ask; each table is made once and kept while the process runs.
const ByteTable *byteTable(const QByteArray &encoding);

// Writes the UTF-8 form of n bytes of text to out and returns its length.
qint64 toUtf8(const ByteTable &table, const char *text, qint64 n, char *out);

// The bytes a parser is fed from a file: the file itself or, for a single-byte
// encoding read by table, its UTF-8 form, made in raw, a block of RawBlock bytes.
class FedStream
{
public:
    FedStream(QFile *file, const ByteTable *table, char *raw)
        : file(file), table(table), raw(raw)
    {
    }
    // Reads at most max bytes (max >= 3); 0 at the end, -1 on failure.
    qint64 read(char *out, qint64 max);

private:
    QFile *file;
    const ByteTable *table;
    char *raw;
};

} // namespace reading

#endif // SINGLEBYTE_H
