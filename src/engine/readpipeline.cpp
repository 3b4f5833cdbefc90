// The reading threads of a run, and the merging of what they read into the
// store on the calling thread.

#include "readpipeline.h"

#include "messages.h"
#include "reportreader.h"
#include "reportwriter.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <chrono>

namespace {

// The message for a file that could not be read.
QString readErrorText(const QString &name, const ParsedReport &report)
{
    switch (report.status) {
    case ParsedReport::Status::NoReportElement:
        return messages::noReportElement(name);
    case ParsedReport::Status::XmlError:
        return messages::xmlError(name, report.errorLine, report.errorColumn);
    case ParsedReport::Status::AccessError:
        return messages::noAccess(name);
    case ParsedReport::Status::Ok:
        break;
    }
    return QString();
}

// Adds the cells of one file to the store, part by part.
class Merger
{
public:
    explicit Merger(ReportMap &reports)
        : reports(reports)
    {
    }

    void add(ParsedReport &part)
    {
        if (rowCols.size() < part.rowBase + part.rows.size())
            rowCols.resize(part.rowBase + part.rows.size(), nullptr);
        const std::size_t count = part.cells.size();
        for (std::size_t i = 0; i < count; ++i) {
            const ParsedReport::Cell &cell = part.cells[i];
            ColMap *&cols = rowCols[cell.row];
            if (!cols) {
                // Groups, sections and rows come into being with their first value.
                if (!group)
                    group = &reports[part.key];
                const ParsedReport::Row &row = part.rows[cell.row - part.rowBase];
                if (!rows || section != row.section) {
                    section = row.section;
                    rows = &(*group)[row.section];
                }
                cols = &(*rows)[row.key];
                // A row's cells nearly always follow each other: make room for
                // them at once rather than growing step by step.
                if (cols->isEmpty()) {
                    std::size_t run = i + 1;
                    while (run < count && part.cells[run].row == cell.row)
                        ++run;
                    cols->reserve(run - i);
                }
            }
            // The cells of a row come one after another, mostly in the order
            // of its columns: each is looked for first after the one before.
            if (cols != lastCols) {
                lastCols = cols;
                next = 0;
            }
            double &total = cols->total(cell.col, &next);
            total = total + cell.value;
        }
    }

private:
    ReportMap &reports;
    SectionMap *group = nullptr;
    RowMap *rows = nullptr; // of the section below, the last one used
    quint32 section = 0;
    std::vector<ColMap *> rowCols; // by row index of the file
    ColMap *lastCols = nullptr;    // the row of the last cell added
    std::size_t next = 0;          // in it, the place after that cell's column
};

} // namespace

ReadPipeline::ReadPipeline(const QDir &dir, const QStringList &names, int threads, int keptMax,
                           const std::atomic<bool> *stop)
    : names(names)
    , window(std::size_t(2 * threads + 2))
    , inFlight(window)
    , keptRoom(keptMax)
    , stop(stop)
    , keeping(keptMax > 0)
{
    // Paths are made here, once: a QDir caches its absolute path lazily and
    // must not be shared between threads.
    paths.reserve(names.size());
    for (const QString &name : names)
        paths.append(dir.absoluteFilePath(name));
    for (int i = 0; i < threads; ++i)
        workers.emplace_back([this] { work(); });
}

ReadPipeline::~ReadPipeline()
{
    {
        std::lock_guard lock(mutex);
        cancel = true;
    }
    changed.notify_all();
    for (std::thread &t : workers)
        t.join();
}

namespace {

constexpr std::chrono::milliseconds StopLookMs{50};

} // namespace

QString ReadPipeline::run(ReportMap &reports, TitleItems &titleItems, QList<FileRecord> &records,
                          const std::function<void(const Summer::Progress &)> &progress)
{
    Summer::Progress done;
    done.files = names.size();
    if (progress)
        progress(done); // how many there are, before the first is read
    const auto stopAsked = [this] { return stop && stop->load(std::memory_order_relaxed); };
    QMap<ReportKey, QString> outputNames;
    for (std::size_t i = 0; i < std::size_t(names.size()); ++i) {
        if (stopAsked()) {
            stoppedEarly = true;
            return QString();
        }
        Slot &slot = inFlight[i % window];
        Merger merger(reports);
        FileRecord &record = records.emplace_back();
        record.name = names.at(qsizetype(i));
        std::optional<ParsedReport> last;
        bool skipped = false;
        while (!last) {
            std::deque<ParsedReport> parts;
            {
                std::unique_lock lock(mutex);
                // A stop is looked for now and then while a file is awaited:
                // a large one may take long. Its reader ends at its next block
                // once the pipeline goes.
                while (!(slot.index == i && (!slot.parts.empty() || slot.done))) {
                    if (stopAsked()) {
                        stoppedEarly = true;
                        return QString();
                    }
                    changed.wait_for(lock, StopLookMs);
                }
                parts.swap(slot.parts);
                if (slot.done) {
                    last = std::move(slot.last);
                    skipped = slot.skipped;
                    done.bytesRead += slot.size;
                }
            }
            changed.notify_all(); // room for more parts
            for (ParsedReport &part : parts) {
                record.valuesAdded += qint64(part.cells.size());
                merger.add(part);
            }
        }
        if (!skipped) {
            if (last->status != ParsedReport::Status::Ok)
                return readErrorText(names.at(qsizetype(i)), *last);
            titleItems.insert(last->items);
            record.valuesAdded += qint64(last->cells.size());
            merger.add(*last);
            // One name shared by the records of a summed report.
            auto name = outputNames.find(last->key);
            if (name == outputNames.end())
                name = outputNames.insert(last->key, ReportWriter::fileName(last->key));
            record.outputName = name.value();
            record.element = last->isDraft ? FileRecord::Element::Draft : FileRecord::Element::Report;
            const auto okpo = last->items.constFind(QStringLiteral("okpo"));
            record.hasOkpo = okpo != last->items.cend();
            if (record.hasOkpo)
                record.okpo = okpo.value();
            record.valuesPassedOver = last->passedOverCount;
            record.lostNumbers = last->lostCount;
            record.passedOver = std::move(last->passedOver);
            keep(record);
        }
        {
            std::lock_guard lock(mutex);
            merged = i + 1;
            slot = Slot();
        }
        changed.notify_all();
        if (progress) {
            done.filesRead = qsizetype(i + 1);
            progress(done);
        }
    }
    return QString();
}

void ReadPipeline::keep(FileRecord &record)
{
    const qsizetype kept = std::min(record.passedOver.size(), keptRoom);
    if (record.passedOver.size() > kept || (keptRoom == 0 && record.valuesPassedOver > 0))
        cutOff = true;
    if (kept < record.passedOver.size()) {
        record.passedOver.resize(kept);
        record.passedOver.squeeze();
    }
    keptRoom -= kept;
    // Files read from now on need not keep any; those in flight are cut here.
    if (keptRoom == 0)
        keeping.store(false, std::memory_order_relaxed);
}

void ReadPipeline::work()
{
    ReportReader reader;
    for (;;) {
        std::size_t i;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] {
                return cancel || next >= std::size_t(names.size())
                    || next < merged + window;
            });
            if (cancel || next >= std::size_t(names.size()))
                return;
            i = next++;
            inFlight[i % window].index = i;
        }
        Slot &slot = inFlight[i % window];
        const QString &path = paths.at(qsizetype(i));
        // Only regular files are read: a sub-folder, or anything that could
        // block or never end, is passed over.
        const QFileInfo info(path);
        const bool regular = info.isFile();
        std::optional<ParsedReport> result;
        if (regular) {
            reader.setKeptMax(keeping.load(std::memory_order_relaxed) ? FileRecord::KeptMax : 0);
            result = reader.read(
                path,
                [&](ParsedReport &part) {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] {
                        return cancel || slot.parts.size() < MaxQueuedParts;
                    });
                    ParsedReport moved;
                    moved.key = part.key;
                    moved.rowBase = part.rowBase;
                    moved.rows = std::move(part.rows);
                    moved.cells = std::move(part.cells);
                    slot.parts.push_back(std::move(moved));
                    lock.unlock();
                    changed.notify_all();
                },
                &cancel);
        }
        {
            std::lock_guard lock(mutex);
            slot.last = std::move(result);
            slot.skipped = !regular;
            slot.size = regular ? info.size() : 0;
            if (!regular)
                slot.last.emplace();
            slot.done = true;
        }
        changed.notify_all();
    }
}
