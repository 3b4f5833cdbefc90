#include "reportwriter.h"

#include "numbers.h"

#include <QIODevice>

#include <charconv>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

// Collects the text in a fixed block and hands it on block by block, so
// memory does not grow with the report.
class Output
{
public:
    // Takes a block; false when it was not all taken.
    using Sink = std::function<bool(const char *, std::size_t)>;

    explicit Output(Sink sink)
        : sink(std::move(sink))
        , block(new char[BlockSize]) // filled before it is read
    {
    }

    // Room for n more bytes at the returned place; advance() says how many were used.
    char *room(std::size_t n)
    {
        if (used + n > size) {
            flush();
            if (n > size) {
                block.reset(new char[n]);
                size = n;
            }
        }
        return block.get() + used;
    }
    void advance(char *end) { used = std::size_t(end - block.get()); }

    void put(const char *text, std::size_t n)
    {
        std::memcpy(room(n), text, n);
        used += n;
    }
    template <std::size_t N>
    void put(const char (&literal)[N])
    {
        put(literal, N - 1);
    }
    void put(const std::string &text) { put(text.data(), text.size()); }

    // Hands a text made elsewhere on as it is, after what came before it.
    void pass(const std::string &text)
    {
        flush();
        if (allTaken && !text.empty())
            allTaken = sink(text.data(), text.size());
    }
    // Everything handed on so far was taken.
    bool ok() const { return allTaken; }

    bool finish()
    {
        flush();
        return allTaken;
    }

private:
    static constexpr std::size_t BlockSize = 1 << 18;

    void flush()
    {
        if (used > 0 && allTaken)
            allTaken = sink(block.get(), used);
        used = 0;
    }

    Sink sink;
    std::unique_ptr<char[]> block;
    std::size_t size = BlockSize;
    std::size_t used = 0;
    bool allTaken = true;
};

Output::Sink deviceSink(QIODevice *device)
{
    return [device](const char *data, std::size_t n) { return device->write(data, qint64(n)) == qint64(n); };
}

// ` name="value"` with the value escaped so that a reader gets it back unchanged:
// & < " as entities, tab and line ends as character references.
std::string attributeText(const char *name, const QString &value)
{
    std::string out = " ";
    out += name;
    out += "=\"";
    const QByteArray utf8 = value.toUtf8();
    for (char c : std::as_const(utf8)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '"': out += "&quot;"; break;
        case '\t': out += "&#x9;"; break;
        case '\n': out += "&#xa;"; break;
        case '\r': out += "&#xd;"; break;
        default: out += c; break;
        }
    }
    out += '"';
    return out;
}

// ` code="N"` at p; returns the end.
char *codeAttribute(char *p, quint32 code)
{
    std::memcpy(p, " code=\"", 7);
    p = std::to_chars(p + 7, p + 17, code).ptr;
    *p++ = '"';
    return p;
}

} // namespace

ReportWriter::ReportWriter(const QString &okpo, const TitleItems &titleItems)
{
    title += "  <item name=\"okpo\"" + attributeText("value", okpo) + "/>\n";
    for (auto it = titleItems.cbegin(); it != titleItems.cend(); ++it) {
        if (it.key() == QLatin1String("okpo"))
            continue;
        title += "  <item" + attributeText("name", it.key()) + attributeText("value", it.value())
            + "/>\n";
    }
}

QString ReportWriter::fileName(const ReportKey &key)
{
    return key.code + QLatin1Char('_') + key.year + QLatin1Char('_') + key.period
        + QLatin1String(".xml");
}

QString ReportWriter::form(const QString &code)
{
    return code.size() >= 9 ? code.mid(6, 3) : QStringLiteral("1");
}

namespace {

// A run of rows of one section, put into text on its own: a large report is
// cut into such pieces, which several threads can put into text at once.
struct Piece
{
    SectionMap::const_iterator section;
    RowMap::const_iterator from;
    RowMap::const_iterator to;
    bool opens;  // the section's start tag comes first
    bool closes; // and its end tag last
};

// Rows a piece holds at most: some 300 KB of text each, for the usual ten columns.
constexpr qsizetype PieceRows = 1024;
// A report of fewer rows is put into text on one thread: starting threads
// would cost more than they give.
constexpr qsizetype ParallelRows = 4 * PieceRows;

void putPiece(Output &out, const Piece &piece)
{
    if (piece.opens) {
        char *p = out.room(32);
        std::memcpy(p, "  <section", 10);
        p = codeAttribute(p + 10, piece.section.key());
        *p++ = '>';
        *p++ = '\n';
        out.advance(p);
    }
    for (auto row = piece.from; row != piece.to; ++row) {
        const RowKey &rowKey = row.key();
        char *p = out.room(32);
        std::memcpy(p, "   <row", 7);
        out.advance(codeAttribute(p + 7, rowKey.code));
        if (!rowKey.s1.isEmpty())
            out.put(attributeText("s1", rowKey.s1));
        if (!rowKey.s2.isEmpty())
            out.put(attributeText("s2", rowKey.s2));
        if (!rowKey.s3.isEmpty())
            out.put(attributeText("s3", rowKey.s3));
        out.put(">\n");
        for (const ColMap::Entry &col : row.value()) {
            // "    <col code=\"4294967295\">" + number + "</col>\n"
            p = out.room(32 + numbers::TotalTextMax);
            std::memcpy(p, "    <col", 8);
            p = codeAttribute(p + 8, col.code);
            *p++ = '>';
            p = numbers::formatTotal(col.total, p);
            std::memcpy(p, "</col>\n", 7);
            out.advance(p + 7);
        }
        out.put("   </row>\n");
    }
    if (piece.closes)
        out.put("  </section>\n");
}

std::vector<Piece> cutIntoPieces(const SectionMap &sections, qsizetype *rowCount)
{
    std::vector<Piece> pieces;
    *rowCount = 0;
    for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
        const RowMap &rows = section.value();
        *rowCount += rows.size();
        auto from = rows.cbegin();
        do {
            auto to = from;
            for (qsizetype n = 0; n < PieceRows && to != rows.cend(); ++n)
                ++to;
            pieces.push_back({section, from, to, from == rows.cbegin(), to == rows.cend()});
            from = to;
        } while (from != rows.cend());
    }
    return pieces;
}

// Puts the pieces into text on `threads` threads and hands the texts to out in
// order. Only a few pieces are ahead of the one being written, so memory does
// not grow with the report. False when out did not take them all.
bool putInParallel(Output &out, const std::vector<Piece> &pieces, int threads)
{
    const std::size_t window = std::size_t(2 * threads);
    std::vector<std::optional<std::string>> texts(window); // piece i's at i % window, once made
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0;    // the next piece to put into text
    std::size_t written = 0; // pieces handed to out
    bool stop = false;

    const auto work = [&] {
        for (;;) {
            std::size_t i;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || next >= pieces.size() || next < written + window; });
                if (stop || next >= pieces.size())
                    return;
                i = next++;
            }
            std::string text;
            Output piece([&text](const char *data, std::size_t n) {
                text.append(data, n);
                return true;
            });
            putPiece(piece, pieces[i]);
            piece.finish();
            {
                std::lock_guard lock(mutex);
                texts[i % window] = std::move(text);
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back(work);

    bool ok = true;
    while (ok && written < pieces.size()) {
        std::string text;
        {
            std::unique_lock lock(mutex);
            std::optional<std::string> &made = texts[written % window];
            changed.wait(lock, [&] { return made.has_value(); });
            text = std::move(*made);
            made.reset();
            ++written;
        }
        out.pass(text);
        ok = out.ok();
        changed.notify_all(); // room for one more piece ahead
    }
    {
        std::lock_guard lock(mutex);
        stop = true;
    }
    changed.notify_all();
    for (std::thread &t : workers)
        t.join();
    return ok;
}

} // namespace

bool ReportWriter::write(QIODevice *device, const ReportKey &key, const SectionMap &sections,
                         int threads) const
{
    Output out(deviceSink(device));
    out.put("<report");
    out.put(attributeText("code", key.code));
    out.put(attributeText("year", key.year));
    out.put(attributeText("period", key.period));
    out.put(attributeText("form", form(key.code)));
    out.put(">\n <title>\n");
    out.put(title);
    out.put(" </title>\n <sections>\n");

    qsizetype rows = 0;
    const std::vector<Piece> pieces = cutIntoPieces(sections, &rows);
    if (threads > 1 && rows >= ParallelRows) {
        if (!putInParallel(out, pieces, threads))
            return false;
    } else {
        for (const Piece &piece : pieces)
            putPiece(out, piece);
    }
    out.put(" </sections>\n</report>\n");
    return out.finish();
}
