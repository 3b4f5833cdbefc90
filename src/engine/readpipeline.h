#ifndef READPIPELINE_H
#define READPIPELINE_H

#include "parsedreport.h"
#include "summer.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class QDir;

// Parses the files on worker threads while the calling thread adds their results
// to the store strictly in list order, so totals never depend on the timing.
// Only a few files are in flight at once, and a large file's cells are handed
// over in parts, so memory stays bounded.
class ReadPipeline
{
public:
    // keptMax: how many values passed over the run keeps in all. Once *stop
    // is true, run() adds no further file.
    ReadPipeline(const QDir &dir, const QStringList &names, int threads, int keptMax,
                 const std::atomic<bool> *stop);
    ~ReadPipeline();

    // Adds every file to the store and records what it did with each; on the
    // first failing file, in list order, returns its message and adds nothing
    // after it.
    QString run(ReportMap &reports, TitleItems &titleItems, QList<FileRecord> &records,
                const std::function<void(const Summer::Progress &)> &progress);

    // Whether the run's cap on values kept cut some off.
    bool cut() const { return cutOff; }
    // Whether run() ended early because it was told to stop.
    bool stopped() const { return stoppedEarly; }

private:
    // Keeps a file's values passed over as far as the run has room for them.
    void keep(FileRecord &record);

    struct Slot
    {
        std::size_t index = std::size_t(-1);
        std::deque<ParsedReport> parts;
        std::optional<ParsedReport> last;
        qint64 size = 0;
        bool skipped = false;
        bool done = false;
    };

    static constexpr std::size_t MaxQueuedParts = 4;

    void work();

    const QStringList names;
    QStringList paths;
    const std::size_t window;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Slot> inFlight;
    std::size_t next = 0;
    std::size_t merged = 0;
    std::atomic<bool> cancel = false;
    qsizetype keptRoom;  // merging thread only
    bool cutOff = false; // likewise
    const std::atomic<bool> *stop;
    bool stoppedEarly = false;
    std::atomic<bool> keeping;
    std::vector<std::thread> workers;
};

#endif // READPIPELINE_H
