#ifndef REPORTSTORE_H
#define REPORTSTORE_H

#include <QMap>
#include <QString>

#include <algorithm>
#include <vector>

// The running totals of one summing run.
//
// Every text key compares by UTF-16 code units (QString's operator<): case-sensitive,
// not locale-aware, a proper prefix first. So, as text, "10" sorts before "9".

// Identifies a group of reports that are summed into one output report.
struct ReportKey
{
    QString code;
    QString year;
    QString period;

    friend bool operator==(const ReportKey &a, const ReportKey &b)
    {
        return a.code == b.code && a.year == b.year && a.period == b.period;
    }
    friend bool operator<(const ReportKey &a, const ReportKey &b)
    {
        if (a.code != b.code)
            return a.code < b.code;
        if (a.year != b.year)
            return a.year < b.year;
        return a.period < b.period;
    }
};

// Identifies a row inside a section.
struct RowKey
{
    quint32 code = 0;
    QString s1;
    QString s2;
    QString s3;

    friend bool operator==(const RowKey &a, const RowKey &b)
    {
        return a.code == b.code && a.s1 == b.s1 && a.s2 == b.s2 && a.s3 == b.s3;
    }
    friend bool operator<(const RowKey &a, const RowKey &b)
    {
        if (a.code != b.code)
            return a.code < b.code;
        if (a.s1 != b.s1)
            return a.s1 < b.s1;
        if (a.s2 != b.s2)
            return a.s2 < b.s2;
        return a.s3 < b.s3;
    }
};

// Column code -> total, ascending by code.
//
// A row holds few columns and they nearly always arrive in ascending order, so a
// sorted array beats a tree here: 16 bytes a cell instead of a node of 64, and an
// append instead of a search in the common case.
class ColMap
{
public:
    struct Entry
    {
        quint32 code;
        double total;
    };
    using const_iterator = std::vector<Entry>::const_iterator;

    // The total of a column, created with 0 when the column is new.
    double &operator[](quint32 code) { return entries[indexOf(code)].total; }

    // The same, looked for first at *next, where the caller expects it (the
    // place after the column it asked for last); *next is moved past it.
    double &total(quint32 code, std::size_t *next)
    {
        std::size_t at = *next;
        if (at >= entries.size() || entries[at].code != code)
            at = indexOf(code);
        *next = at + 1;
        return entries[at].total;
    }

    bool contains(quint32 code) const { return find(code) != entries.end(); }
    double value(quint32 code, double fallback = 0.0) const
    {
        const auto it = find(code);
        return it == entries.end() ? fallback : it->total;
    }

    void reserve(std::size_t n) { entries.reserve(n); }
    std::size_t size() const { return entries.size(); }
    bool isEmpty() const { return entries.empty(); }
    const_iterator begin() const { return entries.begin(); }
    const_iterator end() const { return entries.end(); }

private:
    // The place of a column, made with a total of 0 when the column is new.
    std::size_t indexOf(quint32 code)
    {
        if (entries.empty() || entries.back().code < code) {
            entries.push_back({code, 0.0});
            return entries.size() - 1;
        }
        auto it = std::lower_bound(entries.begin(), entries.end(), code,
                                   [](const Entry &e, quint32 c) { return e.code < c; });
        if (it == entries.end() || it->code != code)
            it = entries.insert(it, {code, 0.0});
        return std::size_t(it - entries.begin());
    }

    const_iterator find(quint32 code) const
    {
        auto it = std::lower_bound(entries.begin(), entries.end(), code,
                                   [](const Entry &e, quint32 c) { return e.code < c; });
        return (it != entries.end() && it->code == code) ? it : entries.end();
    }

    std::vector<Entry> entries;
};

using RowMap = QMap<RowKey, ColMap>;
using SectionMap = QMap<quint32, RowMap>;
using ReportMap = QMap<ReportKey, SectionMap>;
using TitleItems = QMap<QString, QString>;

// Adds a value to one cell, creating the group, section, row and column on the way.
// A new total starts at 0, so a lone -0.0 ends as +0.0.
inline void addValue(ReportMap &reports, const ReportKey &report, quint32 section,
                     const RowKey &row, quint32 col, double value)
{
    double &total = reports[report][section][row][col];
    total = total + value;
}

#endif // REPORTSTORE_H
