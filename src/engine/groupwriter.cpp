// Writing the summed reports to their folder: each file whole or not at all,
// and committed in key order.

#include "groupwriter.h"

#include "messages.h"
#include "reportwriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <thread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool hasForbiddenCharacter(const QString &name)
{
    for (QChar c : name) {
        if (c.unicode() < 0x20 || QStringView(u"/\\:*?\"<>|").contains(c))
            return true;
    }
    return false;
}

} // namespace

GroupWriter::GroupWriter(const QDir &dir, const ReportMap &reports, const ReportWriter &writer,
                         const std::function<void(const Summer::Progress &)> &progress,
                         const std::atomic<bool> *stop)
    : writer(writer)
    , progress(progress)
    , stop(stop)
{
    for (auto it = reports.cbegin(); it != reports.cend(); ++it) {
        const QString name = ReportWriter::fileName(it.key());
        groups.push_back({it, name, dir.absoluteFilePath(name)});
    }
    folder = dir.absolutePath();
}

QString GroupWriter::nameError(const ReportMap &reports)
{
    QSet<QString> taken;
    for (auto it = reports.cbegin(); it != reports.cend(); ++it) {
        const QString name = ReportWriter::fileName(it.key());
        if (hasForbiddenCharacter(name))
            return messages::forbiddenName(name);
        const QString folded = name.toCaseFolded();
        if (taken.contains(folded))
            return messages::sharedName(name);
        taken.insert(folded);
    }
    return QString();
}

QString GroupWriter::run(int threads, int cores)
{
    textThreads = std::max(1, cores / std::max(1, int(groups.size())));
    if (progress) {
        Summer::Progress none; // how many there are, before the first is written
        none.reports = qsizetype(groups.size());
        progress(none);
    }
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; ++i)
        workers.emplace_back([this] { work(); });
    work();
    for (std::thread &t : workers)
        t.join();
    // Files written side by side share the disk: when it filled up, a later
    // group's unfinished file may have taken the room an earlier one needed.
    // So the groups from the first failed one on are written again, one at
    // a time, which gives what a single thread would have.
    if (!firstError.isEmpty() && workers.size() > 0) {
        next = failedAt;
        committed = failedAt;
        failed = false;
        firstError.clear();
        work();
    }
    syncFolder();
    return firstError;
}

void GroupWriter::work()
{
    for (;;) {
        const std::size_t i = next.fetch_add(1);
        if (i >= groups.size())
            return;
        const Group &group = groups[i];
        // After a failure or a stop the turn is still taken, so that no one
        // waits for it.
        const bool skip = failed.load() || stopAsked();

        QString error;
        QSaveFile file(group.path);
        if (!skip) {
            // Nothing is made under the summed file's name before its whole
            // content is there: the file is written to an unnamed file in the
            // folder, or where the file system has none, to name.XXXXXX
            // beside it, and takes the name only at commit. A link in its
            // place is not followed (the file would land wherever it points).
            const QFileInfo existing(group.path);
            if (refusedName(group.path) || existing.isSymLink() || existing.isDir()
                || (existing.exists() && !existing.isWritable()))
                error = messages::notOpened();
            const auto mode = QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered;
            if (error.isEmpty() && !file.open(mode))
                error = messages::notOpened();
            // Each step is checked: a file cut short (disk full) must never
            // take the place of a good one, nor count as written.
            if (error.isEmpty()
                && (!writer.write(&file, group.it.key(), group.it.value(), textThreads) || !file.flush()
                    || file.error() != QFileDevice::NoError)) {
                error = messages::notWritten(group.name);
            }
#if defined(Q_OS_LINUX)
            // The data goes to disk here, on this thread, while others do the
            // same; commit() syncs again, but finds nothing left to write, so
            // the commits, which take turns, stay short. A disk that fails to
            // take the data (EIO, ENOSPC) fails the file; one that cannot sync
            // at all (EINVAL) is no error, as for commit().
            if (error.isEmpty() && ::fdatasync(file.handle()) != 0 && errno != EINVAL)
                error = messages::notWritten(group.name);
#endif
        }

        std::unique_lock lock(mutex);
        turn.wait(lock, [&] { return committed == i; });
        // A stop asked for before its turn leaves this report unwritten and
        // ends the run here; a report already failing fails all the same.
        const bool stopHere = !failed && error.isEmpty() && stopAsked();
        if (!failed && !skip && !stopHere && error.isEmpty() && !file.commit())
            error = messages::notWritten(group.name);
        if (stopHere)
            stoppedEarly = true;
        if (failed || skip || stopHere || !error.isEmpty()) {
            if (file.isOpen())
                file.cancelWriting();
            if (!failed) {
                failed = true;
                failedAt = i;
                firstError = error;
            }
        }
        ++committed;
        if (progress && !failed) {
            Summer::Progress done;
            done.reportsWritten = qsizetype(committed);
            done.reports = qsizetype(groups.size());
            progress(done);
        }
        lock.unlock();
        turn.notify_all();
    }
}

bool GroupWriter::stopAsked() const
{
    return stop && stop->load(std::memory_order_relaxed);
}

bool GroupWriter::refusedName(const QString &path)
{
#if defined(Q_OS_UNIX)
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) != 0
        && (errno == ENAMETOOLONG || errno == EINVAL || errno == EILSEQ);
#else
    Q_UNUSED(path);
    return false;
#endif
}

void GroupWriter::syncFolder() const
{
#if defined(Q_OS_UNIX)
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
}
