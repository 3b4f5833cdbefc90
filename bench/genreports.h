// What the parts of svodar-genreports share: its options, the layout of a
// group's form and the texts of the title, encoded once.

#ifndef SVODAR_BENCH_GENREPORTS_H
#define SVODAR_BENCH_GENREPORTS_H

#include <QByteArray>
#include <QString>
#include <QStringEncoder>

#include <cstdint>
#include <string>
#include <vector>

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

// Prints the message and ends the program with status 2.
[[noreturn]] void fail(const std::string &message);

// Reads the command line; prints the usage and exits on --help.
Options parseOptions(int argc, char **argv);

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

struct GroupKey
{
    std::string code, year, period;
};


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

// The form of group g: its key, and its rows with their s1/s2 texts (some taken
// from cityTexts), the same in every file of the group.
GroupLayout makeLayout(const Options &o, int g, const std::vector<std::string> &cityTexts);

#endif // SVODAR_BENCH_GENREPORTS_H
