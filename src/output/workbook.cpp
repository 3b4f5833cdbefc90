#include "workbook.h"

#include "messages.h"
#include "numbers.h"
#include "outputfile.h"
#include "recordtable.h"
#include "reportwriter.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <xlsxwriter.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <vector>

#include <locale.h>

namespace {

const QString RegisterSheet = QStringLiteral("Реестр");
const QString PassedOverSheet = QStringLiteral("Пропущенные значения");
const QString WarningsSheet = QStringLiteral("Предупреждения");

constexpr int SheetNameMax = LXW_SHEETNAME_MAX; // code points
constexpr int CellTextMax = 32767;              // code points, as a cell holds at most
constexpr double WidthMax = 60;                 // characters, for a column of a table
constexpr double LineWidthMax = 100;            // for a sheet of lines, longer ones wrapped

// The library prints numbers with the C library's snprintf, which writes the
// locale's decimal separator: under ru_RU a comma, which no reader takes. So
// the numbers of this thread are printed the C way while a workbook is made.
class CNumbers
{
public:
    CNumbers()
    {
#ifdef Q_OS_WIN
        previousMode = _configthreadlocale(_ENABLE_PER_THREAD_LOCALE);
        if (const char *name = std::setlocale(LC_NUMERIC, nullptr))
            previousName = name;
        std::setlocale(LC_NUMERIC, "C");
#else
        cLocale = newlocale(LC_NUMERIC_MASK, "C", duplocale(LC_GLOBAL_LOCALE));
        if (cLocale != locale_t(0))
            previous = uselocale(cLocale);
#endif
    }
    ~CNumbers()
    {
#ifdef Q_OS_WIN
        std::setlocale(LC_NUMERIC, previousName.constData());
        _configthreadlocale(previousMode);
#else
        if (cLocale != locale_t(0)) {
            uselocale(previous);
            freelocale(cLocale);
        }
#endif
    }
    CNumbers(const CNumbers &) = delete;
    CNumbers &operator=(const CNumbers &) = delete;

private:
#ifdef Q_OS_WIN
    int previousMode = 0;
    QByteArray previousName = "C";
#else
    locale_t cLocale = locale_t(0);
    locale_t previous = locale_t(0);
#endif
};

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

// The col codes of a section, ascending; no more than max of them.
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
    // An empty text leaves the cell empty, filled when format says so.
    static void text(lxw_worksheet *sheet, qint64 row, int col, const QString &text,
                     lxw_format *format = nullptr)
    {
        if (text.isEmpty()) {
            if (format)
                worksheet_write_blank(sheet, lxw_row_t(row), lxw_col_t(col), format);
            return;
        }
        worksheet_write_string(sheet, lxw_row_t(row), lxw_col_t(col),
                               cut(text, CellTextMax).toUtf8().constData(), format);
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
        text(ws, 0, c, t.header.at(c), bold);
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
                text(ws, row, c, value, format);
        }
    });
    if (!note.isEmpty())
        text(ws, row + 1, 0, note);
    widths.apply(ws);
    worksheet_freeze_panes(ws, 1, 0);
    worksheet_autofilter(ws, 0, 0, lxw_row_t(row), lxw_col_t(cols - 1));
}

void Writer::warnings(const QStringList &lines)
{
    lxw_worksheet *ws = sheet(WarningsSheet);
    Widths widths;
    if (lines.isEmpty()) {
        text(ws, 0, 0, QStringLiteral("Предупреждений нет"));
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
        text(ws, r, 0, lines.at(r), wrappedFill);
        widths.note(0, characters);
    }
    widths.apply(ws, LineWidthMax);
}

void Writer::report(const ReportLayout &layout, const SectionMap &sections)
{
    lxw_worksheet *ws = sheet(layout.sheetName);
    text(ws, 0, 0, QStringLiteral("Сводный отчет"), bold);
    text(ws, 0, 1, layout.fileName, bold);
    qint64 row = 1;
    text(ws, row, 0, QStringLiteral("okpo"));
    text(ws, row, 1, okpo);
    for (auto it = title.cbegin(); it != title.cend(); ++it) {
        if (it.key() == QLatin1String("okpo"))
            continue;
        ++row;
        text(ws, row, 0, it.key());
        text(ws, row, 1, it.value());
    }
    row += 2;
    std::size_t index = 0;
    for (auto section = sections.cbegin(); section != sections.cend(); ++section, ++index) {
        const std::vector<quint32> &codes = layout.cols[index];
        text(ws, row, 0, QStringLiteral("Раздел"), bold);
        text(ws, row, 1, QString::number(section.key()), bold);
        ++row;
        text(ws, row, 0, QStringLiteral("Строка"), bold);
        text(ws, row, 1, QStringLiteral("s1"), bold);
        text(ws, row, 2, QStringLiteral("s2"), bold);
        text(ws, row, 3, QStringLiteral("s3"), bold);
        for (std::size_t c = 0; c < codes.size(); ++c)
            text(ws, row, int(4 + c), QString::number(codes[c]), bold);
        ++row;
        for (auto r = section.value().cbegin(); r != section.value().cend(); ++r, ++row) {
            const RowKey &k = r.key();
            text(ws, row, 0, QString::number(k.code));
            text(ws, row, 1, k.s1);
            text(ws, row, 2, k.s2);
            text(ws, row, 3, k.s3);
            auto at = codes.cbegin();
            for (const ColMap::Entry &e : r.value()) {
                at = std::lower_bound(at, codes.cend(), e.code);
                const Total total(e.total);
                const auto col = lxw_col_t(4 + (at - codes.cbegin()));
                // A sum beyond the range of a double is no number a sheet can
                // hold: it keeps the file's text ("inf").
                if (std::isfinite(total.value))
                    worksheet_write_number(ws, lxw_row_t(row), col, total.value, nullptr);
                else
                    text(ws, row, col, QString::fromLatin1(total.text, total.size));
            }
        }
        ++row; // an empty row before the next section
    }
    layout.widths.apply(ws);
    worksheet_freeze_panes(ws, 1, 0);
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
    const ReportMap &reports = run.reports;
    const QList<FileRecord> &records = run.files;
    qint64 passedOver = 0;
    for (const FileRecord &r : records)
        passedOver += r.passedOver.size();
    const auto tooLarge = [&](const QString &what, const QString &lines, int max) {
        errorText = failed
            + QStringLiteral(": %1 не помещается на лист: %2 больше %3").arg(what, lines).arg(max);
        return false;
    };
    const QString rows = QStringLiteral("строк");
    if (records.size() + 1 > LXW_ROW_MAX)
        return tooLarge(QStringLiteral("перечень файлов"), rows, LXW_ROW_MAX);
    if (passedOver + 1 > LXW_ROW_MAX)
        return tooLarge(QStringLiteral("перечень пропущенных значений"), rows, LXW_ROW_MAX);

    // Every summed report's layout first, so that one too large for a sheet
    // fails the workbook before anything is written, and the column widths
    // are known before the rows go out one by one.
    std::vector<ReportLayout> layouts;
    layouts.reserve(std::size_t(reports.size()));
    QStringList fileNames;
    for (auto it = reports.cbegin(); it != reports.cend(); ++it)
        fileNames.append(ReportWriter::fileName(it.key()));
    const QStringList sheets = sheetNames(fileNames);
    const TitleItems &title = run.titleItems;
    for (auto it = reports.cbegin(); it != reports.cend(); ++it) {
        ReportLayout l;
        l.fileName = fileNames.at(qsizetype(layouts.size()));
        l.sheetName = sheets.at(qsizetype(layouts.size()));
        Widths &w = l.widths;
        w.note(0, QStringLiteral("Сводный отчет"));
        w.note(1, l.fileName);
        w.note(0, QStringLiteral("okpo"));
        w.note(1, okpo);
        qint64 titleRows = 1;
        for (auto item = title.cbegin(); item != title.cend(); ++item) {
            if (item.key() == QLatin1String("okpo"))
                continue;
            ++titleRows;
            w.note(0, item.key());
            w.note(1, item.value());
        }
        l.rows = 1 + titleRows;
        for (auto section = it.value().cbegin(); section != it.value().cend(); ++section) {
            std::vector<quint32> codes = colCodes(section.value(), LXW_COL_MAX - 4);
            if (codes.size() > LXW_COL_MAX - 4) {
                return tooLarge(QStringLiteral("сводный отчет ") + l.fileName, QStringLiteral("столбцов"),
                                LXW_COL_MAX);
            }
            w.note(0, QStringLiteral("Раздел"));
            w.note(1, QString::number(section.key()));
            for (std::size_t c = 0; c < codes.size(); ++c)
                w.note(int(4 + c), QString::number(codes[c]));
            for (auto r = section.value().cbegin(); r != section.value().cend(); ++r) {
                w.note(0, QString::number(r.key().code));
                w.note(1, r.key().s1);
                w.note(2, r.key().s2);
                w.note(3, r.key().s3);
                auto at = codes.cbegin();
                for (const ColMap::Entry &e : r.value()) {
                    at = std::lower_bound(at, codes.cend(), e.code);
                    w.note(int(4 + (at - codes.cbegin())), Total(e.total).size);
                }
            }
            // an empty row, the section's row, its header and its rows
            l.rows += 3 + section.value().size();
            l.cols.push_back(std::move(codes));
        }
        if (l.rows > LXW_ROW_MAX)
            return tooLarge(QStringLiteral("сводный отчет ") + l.fileName, rows, LXW_ROW_MAX);
        layouts.push_back(std::move(l));
    }

    // The library writes the workbook and its parts' temporary files into a
    // folder of our own; the workbook's bytes then go to the target.
    QTemporaryDir folder;
    if (!folder.isValid())
        return false;
    const QString file = folder.filePath(QStringLiteral("workbook.xlsx"));
#ifdef Q_OS_WIN
    const QByteArray fileName = file.toUtf8();
    const QByteArray tmpdir = folder.path().toLocal8Bit();
#else
    const QByteArray fileName = QFile::encodeName(file);
    const QByteArray tmpdir = QFile::encodeName(folder.path());
#endif
    {
        const CNumbers cNumbers;
        lxw_workbook_options options = {};
        options.constant_memory = LXW_TRUE; // rows go to disk as they are written
        options.tmpdir = const_cast<char *>(tmpdir.constData());
        lxw_workbook *book = workbook_new_opt(fileName.constData(), &options);
        if (!book)
            return false;
        // A fixed creation time, so that one run gives the same bytes each time.
        lxw_doc_properties properties = {};
        properties.created = 315532800; // 1980-01-01, as the entries of the zip file
        workbook_set_properties(book, &properties);

        Writer writer(book, run.titleItems, okpo);
        writer.table(RegisterSheet, RecordTable::fileRegister(), records);
        // A list cut at the run's cap ends with the note svodar-cli prints.
        writer.table(PassedOverSheet, RecordTable::passedOver(), records, run.passedOverNote);
        writer.warnings(run.warnings);
        std::size_t index = 0;
        for (auto it = reports.cbegin(); it != reports.cend(); ++it, ++index)
            writer.report(layouts[index], it.value());
        // The file is created only now: a failure to create it shows here.
        if (workbook_close(book) != LXW_NO_ERROR)
            return false;
    }
    QFile workbook(file);
    if (!workbook.open(QIODevice::ReadOnly) || !outputfile::save(path, &workbook))
        return false;
    errorText.clear();
    return true;
}
