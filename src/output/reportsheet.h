#ifndef REPORTSHEET_H
#define REPORTSHEET_H

#include "numbers.h"
#include "reportstore.h"

#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <vector>

// The cells of one summed report's sheet in the workbook, in the order they
// are written: the title (the file's name, the okpo code, the other title
// items), an empty row, then each section: a row with its code, a row of
// column headings, one row per row key, and an empty row. One walk serves both
// the measuring of a sheet before anything is written and the writing itself,
// so that the two always see the same cells.
namespace reportsheet {

// A total as the summed file writes it, and the double that text stands for.
struct Total
{
    char text[numbers::TotalTextMax];
    int size = 0;
    double value = 0;

    explicit Total(double total)
    {
        char *end = numbers::formatTotal(total, text);
        size = int(end - text);
        if (std::isfinite(total))
            std::from_chars(text, end, value);
        else
            value = total;
    }
};

enum class Style {
    Plain,
    Bold,
    // The headings of a section's fixed columns ("Строка", "s1" to "s3"):
    // bold, and left out of their columns' widths, which the title and the
    // rows set.
    Heading,
};

// The first column of a section's col codes; the row code and s1 to s3 come
// before it.
constexpr int FirstTotalColumn = 4;

// Hands each cell of the sheet of sections, a summed report named fileName,
// to visitor, which has:
//   text(qint64 row, int col, const QString &text, Style style)
//   total(qint64 row, int col, const Total &total)
//   columns(std::size_t index, const RowMap &rows) -> const std::vector<quint32> *:
//       the col codes of the index-th section, whose rows are rows, ascending,
//       to stay valid until the next call; nullptr stops the walk.
// Returns false when the visitor stopped it.
template <class Visitor>
bool walk(const QString &fileName, const QString &okpo, const TitleItems &title, const SectionMap &sections,
          Visitor &visitor)
{
    visitor.text(0, 0, QStringLiteral("Сводный отчет"), Style::Bold);
    visitor.text(0, 1, fileName, Style::Bold);
    qint64 row = 1;
    visitor.text(row, 0, QStringLiteral("okpo"), Style::Plain);
    visitor.text(row, 1, okpo, Style::Plain);
    for (auto it = title.cbegin(); it != title.cend(); ++it) {
        if (it.key() == QLatin1String("okpo"))
            continue;
        ++row;
        visitor.text(row, 0, it.key(), Style::Plain);
        visitor.text(row, 1, it.value(), Style::Plain);
    }
    row += 2;
    std::size_t index = 0;
    for (auto section = sections.cbegin(); section != sections.cend(); ++section, ++index) {
        const std::vector<quint32> *codes = visitor.columns(index, section.value());
        if (!codes)
            return false;
        visitor.text(row, 0, QStringLiteral("Раздел"), Style::Bold);
        visitor.text(row, 1, QString::number(section.key()), Style::Bold);
        ++row;
        visitor.text(row, 0, QStringLiteral("Строка"), Style::Heading);
        visitor.text(row, 1, QStringLiteral("s1"), Style::Heading);
        visitor.text(row, 2, QStringLiteral("s2"), Style::Heading);
        visitor.text(row, 3, QStringLiteral("s3"), Style::Heading);
        for (std::size_t c = 0; c < codes->size(); ++c)
            visitor.text(row, int(FirstTotalColumn + c), QString::number((*codes)[c]), Style::Bold);
        ++row;
        for (auto r = section.value().cbegin(); r != section.value().cend(); ++r, ++row) {
            const RowKey &k = r.key();
            visitor.text(row, 0, QString::number(k.code), Style::Plain);
            visitor.text(row, 1, k.s1, Style::Plain);
            visitor.text(row, 2, k.s2, Style::Plain);
            visitor.text(row, 3, k.s3, Style::Plain);
            auto at = codes->cbegin();
            for (const ColMap::Entry &e : r.value()) {
                at = std::lower_bound(at, codes->cend(), e.code);
                visitor.total(row, int(FirstTotalColumn + (at - codes->cbegin())), Total(e.total));
            }
        }
        ++row; // an empty row before the next section
    }
    return true;
}

} // namespace reportsheet

#endif // REPORTSHEET_H
