// svodar-genreports: the layout of a group's form.

#include "genreports.h"

#include <cstdio>
#include <random>

namespace {

// The (code, year, period) keys: realistic form codes, some of 9 characters.
const std::vector<const char *> formCodes = {
    "0601012", "0609007", "060101201", "0609102", "060301003",
    "0601016", "0604001", "060900702", "0612004", "0606010",
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

} // namespace

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
