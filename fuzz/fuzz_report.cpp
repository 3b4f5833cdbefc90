// libFuzzer target: any bytes as the one report file of an input folder.
//
// The bytes become r.xml in a folder and are read by the engine's per-file
// reader. A file it reads whole then goes through a whole summing run, as the
// command line and the window run it: a fresh Summer reads the folder and writes
// the sums into a second folder. The written files are then read back by another
// Summer, which must find the same groups, title items, cells and totals: the
// writer has to escape whatever text a report can carry so that it comes back
// unchanged.
//
// Both folders live on tmpfs (/dev/shm when there is one) and are made once per
// process. Any difference found ends the process with abort(), which libFuzzer
// reports as a crash with the input that caused it.

#include "numbers.h"
#include "reportreader.h"
#include "reportwriter.h"
#include "summer.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const QString Okpo = QStringLiteral("12345678");

QString workFolder()
{
    static const QTemporaryDir dir = [] {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                       : QDir::tempPath();
        return QTemporaryDir(base + QStringLiteral("/svodar-fuzz-XXXXXX"));
    }();
    if (!dir.isValid()) {
        std::fprintf(stderr, "fuzz_report: cannot make a work folder: %s\n",
                     qPrintable(dir.errorString()));
        std::abort();
    }
    return dir.path();
}

[[noreturn]] void fail(const char *what, const QString &detail = QString())
{
    std::fprintf(stderr, "fuzz_report: %s%s%s\n", what, detail.isEmpty() ? "" : ": ",
                 qPrintable(detail));
    std::abort();
}

std::string totalText(double total)
{
    char buffer[numbers::TotalTextMax];
    return std::string(buffer, numbers::formatTotal(total, buffer));
}

// A summed file whose name starts with a dot (a group code that does) is hidden,
// and reading a folder passes over hidden files.
bool listedWhenRead(const ReportKey &key)
{
    return !ReportWriter::fileName(key).startsWith(QLatin1Char('.'));
}

// What reading the written files must give: the same store, with every total as
// its written text reads back, and without the cells whose total overflowed to an
// infinity (such text is no number on reading). Groups, sections and rows left
// without cells are dropped, as reading never makes empty ones; so are the groups
// whose files are hidden.
ReportMap expectedAfterWriting(const ReportMap &reports)
{
    ReportMap out;
    for (auto g = reports.cbegin(); g != reports.cend(); ++g) {
        if (!listedWhenRead(g.key()))
            continue;
        SectionMap sections;
        for (auto s = g->cbegin(); s != g->cend(); ++s) {
            RowMap rows;
            for (auto r = s->cbegin(); r != s->cend(); ++r) {
                ColMap cols;
                for (const ColMap::Entry &e : *r) {
                    double value;
                    if (std::isfinite(e.total)
                        && numbers::parseValue(totalText(e.total), &value))
                        cols[e.code] = value;
                }
                if (!cols.isEmpty())
                    rows.insert(r.key(), cols);
            }
            if (!rows.isEmpty())
                sections.insert(s.key(), rows);
        }
        if (!sections.isEmpty())
            out.insert(g.key(), sections);
    }
    return out;
}

QString describeKey(const ReportKey &k)
{
    return k.code + QLatin1Char('|') + k.year + QLatin1Char('|') + k.period;
}

void compareStores(const ReportMap &expected, const ReportMap &got)
{
    if (expected.size() != got.size())
        fail("groups differ after writing and reading back",
             QStringLiteral("%1 written, %2 read").arg(expected.size()).arg(got.size()));
    for (auto g = expected.cbegin(), h = got.cbegin(); g != expected.cend(); ++g, ++h) {
        if (!(g.key() == h.key()))
            fail("group key changed on the way", describeKey(g.key()) + QStringLiteral(" -> ")
                                                     + describeKey(h.key()));
        if (g->keys() != h->keys())
            fail("sections differ after writing and reading back", describeKey(g.key()));
        for (auto s = g->cbegin(), t = h->cbegin(); s != g->cend(); ++s, ++t) {
            if (s->size() != t->size())
                fail("rows differ after writing and reading back",
                     QStringLiteral("section %1").arg(s.key()));
            for (auto r = s->cbegin(), q = t->cbegin(); r != s->cend(); ++r, ++q) {
                const RowKey &a = r.key(), &b = q.key();
                if (!(a == b))
                    fail("row key changed on the way",
                         QStringLiteral("%1 [%2|%3|%4] -> %5 [%6|%7|%8]")
                             .arg(a.code).arg(a.s1, a.s2, a.s3)
                             .arg(b.code).arg(b.s1, b.s2, b.s3));
                if (r->size() != q->size())
                    fail("columns differ after writing and reading back",
                         QStringLiteral("row %1").arg(a.code));
                for (auto c = r->begin(), d = q->begin(); c != r->end(); ++c, ++d) {
                    // Totals are compared as written text, so that -0 and +0 match.
                    if (c->code != d->code || totalText(c->total) != totalText(d->total))
                        fail("a column changed on the way",
                             QStringLiteral("row %1 col %2 = %3 -> col %4 = %5")
                                 .arg(a.code).arg(c->code)
                                 .arg(QString::fromStdString(totalText(c->total)))
                                 .arg(d->code)
                                 .arg(QString::fromStdString(totalText(d->total))));
                }
            }
        }
    }
}

// The record of the one file: its counts agree with what it keeps, and every
// text kept is cut as it is shown.
void checkRecord(const QList<FileRecord> &records)
{
    if (records.size() != 1)
        fail("not one record for one file", QString::number(records.size()));
    const FileRecord &r = records.first();
    if (r.passedOver.size() != std::min<qint64>(r.valuesPassedOver, FileRecord::KeptMax)
        || r.lostNumbers > r.valuesPassedOver || r.valuesAdded < 0)
        fail("the counts of a record disagree", r.name);
    qint64 lost = 0;
    for (const PassedOverValue &v : r.passedOver) {
        const QString text = v.text();
        if (text.isEmpty() || text.toUcs4().size() > PassedOverValue::TextMax + 1)
            fail("a value passed over is shown wrongly", text);
        lost += v.lostNumber ? 1 : 0;
    }
    if (r.valuesPassedOver <= FileRecord::KeptMax && lost != r.lostNumbers)
        fail("lost numbers miscounted", r.name);
}

void writeInput(const QString &path, const uint8_t *data, size_t size)
{
    std::FILE *f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f)
        fail("cannot create the input file", path);
    if (size > 0 && std::fwrite(data, 1, size, f) != size)
        fail("cannot write the input file", path);
    if (std::fclose(f) != 0)
        fail("cannot write the input file", path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString input = workFolder() + QStringLiteral("/in");
    static const QString output = workFolder() + QStringLiteral("/out");
    static const bool made = QDir().mkpath(input);
    if (!made)
        fail("cannot make the input folder", input);

    const QString file = input + QStringLiteral("/r.xml");
    writeInput(file, data, size);

    // Most inputs are broken files. The per-file reader tells them apart first,
    // kept from input to input as a reading thread keeps it from file to file;
    // only a file it reads whole goes through a whole run, which costs a thread
    // and fresh buffers each time.
    static ReportReader reader;
    const ParsedReport read = reader.read(file);
    if (read.status != ParsedReport::Status::Ok)
        return 0;

    Summer summer;
    summer.setReaderThreads(1);
    if (!summer.readReports(input)) {
        if (summer.lastError().isEmpty())
            fail("reading failed without a message");
        return 0;
    }
    if (!summer.lastError().isEmpty())
        fail("reading succeeded with a message", summer.lastError());
    checkRecord(summer.fileRecords());

    const bool written = summer.writeReports(output, Okpo);
    if (!written && summer.lastError().isEmpty())
        fail("writing failed without a message");

    const ReportMap &reports = summer.reportMap();
    if (written && std::any_of(reports.keyBegin(), reports.keyEnd(), listedWhenRead)) {
        Summer again;
        again.setReaderThreads(1);
        if (!again.readReports(output))
            fail("a written report does not read back", again.lastError());
        compareStores(expectedAfterWriting(reports), again.reportMap());

        TitleItems items = summer.titleItemMap();
        items.insert(QStringLiteral("okpo"), Okpo);
        if (items != again.titleItemMap())
            fail("title items differ after writing and reading back");
    }

    // The next input starts from an empty output folder; writing makes it again.
    QDir(output).removeRecursively();
    return 0;
}
