#ifndef GROUPWRITER_H
#define GROUPWRITER_H

#include "reportstore.h"
#include "summer.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

class QDir;
class ReportWriter;

// Writes the summed reports, several at once. Each report goes to a temporary
// file that takes its name (in place of the old file, if any) only when it is
// complete and synced, and these commits happen strictly in key order: when a
// group fails, the files of the groups before it stay and no later group's file
// appears.
class GroupWriter
{
public:
    // Once *stop is true, no further report takes its name.
    GroupWriter(const QDir &dir, const ReportMap &reports, const ReportWriter &writer,
                const std::function<void(const Summer::Progress &)> &progress, const std::atomic<bool> *stop);

    // Names are checked before anything is written, so a bad group cannot leave
    // half a run behind: a name must stay inside the folder, and two groups must
    // not share a file on a file system that ignores letter case.
    // Returns the message for the first group whose name fails, or nothing.
    static QString nameError(const ReportMap &reports);

    // Returns the message of the first group in key order that failed, or nothing.
    // A run of fewer groups than cores puts each large report into text on
    // several of them.
    QString run(int threads, int cores);
    // Whether run() ended early because it was told to stop.
    bool stopped() const { return stoppedEarly; }
    // The reports that took their names, the first ones in key order.
    std::size_t written() const { return failed ? failedAt : groups.size(); }

private:
    struct Group
    {
        ReportMap::const_iterator it;
        QString name;
        QString path;
    };

    void work();
    bool stopAsked() const;

    // A name the file system refuses (too long, or with characters it does not
    // take) fails its lookup already, so it is told apart from a failed write
    // without anything being created. Where a lookup takes any name, as on FAT,
    // the temporary file name.XXXXXX cannot be created and open() fails instead.
    static bool refusedName(const QString &path);

    // The files took their names in the folder: it is synced as well, so that
    // after a power cut the files of a run that ended are there under their
    // names, not only in the file system's journal. A file system that cannot
    // sync a folder is no error, as for the files.
    void syncFolder() const;

    const ReportWriter &writer;
    const std::function<void(const Summer::Progress &)> progress;
    QString folder;
    std::vector<Group> groups;
    int textThreads = 1; // threads that put one report into text
    std::atomic<std::size_t> next = 0;
    std::atomic<bool> failed = false;

    std::mutex mutex;
    std::condition_variable turn;
    std::size_t committed = 0; // groups whose turn is over
    std::size_t failedAt = 0;  // the first group that failed
    QString firstError;
    const std::atomic<bool> *stop;
    bool stoppedEarly = false;
};

#endif // GROUPWRITER_H
