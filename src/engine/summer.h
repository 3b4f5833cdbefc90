#ifndef SUMMER_H
#define SUMMER_H

#include "filerecord.h"
#include "reportstore.h"
#include "runrecord.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// Sums a folder of XML reports: every report of the same code, year and period
// goes into one summed report, stamped with the head organisation's OKPO code.
//
// A run is: construct, readReports(), then writeReports() if reading succeeded.
// Both return false on failure and leave a message for the user in lastError().
class Summer
{
public:
    Summer();
    virtual ~Summer();

    Summer(const Summer &) = delete;
    Summer &operator=(const Summer &) = delete;

    bool readReports(const QString &path);
    bool writeReports(const QString &path, const QString &okpo);
    QString lastError() const;

    // Where the summed reports will go and the head organisation's code they
    // will carry, as writeReports() is to be given them; called before
    // readReports(). The reading then tells the files that look like an
    // earlier run's summed reports (FileRecord::looksSummed) and whether the
    // summed reports go into the folder read, both of which warnings() says.
    // Without it neither is looked for.
    void setOutput(const QString &path, const QString &okpo);

    // What has been summed so far (for callers that want to look before writing).
    const ReportMap &reportMap() const { return reports; }
    const TitleItems &titleItemMap() const { return titleItems; }

    // What the reading did with each listed entry, in list order: filled by
    // readReports() up to the entry it stopped at, if it failed.
    const QList<FileRecord> &fileRecords() const { return records; }
    // Warnings about what was read, one line each: a report sent twice into
    // one summed report (two files of one summed report with the same okpo), in
    // the order their second file comes in; then each file with lost numbers;
    // then each file that looks like an earlier run's summed report; last,
    // when there is something to sum and the output folder given to
    // setOutput() is the folder read (once links and relative parts are
    // resolved), that the summed reports go in among the reports.
    QStringList warnings() const;

    // Number of threads that parse files and write summed ones; 0 (the default)
    // means one per core for parsing and at least 8 for writing, which mostly
    // waits for the disk. Results never depend on it: files are merged in list
    // order on the calling thread, and summed files replaced in key order.
    void setReaderThreads(int count) { readerThreads = count; }

    // Whether the file records keep the values passed over (the default) or
    // only count them: a front end that shows none of them spares the memory.
    // Kept or not, every count stays exact. A run keeps at most
    // PassedOverKeptMax of them, the first in list order, and each file at
    // most FileRecord::KeptMax.
    void setKeepPassedOver(bool keep) { keepPassedOver = keep; }
    static constexpr int PassedOverKeptMax = 100000;
    // A line for the user when the run passed over more values than it could
    // keep, to end the list of them with; empty otherwise.
    QString passedOverNote() const;

    // All of the above and the summed store, as a value for what the run
    // puts out beside the summed reports.
    RunRecord runRecord() const;

    // How far a run has come, for showing it.
    struct Progress
    {
        qsizetype filesRead = 0; // listed entries read and added, of
        qsizetype files = 0;
        qint64 bytesRead = 0;      // in the files read
        qsizetype reportsWritten = 0; // summed reports in place, of
        qsizetype reports = 0;
    };
    // Called once the entries are listed and once the summed reports are
    // about to be written (with nothing done yet), then after each entry read
    // and each summed report written, on the thread that did it, never on two
    // at once; it should be quick.
    void setProgressHandler(const std::function<void(const Progress &)> &handler) { progress = handler; }

    // Stops the run; any thread may call it, at any time. Reading ends before
    // the next file is added (a large file between two of its blocks) and
    // writes nothing; writing ends before the next summed report takes its
    // name, so each one is whole or untouched. The step that was stopped
    // returns false, with stopped() true and lastError() as it was; a step
    // started afterwards stops at once.
    void stop() { stopAsked.store(true); }
    bool stopped() const { return wasStopped; }
    // The summed reports writeReports() put in place, the first ones in key order.
    qsizetype reportsWritten() const { return written; }

    // Called between two files added and between two summed reports written,
    // where progress is, after it; a seam for tests that need a run to take
    // its time.
    void setStepHook(const std::function<void()> &hook) { stepHook = hook; }

private:
    void setError(const QString &message) { errorText = message; }
    // The progress handler and the step hook, as one.
    std::function<void(const Progress &)> steps() const;

    ReportMap reports;
    TitleItems titleItems;
    QList<FileRecord> records;
    QString errorText;
    int readerThreads = 0;
    bool keepPassedOver = true;
    std::function<void(const Progress &)> progress;
    bool passedOverCut = false; // the run's cap on kept values cut some off
    std::function<void()> stepHook;
    std::atomic<bool> stopAsked = false;
    bool wasStopped = false;
    qsizetype written = 0;
    bool outputGiven = false; // setOutput() was called
    QString outputPath;
    QString headOkpo;
    bool intoInputFolder = false; // the output folder is the folder read
};

#endif // SUMMER_H
