#include "workbook.h"

#include "cnumbers.h"
#include "messages.h"
#include "outputfile.h"
#include "recordtable.h"
#include "reportsheet.h"
#include "reportwriter.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <xlsxwriter.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

const QString RegisterSheet = QStringLiteral("Реестр");
const QString PassedOverSheet = QStringLiteral("Пропущенные значения");
const QString WarningsSheet = QStringLiteral("Предупреждения");

constexpr int SheetNameMax = LXW_SHEETNAME_MAX; // code points
constexpr int CellTextMax = 32767;              // code points, as a cell holds at most
constexpr double WidthMax = 60;                 // characters, for a column of a table
constexpr double LineWidthMax = 100;            // for a sheet of lines, longer ones wrapped

// The first max code points of text.
QString cut(const QString &text, int max)
{
    if (text.size() <= max)
        return text;
    qsizetype end = 0;
    for (int n = 0; n < max && end < text.size(); ++n)
        end += text.at(end).isHighSurrogate() && end + 1 < text.size() ? 2 : 1;
    return text.left(end);
}

int codePoints(const QString &text)
{
    int n = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        n += text.at(i).isLowSurrogate() ? 0 : 1;
    return n;
}

QString sanitisedSheetName(const QString &fileName)
{
    QString name = fileName.endsWith(QLatin1String(".xml")) ? fileName.chopped(4) : fileName;
    for (QChar &c : name) {
        if (QStringView(u"[]:*?/\\").contains(c))
            c = QLatin1Char('_');
    }
    name = cut(name, SheetNameMax);
    // After the cut, as the cut may leave an apostrophe at the end.
    if (name.startsWith(QLatin1Char('\'')))
        name[0] = QLatin1Char('_');
    if (name.endsWith(QLatin1Char('\'')))
        name[name.size() - 1] = QLatin1Char('_');
    return name;
}

// Column widths in characters, from the longest text of each column.
class Widths
{
public:
    void note(int col, int characters)
    {
        if (std::size_t(col) >= chars.size())
            chars.resize(std::size_t(col) + 1, 0);
        chars[std::size_t(col)] = std::max(chars[std::size_t(col)], characters);
    }
    void note(int col, const QString &text) { note(col, codePoints(text)); }

    void apply(lxw_worksheet *sheet, double max = WidthMax) const
    {
        for (std::size_t col = 0; col < chars.size(); ++col) {
            const double width = std::clamp(chars[col] * 1.2 + 2, LXW_DEF_COL_WIDTH, max);
            worksheet_set_column(sheet, lxw_col_t(col), lxw_col_t(col), width, nullptr);
        }
    }

private:
    std::vector<int> chars;
};

// The layout of one summed report's sheet, found before anything is written.
struct ReportLayout
{
    QString fileName;
    QString sheetName;
    // Each section's col codes, ascending, in section order.
    std::vector<std::vector<quint32>> cols;
    qint64 rows = 0;
    Widths widths;
};

// The col codes of a section, ascending; it stops at max + 1 of them, which
// are already too many.
std::vector<quint32> colCodes(const RowMap &rows, std::size_t max)
{
    std::vector<quint32> codes;
    for (const ColMap &cols : rows) {
        for (const ColMap::Entry &e : cols) {
            if (codes.empty() || codes.back() < e.code) {
                codes.push_back(e.code);
            } else {
                const auto at = std::lower_bound(codes.begin(), codes.end(), e.code);
                if (*at != e.code)
                    codes.insert(at, e.code);
            }
            if (codes.size() > max)
                return codes;
        }
    }
    return codes;
}

// Measures a summed report's sheet into its layout: the rows it takes, each
// section's col codes and the columns' widths. Stops at a section with more
// columns than a sheet has.
class Measure
{
public:
    explicit Measure(ReportLayout &layout)
        : layout(layout)
    {
    }
    void text(qint64 row, int col, const QString &text, reportsheet::Style style)
    {
        layout.rows = std::max(layout.rows, row + 1);
        if (style != reportsheet::Style::Heading)
            layout.widths.note(col, text);
    }
    void total(qint64, int col, const reportsheet::Total &total) { layout.widths.note(col, total.size); }
    const std::vector<quint32> *columns(std::size_t, const RowMap &rows)
    {
        constexpr std::size_t max = LXW_COL_MAX - reportsheet::FirstTotalColumn;
        std::vector<quint32> codes = colCodes(rows, max);
        if (codes.size() > max)
            return nullptr;
        layout.cols.push_back(std::move(codes));
        return &layout.cols.back();
    }

private:
    ReportLayout &layout;
};

// An empty text leaves the cell empty, filled when format says so.
void writeText(lxw_worksheet *sheet, qint64 row, int col, const QString &text, lxw_format *format = nullptr)
{
    if (text.isEmpty()) {
        if (format)
            worksheet_write_blank(sheet, lxw_row_t(row), lxw_col_t(col), format);
        return;
    }
    worksheet_write_string(sheet, lxw_row_t(row), lxw_col_t(col), cut(text, CellTextMax).toUtf8().constData(),
                           format);
}

// Writes the cells of a summed report's sheet, with the col codes measured
// before.
class CellWriter
{
public:
    CellWriter(lxw_worksheet *sheet, lxw_format *bold, const ReportLayout &layout)
        : sheet(sheet)
        , bold(bold)
        , layout(layout)
    {
    }
    void text(qint64 row, int col, const QString &text, reportsheet::Style style)
    {
        writeText(sheet, row, col, text, style == reportsheet::Style::Plain ? nullptr : bold);
    }
    void total(qint64 row, int col, const reportsheet::Total &total)
    {
        // A sum beyond the range of a double is no number a sheet can hold:
        // it keeps the file's text ("inf").
        if (std::isfinite(total.value))
            worksheet_write_number(sheet, lxw_row_t(row), lxw_col_t(col), total.value, nullptr);
        else
            writeText(sheet, row, col, QString::fromLatin1(total.text, total.size));
    }
    const std::vector<quint32> *columns(std::size_t index, const RowMap &) { return &layout.cols[index]; }

private:
    lxw_worksheet *sheet;
    lxw_format *bold;
    const ReportLayout &layout;
};

class Writer
{
public:
    Writer(lxw_workbook *book, const TitleItems &title, const QString &okpo)
        : book(book)
        , title(title)
        , okpo(okpo)
    {
        bold = workbook_add_format(book);
        format_set_bold(bold);
        fill = workbook_add_format(book);
        format_set_pattern(fill, LXW_PATTERN_SOLID);
        format_set_bg_color(fill, 0xFFEB9C);
        wrappedFill = workbook_add_format(book);
        format_set_pattern(wrappedFill, LXW_PATTERN_SOLID);
        format_set_bg_color(wrappedFill, 0xFFEB9C);
        format_set_text_wrap(wrappedFill);
    }

    // A record table with a bold header row; a non-empty note goes in a row
    // of its own under the table.
    void table(const QString &name, const RecordTable &t, const QList<FileRecord> &records,
               const QString &note = QString());
    void warnings(const QStringList &lines);
    void report(const ReportLayout &layout, const SectionMap &sections);

private:
    // Printed across, one page wide.
    lxw_worksheet *sheet(const QString &name)
    {
        lxw_worksheet *ws = workbook_add_worksheet(book, name.toUtf8().constData());
        worksheet_set_landscape(ws);
        worksheet_fit_to_pages(ws, 1, 0);
        return ws;
    }

    lxw_workbook *book;
    const TitleItems &title;
    QString okpo;
    lxw_format *bold = nullptr;
    lxw_format *fill = nullptr;
    lxw_format *wrappedFill = nullptr;
};

void Writer::table(const QString &name, const RecordTable &t, const QList<FileRecord> &records,
                   const QString &note)
{
    lxw_worksheet *ws = sheet(name);
    Widths widths;
    const int cols = int(t.header.size());
    for (int c = 0; c < cols; ++c) {
        widths.note(c, t.header.at(c));
        writeText(ws, 0, c, t.header.at(c), bold);
    }
    qint64 row = 0;
    t.rows(records, [&](const QStringList &fields, bool warned) {
        ++row;
        lxw_format *format = warned ? fill : nullptr;
        for (int c = 0; c < cols; ++c) {
            const QString &value = fields.at(c);
            widths.note(c, value);
            if (t.numeric.at(c))
                worksheet_write_number(ws, lxw_row_t(row), lxw_col_t(c), value.toDouble(), format);
            else
                writeText(ws, row, c, value, format);
        }
    });
    if (!note.isEmpty())
        writeText(ws, row + 1, 0, note);
    widths.apply(ws);
    worksheet_freeze_panes(ws, 1, 0);
    worksheet_autofilter(ws, 0, 0, lxw_row_t(row), lxw_col_t(cols - 1));
}

void Writer::warnings(const QStringList &lines)
{
    lxw_worksheet *ws = sheet(WarningsSheet);
    Widths widths;
    if (lines.isEmpty()) {
        writeText(ws, 0, 0, QStringLiteral("Предупреждений нет"));
        widths.note(0, QStringLiteral("Предупреждений нет"));
    }
    for (qsizetype r = 0; r < lines.size(); ++r) {
        // A long line wraps, in a row as high as its lines (set by hand: the
        // library leaves rows one line high, and not every reader makes them
        // higher), counting a little over a character for each one.
        const int characters = codePoints(lines.at(r));
        const int lineCount = int(std::ceil(characters * 1.2 / LineWidthMax));
        if (lineCount > 1)
            worksheet_set_row(ws, lxw_row_t(r), LXW_DEF_ROW_HEIGHT * lineCount, nullptr);
        writeText(ws, r, 0, lines.at(r), wrappedFill);
        widths.note(0, characters);
    }
    widths.apply(ws, LineWidthMax);
}

void Writer::report(const ReportLayout &layout, const SectionMap &sections)
{
    lxw_worksheet *ws = sheet(layout.sheetName);
    CellWriter cells(ws, bold, layout);
    reportsheet::walk(layout.fileName, okpo, title, sections, cells);
    layout.widths.apply(ws);
    worksheet_freeze_panes(ws, 1, 0);
}

// Why part of a run does not fit on a sheet, to follow the name of the file
// not written. One arg() call, so that a "%3" in a summed report's name stays.
QString tooLarge(const QString &what, const QString &lines, int max)
{
    return QStringLiteral(": %1 не помещается на лист: %2 больше %3").arg(what, lines, QString::number(max));
}

// Lays out every sheet before anything is written, so that a part too large
// for a sheet fails the workbook before it is begun, and the column widths of
// the summed reports are known before their rows go out one by one. Returns
// why a part does not fit, or an empty text.
QString layOut(const RunRecord &run, const QString &okpo, std::vector<ReportLayout> &layouts)
{
    qint64 passedOver = 0;
    for (const FileRecord &r : run.files)
        passedOver += r.passedOver.size();
    const QString rows = QStringLiteral("строк");
    if (run.files.size() + 1 > LXW_ROW_MAX)
        return tooLarge(QStringLiteral("перечень файлов"), rows, LXW_ROW_MAX);
    if (passedOver + 1 > LXW_ROW_MAX)
        return tooLarge(QStringLiteral("перечень пропущенных значений"), rows, LXW_ROW_MAX);

    QStringList fileNames;
    for (auto it = run.reports.cbegin(); it != run.reports.cend(); ++it)
        fileNames.append(ReportWriter::fileName(it.key()));
    const QStringList sheets = Workbook::sheetNames(fileNames);
    layouts.reserve(std::size_t(run.reports.size()));
    for (auto it = run.reports.cbegin(); it != run.reports.cend(); ++it) {
        ReportLayout layout;
        layout.fileName = fileNames.at(qsizetype(layouts.size()));
        layout.sheetName = sheets.at(qsizetype(layouts.size()));
        Measure measure(layout);
        const QString what = QStringLiteral("сводный отчет ") + layout.fileName;
        if (!reportsheet::walk(layout.fileName, okpo, run.titleItems, it.value(), measure))
            return tooLarge(what, QStringLiteral("столбцов"), LXW_COL_MAX);
        if (layout.rows > LXW_ROW_MAX)
            return tooLarge(what, rows, LXW_ROW_MAX);
        layouts.push_back(std::move(layout));
    }
    return QString();
}

// Writes the workbook of run into file, laid out as layouts says; the library
// keeps its parts' temporary files in tmpdir.
bool writeBook(const QString &file, const QString &tmpdir, const RunRecord &run, const QString &okpo,
               const std::vector<ReportLayout> &layouts)
{
#ifdef Q_OS_WIN
    const QByteArray fileName = file.toUtf8();
    const QByteArray tmpdirName = tmpdir.toLocal8Bit();
#else
    const QByteArray fileName = QFile::encodeName(file);
    const QByteArray tmpdirName = QFile::encodeName(tmpdir);
#endif
    const CNumbers cNumbers;
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE; // rows go to disk as they are written
    options.tmpdir = const_cast<char *>(tmpdirName.constData());
    lxw_workbook *book = workbook_new_opt(fileName.constData(), &options);
    if (!book)
        return false;
    // A fixed creation time, so that one run gives the same bytes each time.
    lxw_doc_properties properties = {};
    properties.created = 315532800; // 1980-01-01, as the entries of the zip file
    workbook_set_properties(book, &properties);

    Writer writer(book, run.titleItems, okpo);
    writer.table(RegisterSheet, RecordTable::fileRegister(), run.files);
    // A list cut at the run's cap ends with the note svodar-cli prints.
    writer.table(PassedOverSheet, RecordTable::passedOver(), run.files, run.passedOverNote);
    writer.warnings(run.warnings);
    std::size_t index = 0;
    for (auto it = run.reports.cbegin(); it != run.reports.cend(); ++it, ++index)
        writer.report(layouts[index], it.value());
    // The file is created only now: a failure to create it shows here.
    return workbook_close(book) == LXW_NO_ERROR;
}

} // namespace

Workbook::Workbook(const RunRecord &run, const QString &okpo)
    : run(run)
    , okpo(okpo)
{
}

QStringList Workbook::sheetNames(const QStringList &fileNames)
{
    QSet<QString> taken{RegisterSheet.toCaseFolded(), PassedOverSheet.toCaseFolded(),
                        WarningsSheet.toCaseFolded()};
    QStringList names;
    names.reserve(fileNames.size());
    for (const QString &fileName : fileNames) {
        const QString base = sanitisedSheetName(fileName);
        QString name = base;
        for (int n = 2; taken.contains(name.toCaseFolded()); ++n) {
            const QString suffix = QStringLiteral(" (%1)").arg(n);
            name = cut(base, SheetNameMax - int(suffix.size())) + suffix;
        }
        taken.insert(name.toCaseFolded());
        names.append(name);
    }
    return names;
}

bool Workbook::write(const QString &path)
{
    const QString failed = messages::notWritten(path);
    errorText = failed;
    std::vector<ReportLayout> layouts;
    if (const QString reason = layOut(run, okpo, layouts); !reason.isEmpty()) {
        errorText = failed + reason;
        return false;
    }
    // The library writes the workbook and its parts' temporary files into a
    // folder of our own; the workbook's bytes then go to the target.
    QTemporaryDir folder;
    if (!folder.isValid())
        return false;
    const QString file = folder.filePath(QStringLiteral("workbook.xlsx"));
    if (!writeBook(file, folder.path(), run, okpo, layouts))
        return false;
    QFile workbook(file);
    if (!workbook.open(QIODevice::ReadOnly) || !outputfile::save(path, &workbook))
        return false;
    errorText.clear();
    return true;
}
