// svodar-genreports: the command line.

#include "genreports.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

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

} // namespace

[[noreturn]] void fail(const std::string &message)
{
    std::fprintf(stderr, "svodar-genreports: %s\n", message.c_str());
    std::exit(2);
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
