#include "reportwriter.h"

#include "numbers.h"

#include <QIODevice>

#include <charconv>
#include <string>

namespace {

constexpr qsizetype FlushAt = 1 << 18;

// Appends ` name="value"` with the value escaped so that a reader gets it back
// unchanged: & < " as entities, tab and line ends as character references.
void appendAttribute(std::string &out, const char *name, const QString &value)
{
    out += ' ';
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
}

void appendCode(std::string &out, quint32 code)
{
    char buffer[16];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, code).ptr;
    out.append(buffer, std::size_t(end - buffer));
}

void appendCodeAttribute(std::string &out, quint32 code)
{
    out += " code=\"";
    appendCode(out, code);
    out += '"';
}

bool flush(QIODevice *device, std::string &out)
{
    const bool ok = device->write(out.data(), qint64(out.size())) == qint64(out.size());
    out.clear();
    return ok;
}

} // namespace

ReportWriter::ReportWriter(const QString &okpo, const TitleItems &titleItems)
{
    m_title += "  <item name=\"okpo\"";
    appendAttribute(m_title, "value", okpo);
    m_title += "/>\n";
    for (auto it = titleItems.cbegin(); it != titleItems.cend(); ++it) {
        if (it.key() == QLatin1String("okpo"))
            continue;
        m_title += "  <item";
        appendAttribute(m_title, "name", it.key());
        appendAttribute(m_title, "value", it.value());
        m_title += "/>\n";
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
    std::string out;
    out.reserve(FlushAt + 4096);
    out += "<report";
    appendAttribute(out, "code", key.code);
    appendAttribute(out, "year", key.year);
    appendAttribute(out, "period", key.period);
    appendAttribute(out, "form", form(key.code));
    out += ">\n <title>\n";
    out += m_title;
    out += " </title>\n <sections>\n";

    char number[numbers::TotalTextMax];
    for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
        out += "  <section";
        appendCodeAttribute(out, section.key());
        out += ">\n";
        const RowMap &rows = section.value();
        for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
            const RowKey &rowKey = row.key();
            out += "   <row";
            appendCodeAttribute(out, rowKey.code);
            if (!rowKey.s1.isEmpty())
                appendAttribute(out, "s1", rowKey.s1);
            if (!rowKey.s2.isEmpty())
                appendAttribute(out, "s2", rowKey.s2);
            if (!rowKey.s3.isEmpty())
                appendAttribute(out, "s3", rowKey.s3);
            out += ">\n";
            for (const ColMap::Entry &col : row.value()) {
                out += "    <col";
                appendCodeAttribute(out, col.code);
                out += '>';
                out.append(number, std::size_t(numbers::formatTotal(col.total, number) - number));
                out += "</col>\n";
            }
            out += "   </row>\n";
            if (out.size() >= std::size_t(FlushAt) && !flush(device, out))
                return false;
        }
        out += "  </section>\n";
    }
    out += " </sections>\n</report>\n";
    return flush(device, out);
}
