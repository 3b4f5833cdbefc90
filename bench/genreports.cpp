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

#include "genreports.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

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
