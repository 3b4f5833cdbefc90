#include "reportwriter.h"

#include "numbers.h"

#include <QIODevice>

#include <charconv>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Collects the text in a fixed block and hands it to the device block by block,
// so memory does not grow with the report.
class Output
{
public:
    explicit Output(QIODevice *device)
        : m_device(device)
        , m_block(new char[BlockSize]) // filled before it is read
    {
    }

    // Room for n more bytes at the returned place; advance() says how many were used.
    char *room(std::size_t n)
    {
        if (m_used + n > m_size) {
            flush();
            if (n > m_size) {
                m_block.reset(new char[n]);
                m_size = n;
            }
        }
        return m_block.get() + m_used;
    }
    void advance(char *end) { m_used = std::size_t(end - m_block.get()); }

    void put(const char *text, std::size_t n)
    {
        std::memcpy(room(n), text, n);
        m_used += n;
    }
    template <std::size_t N>
    void put(const char (&literal)[N])
    {
        put(literal, N - 1);
    }
    void put(const std::string &text) { put(text.data(), text.size()); }

    bool finish()
    {
        flush();
        return m_ok;
    }

private:
    static constexpr std::size_t BlockSize = 1 << 18;

    void flush()
    {
        if (m_used > 0 && m_ok)
            m_ok = m_device->write(m_block.get(), qint64(m_used)) == qint64(m_used);
        m_used = 0;
    }

    QIODevice *m_device;
    std::unique_ptr<char[]> m_block;
    std::size_t m_size = BlockSize;
    std::size_t m_used = 0;
    bool m_ok = true;
};

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
    m_title += "  <item name=\"okpo\"" + attributeText("value", okpo) + "/>\n";
    for (auto it = titleItems.cbegin(); it != titleItems.cend(); ++it) {
        if (it.key() == QLatin1String("okpo"))
            continue;
        m_title += "  <item" + attributeText("name", it.key()) + attributeText("value", it.value())
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

bool ReportWriter::write(QIODevice *device, const ReportKey &key,
                         const SectionMap &sections) const
{
    Output out(device);
    out.put("<report");
    out.put(attributeText("code", key.code));
    out.put(attributeText("year", key.year));
    out.put(attributeText("period", key.period));
    out.put(attributeText("form", form(key.code)));
    out.put(">\n <title>\n");
    out.put(m_title);
    out.put(" </title>\n <sections>\n");

    for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
        char *p = out.room(32);
        std::memcpy(p, "  <section", 10);
        p = codeAttribute(p + 10, section.key());
        *p++ = '>';
        *p++ = '\n';
        out.advance(p);
        const RowMap &rows = section.value();
        for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
            const RowKey &rowKey = row.key();
            p = out.room(32);
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
        out.put("  </section>\n");
    }
    out.put(" </sections>\n</report>\n");
    return out.finish();
}
