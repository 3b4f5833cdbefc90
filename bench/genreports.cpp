// svodar-genreports: writes a synthetic corpus of XML statistical reports for
// benchmarking the summing program.
//
// The output is deterministic for a given set of options (seed included):
// the layout of a group (which rows exist, their s1/s2 texts) comes from a
// generator seeded by the seed and the group number, the values of a file from
// one seeded by the seed and the file number.  All branches of a group thus
// fill in the same form, as in real life, and their cells add up.
//
// Every file is built in memory and written with one call; in single-file mode
// the buffer is flushed every few megabytes so that a file of hundreds of
// megabytes does not have to be held whole.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QStringEncoder>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Options
{
    QString outDir;
    int files = 10;
    int sections = 5;
    int rows = 100;
    int cols = 10;
    double subRows = 0.1;   // fraction of rows with s1/s2
    double emptyCols = 0.01;
    double textCols = 0.005;
    double drafts = 0.0;    // fraction of files rooted in <draft>
    int groups = 1;
    bool win1251 = false;
    bool declaration = true;
    int indent = 2;
    bool single = false;
    std::uint64_t seed = 1;
    bool quiet = false;
};

const char *const usageText =
    "Usage: svodar-genreports --out DIR [options]\n"
    "\n"
    "Writes synthetic XML reports named <okpo>_<code>_<year>_<period>.xml.\n"
    "\n"
    "  --out DIR          output folder (created if missing)\n"
    "  --files N          number of report files (default 10)\n"
    "  --groups N         number of distinct (code, year, period) keys the files\n"
    "                     are spread over, round robin (default 1)\n"
    "  --sections N       sections per file (default 5)\n"
    "  --rows N           rows per section (default 100)\n"
    "  --cols N           columns per row (default 10)\n"
    "  --sub-rows F       fraction of rows that carry s1/s2 attributes (default 0.1)\n"
    "  --empty F          fraction of empty columns, <col code=\"N\"></col> (default 0.01)\n"
    "  --text F           fraction of columns holding non-numeric text (default 0.005)\n"
    "  --drafts F         fraction of files whose root is <draft> (default 0)\n"
    "  --encoding ENC     utf-8 (default) or windows-1251\n"
    "  --no-declaration   omit the <?xml ...?> declaration (utf-8 only)\n"
    "  --indent N         spaces per nesting level (default 2)\n"
    "  --single           write one big file (one group); --files and --groups\n"
    "                     are ignored\n"
    "  --seed N           random seed (default 1)\n"
    "  --quiet            print nothing but errors\n"
    "  --help             this text\n"
    "\n"
    "At the end a summary line is printed: files, bytes, numeric/empty/text cells.\n";

[[noreturn]] void fail(const std::string &message)
{
    std::fprintf(stderr, "svodar-genreports: %s\n", message.c_str());
    std::exit(2);
}

long long parseInt(const char *name, const char *text, long long min, long long max)
{
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max)
        fail(std::string("bad value for ") + name + ": " + text);
    return v;
}

double parseFraction(const char *name, const char *text)
{
    char *end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= 0.0 && v <= 1.0))
        fail(std::string("bad fraction for ") + name + " (expected 0..1): " + text);
    return v;
}

Options parseOptions(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char * {
            if (i + 1 >= argc)
                fail("missing value after " + a);
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(usageText, stdout);
            std::exit(0);
        } else if (a == "--out") {
            o.outDir = QString::fromLocal8Bit(next());
        } else if (a == "--files") {
            o.files = int(parseInt("--files", next(), 1, 100000000));
        } else if (a == "--groups") {
            o.groups = int(parseInt("--groups", next(), 1, 1000000));
        } else if (a == "--sections") {
            o.sections = int(parseInt("--sections", next(), 1, 100000000));
        } else if (a == "--rows") {
            o.rows = int(parseInt("--rows", next(), 1, 100000000));
        } else if (a == "--cols") {
            o.cols = int(parseInt("--cols", next(), 1, 100000000));
        } else if (a == "--sub-rows") {
            o.subRows = parseFraction("--sub-rows", next());
        } else if (a == "--empty") {
            o.emptyCols = parseFraction("--empty", next());
        } else if (a == "--text") {
            o.textCols = parseFraction("--text", next());
        } else if (a == "--drafts") {
            o.drafts = parseFraction("--drafts", next());
        } else if (a == "--encoding") {
            const std::string e = next();
            if (e == "utf-8" || e == "UTF-8" || e == "utf8")
                o.win1251 = false;
            else if (e == "windows-1251" || e == "cp1251" || e == "WINDOWS-1251")
                o.win1251 = true;
            else
                fail("unknown encoding: " + e + " (utf-8 or windows-1251)");
        } else if (a == "--no-declaration") {
            o.declaration = false;
        } else if (a == "--indent") {
            o.indent = int(parseInt("--indent", next(), 0, 16));
        } else if (a == "--single") {
            o.single = true;
        } else if (a == "--seed") {
            o.seed = std::uint64_t(parseInt("--seed", next(), 0, INT64_MAX));
        } else if (a == "--quiet") {
            o.quiet = true;
        } else {
            fail("unknown option: " + a + " (see --help)");
        }
    }
    if (o.outDir.isEmpty())
        fail("--out DIR is required (see --help)");
    if (o.emptyCols + o.textCols > 1.0)
        fail("--empty plus --text must not exceed 1");
    if (o.single) {
        o.files = 1;
        o.groups = 1;
    }
    if (o.win1251 && !o.declaration)
        fail("a windows-1251 file needs its declaration");
    return o;
}

// Texts that may hold Cyrillic, encoded once into the output encoding.
class TextPool
{
public:
    explicit TextPool(bool win1251) : encoder(win1251 ? "windows-1251" : "UTF-8")
    {
        if (!encoder.isValid())
            fail(win1251 ? "this Qt build has no windows-1251 codec (needs ICU)"
                         : "no UTF-8 encoder");
    }

    std::string encode(const char *utf8)
    {
        const QByteArray bytes = encoder.encode(QString::fromUtf8(utf8));
        if (encoder.hasError())
            fail(std::string("cannot encode text: ") + utf8);
        return std::string(bytes.constData(), std::size_t(bytes.size()));
    }

    std::vector<std::string> encodeAll(const std::vector<const char *> &texts)
    {
        std::vector<std::string> out;
        out.reserve(texts.size());
        for (const char *t : texts)
            out.push_back(encode(t));
        return out;
    }

private:
    QStringEncoder encoder;
};

const std::vector<const char *> orgKinds = {
    "ГБУЗ", "ГАУЗ", "ФГБУ", "МБУЗ", "ОГБУЗ", "КГБУЗ", "ГБУ", "МУП", "ООО", "АО",
};
const std::vector<const char *> orgNames = {
    "Городская поликлиника", "Районная больница", "Областной диспансер",
    "Детская городская больница", "Центральная районная больница",
    "Станция скорой медицинской помощи", "Стоматологическая поликлиника",
    "Областной кардиологический диспансер", "Родильный дом",
    "Городская клиническая больница", "Противотуберкулёзный диспансер",
    "Центр медицинской профилактики", "Санаторий «Берёзка»",
    "Медико-санитарная часть", "Онкологический диспансер",
};
const std::vector<const char *> cities = {
    "Москва", "Санкт-Петербург", "Екатеринбург", "Новосибирск", "Казань",
    "Нижний Новгород", "Челябинск", "Самара", "Омск", "Ростов-на-Дону",
    "Уфа", "Красноярск", "Пермь", "Воронеж", "Волгоград", "Тверь",
    "Ярославль", "Вологда", "Архангельск", "Петрозаводск",
};
const std::vector<const char *> streets = {
    "ул. Ленина", "ул. Садовая", "пр. Мира", "ул. Школьная", "ул. Советская",
    "ул. Гагарина", "ул. Пушкина", "пр. Победы", "ул. Заводская", "наб. Речная",
};
const std::vector<const char *> surnames = {
    "Иванов", "Петров", "Сидоров", "Кузнецов", "Смирнов", "Волков", "Соколов",
    "Морозов", "Новиков", "Фёдоров",
};
const std::vector<const char *> initials = {
    "А. С.", "И. И.", "О. П.", "Д. А.", "М. В.", "Е. Н.", "С. Ю.", "Т. Г.",
};
const std::vector<const char *> textCells = {
    "x", "X", "-", "н/д", "нет", "—", "см. примечание",
};

// The (code, year, period) keys: realistic form codes, some of 9 characters.
const std::vector<const char *> formCodes = {
    "0601012", "0609007", "060101201", "0609102", "060301003",
    "0601016", "0604001", "060900702", "0612004", "0606010",
};

struct GroupKey
{
    std::string code, year, period;
};

GroupKey groupKey(int g)
{
    const int n = int(formCodes.size());
    GroupKey k;
    k.code = formCodes[std::size_t(g % n)];
    k.period = std::to_string(1 + (g / n) % 4);
    k.year = std::to_string(2014 + g / (n * 4));
    return k;
}

// Layout of one row slot of a group's form.
struct RowLayout
{
    std::uint32_t code;
    std::string attrs; // ready-made ` s1="..." s2="..."` or empty
};

struct GroupLayout
{
    GroupKey key;
    std::vector<std::uint32_t> sectionCodes;
    std::vector<std::vector<RowLayout>> rows; // per section
};

GroupLayout makeLayout(const Options &o, int g, const std::vector<std::string> &cityTexts)
{
    GroupLayout L;
    L.key = groupKey(g);
    std::mt19937_64 rng(o.seed * 0x9E3779B97F4A7C15ULL + 0x5EC7104ULL + std::uint64_t(g));
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    // A run of subdivided rows is 2..5 rows long, 3.5 on average; start runs so
    // that the expected share of subdivided rows is o.subRows.
    const double runStart = o.subRows / (3.5 - 2.5 * o.subRows);
    L.sectionCodes.resize(std::size_t(o.sections));
    L.rows.resize(std::size_t(o.sections));
    for (int s = 0; s < o.sections; ++s) {
        L.sectionCodes[std::size_t(s)] = std::uint32_t(s + 1);
        auto &rows = L.rows[std::size_t(s)];
        rows.reserve(std::size_t(o.rows));
        std::uint32_t code = 0;
        int subLeft = 0;      // rows left in the current run of subdivided rows
        int subIndex = 0;     // position in the run
        bool cityStyle = false;
        std::size_t cityStart = 0;
        for (int r = 0; r < o.rows; ++r) {
            RowLayout row;
            bool sub = false;
            if (subLeft > 0) {
                // Same row code, next subdivision.
                --subLeft;
                ++subIndex;
                sub = true;
            } else {
                code += (o.rows > 1000) ? 1u : 10u;
                if (uni(rng) < runStart) {
                    // A run of 2..5 subdivisions of one row code.
                    subLeft = int(rng() % 4) + 1;
                    subIndex = 0;
                    cityStyle = rng() % 2;
                    cityStart = std::size_t(rng() % cityTexts.size());
                    sub = true;
                }
            }
            row.code = code;
            if (sub) {
                char buf[32];
                if (cityStyle) {
                    // s1 a place, s2 a kind code: distinct places within a run.
                    row.attrs = " s1=\""
                            + cityTexts[(cityStart + std::size_t(subIndex)) % cityTexts.size()]
                            + "\" s2=\"01\"";
                } else {
                    std::snprintf(buf, sizeof buf, " s1=\"%02d\"", subIndex + 1);
                    row.attrs = buf;
                }
            }
            rows.push_back(std::move(row));
        }
    }
    return L;
}

struct Counters
{
    std::uint64_t files = 0, bytes = 0, numeric = 0, empty = 0, text = 0;
};

class Writer
{
public:
    Writer(const Options &o, TextPool &pool)
        : opt(o)
    {
        orgKindTexts = pool.encodeAll(orgKinds);
        orgNameTexts = pool.encodeAll(orgNames);
        cityTexts = pool.encodeAll(cities);
        streetTexts = pool.encodeAll(streets);
        surnameTexts = pool.encodeAll(surnames);
        initialTexts = pool.encodeAll(initials);
        textCellTexts = pool.encodeAll(textCells);
        cityPrefix = pool.encode("г. ");
        housePrefix = pool.encode(", д. ");
        numberSign = pool.encode(" № ");
        quoteOpen = pool.encode(" «");
        quoteClose = pool.encode("»");
        for (int i = 0; i <= 8; ++i)
            indents.push_back(std::string(std::size_t(i * o.indent), ' '));
        emptyLimit = toLimit(o.emptyCols);
        textLimit = toLimit(o.emptyCols + o.textCols);
        chunkLimit = o.single ? (8u << 20) : ~std::size_t(0);
    }

    const std::vector<std::string> &cityPool() const { return cityTexts; }

    void writeFile(const GroupLayout &L, int fileIndex, int branch, Counters &counters)
    {
        std::mt19937_64 rng(opt.seed * 0xD1B54A32D192ED03ULL + 0xF11E5ULL
                            + std::uint64_t(fileIndex));
        const std::uint64_t okpo = 1000000ULL + std::uint64_t(branch) * 7919ULL % 89000000ULL;
        char okpoText[16];
        std::snprintf(okpoText, sizeof okpoText, "%08llu", static_cast<unsigned long long>(okpo));

        const QString name = QString::fromLatin1("%1_%2_%3_%4.xml")
                                     .arg(QLatin1String(okpoText),
                                          QString::fromStdString(L.key.code),
                                          QString::fromStdString(L.key.year),
                                          QString::fromStdString(L.key.period));
        file.setFileName(QDir(opt.outDir).filePath(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail("cannot create " + file.fileName().toStdString());

        buf.clear();
        const bool draft = opt.drafts > 0.0 && double(rng() >> 11) * 0x1p-53 < opt.drafts;
        const char *root = draft ? "draft" : "report";
        if (opt.declaration) {
            buf += opt.win1251 ? "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n"
                               : "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        }
        buf += '<';
        buf += root;
        buf += " code=\"" + L.key.code + "\" year=\"" + L.key.year + "\" period=\""
                + L.key.period + "\">\n";
        writeTitle(okpoText, branch);
        buf += indents[1];
        buf += "<sections>\n";
        for (std::size_t s = 0; s < L.sectionCodes.size(); ++s) {
            buf += indents[2];
            buf += "<section code=\"";
            appendUInt(L.sectionCodes[s]);
            buf += "\">\n";
            for (const RowLayout &row : L.rows[s]) {
                buf += indents[3];
                buf += "<row code=\"";
                appendUInt(row.code);
                buf += '"';
                buf += row.attrs;
                buf += ">\n";
                for (int c = 1; c <= opt.cols; ++c)
                    writeCol(rng, std::uint32_t(c), counters);
                buf += indents[3];
                buf += "</row>\n";
                if (buf.size() >= chunkLimit)
                    flush();
            }
            buf += indents[2];
            buf += "</section>\n";
        }
        buf += indents[1];
        buf += "</sections>\n</";
        buf += root;
        buf += ">\n";
        flush();
        file.close();
        ++counters.files;
    }

    std::uint64_t bytesWritten() const { return written; }

private:
    static std::uint64_t toLimit(double fraction)
    {
        const double scaled = fraction * 0x1p64;
        if (scaled >= 0x1p64)
            return ~std::uint64_t(0);
        return std::uint64_t(scaled);
    }

    template<typename T>
    const std::string &pick(std::mt19937_64 &rng, const std::vector<T> &v)
    {
        return v[std::size_t(rng() % v.size())];
    }

    void appendUInt(std::uint64_t v)
    {
        char tmp[24];
        const auto res = std::to_chars(tmp, tmp + sizeof tmp, v);
        buf.append(tmp, std::size_t(res.ptr - tmp));
    }

    void item(const char *name, const std::string &value)
    {
        buf += indents[2];
        buf += "<item name=\"";
        buf += name;
        buf += "\" value=\"";
        buf += value;
        buf += "\"/>\n";
    }

    void writeTitle(const char *okpo, int branch)
    {
        // The branch's own data depend on the branch only, like a real sender.
        std::mt19937_64 brng(opt.seed * 0x2545F4914F6CDD1DULL + std::uint64_t(branch));
        buf += indents[1];
        buf += "<title>\n";
        item("okpo", okpo);
        std::string org = pick(brng, orgKindTexts) + quoteOpen + pick(brng, orgNameTexts);
        if (brng() % 2) {
            org += numberSign;
            org += std::to_string(1 + brng() % 120);
        }
        org += quoteClose;
        item("name", org);
        char digits[32];
        std::snprintf(digits, sizeof digits, "%010llu",
                      static_cast<unsigned long long>(brng() % 10000000000ULL));
        item("inn", digits);
        std::snprintf(digits, sizeof digits, "%04llu01001",
                      static_cast<unsigned long long>(brng() % 10000ULL));
        item("kpp", digits);
        std::string address = cityPrefix + pick(brng, cityTexts) + ", " + pick(brng, streetTexts)
                + housePrefix + std::to_string(1 + brng() % 150);
        item("address", address);
        std::snprintf(digits, sizeof digits, "+7 (%03llu) %03llu-%02llu-%02llu",
                      static_cast<unsigned long long>(300 + brng() % 600),
                      static_cast<unsigned long long>(brng() % 1000),
                      static_cast<unsigned long long>(brng() % 100),
                      static_cast<unsigned long long>(brng() % 100));
        item("phone", digits);
        item("chief", pick(brng, surnameTexts) + " " + pick(brng, initialTexts));
        buf += indents[1];
        buf += "</title>\n";
    }

    void writeCol(std::mt19937_64 &rng, std::uint32_t code, Counters &counters)
    {
        buf += indents[4];
        buf += "<col code=\"";
        appendUInt(code);
        buf += "\">";
        const std::uint64_t kind = rng();
        if (kind < emptyLimit) {
            ++counters.empty;
        } else if (kind < textLimit) {
            buf += pick(rng, textCellTexts);
            ++counters.text;
        } else {
            appendValue(rng());
            ++counters.numeric;
        }
        buf += "</col>\n";
    }

    // Integers and decimals with up to 2 fraction digits, mostly small,
    // sometimes zero or negative, like the counts and sums of a statistical form.
    void appendValue(std::uint64_t r)
    {
        const unsigned sel = unsigned(r & 0xFF);
        r >>= 8;
        if (sel < 20) { // ~8% zeros
            buf += '0';
            return;
        }
        if (sel < 26) // ~2% negative
            buf += '-';
        static const std::uint64_t scale[] = { 10, 100, 1000, 10000, 100000, 1000000 };
        // Magnitude: 1..6 integer digits, skewed towards 3-4.  A quarter of the
        // values are whole counts, the rest carry one or two fraction digits
        // (money, rates).
        static const unsigned char digitsBySel[16] = { 1, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 6, 2, 3 };
        const unsigned nd = digitsBySel[r & 0xF];
        r >>= 4;
        appendUInt((r & 0xFFFFFF) % scale[nd - 1]);
        r >>= 24;
        const unsigned frac = unsigned(r & 0x3);
        r >>= 2;
        if (frac == 1) { // one fraction digit
            buf += '.';
            buf += char('0' + r % 10);
        } else if (frac >= 2) { // two fraction digits
            buf += '.';
            const unsigned f = unsigned(r % 100);
            buf += char('0' + f / 10);
            buf += char('0' + f % 10);
        }
    }

    void flush()
    {
        if (buf.empty())
            return;
        if (file.write(buf.data(), qint64(buf.size())) != qint64(buf.size()))
            fail("write error on " + file.fileName().toStdString());
        written += buf.size();
        buf.clear();
    }

    const Options &opt;
    std::vector<std::string> orgKindTexts, orgNameTexts, cityTexts, streetTexts, surnameTexts,
            initialTexts, textCellTexts;
    std::string cityPrefix, housePrefix, numberSign, quoteOpen, quoteClose;
    std::vector<std::string> indents;
    std::uint64_t emptyLimit = 0, textLimit = 0;
    std::size_t chunkLimit = 0;
    std::string buf;
    QFile file;
    std::uint64_t written = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Options opt = parseOptions(argc, argv);
    if (!QDir().mkpath(opt.outDir))
        fail("cannot create folder " + opt.outDir.toStdString());

    QElapsedTimer timer;
    timer.start();

    TextPool pool(opt.win1251);
    Writer writer(opt, pool);
    Counters counters;

    const int usedGroups = std::min(opt.groups, opt.files);
    std::vector<GroupLayout> layouts;
    layouts.reserve(std::size_t(usedGroups));
    for (int g = 0; g < usedGroups; ++g)
        layouts.push_back(makeLayout(opt, g, writer.cityPool()));

    for (int f = 0; f < opt.files; ++f) {
        const int g = f % usedGroups;
        const int branch = f / usedGroups; // one file per branch and group
        writer.writeFile(layouts[std::size_t(g)], f, branch, counters);
    }
    counters.bytes = writer.bytesWritten();

    if (!opt.quiet) {
        const double secs = double(timer.elapsed()) / 1000.0;
        std::printf("files=%llu groups=%d bytes=%llu numeric_cells=%llu empty_cells=%llu "
                    "text_cells=%llu encoding=%s seconds=%.2f\n",
                    static_cast<unsigned long long>(counters.files), usedGroups,
                    static_cast<unsigned long long>(counters.bytes),
                    static_cast<unsigned long long>(counters.numeric),
                    static_cast<unsigned long long>(counters.empty),
                    static_cast<unsigned long long>(counters.text),
                    opt.win1251 ? "windows-1251" : "utf-8", secs);
    }
    return 0;
}
