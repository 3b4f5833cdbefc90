#include "summer.h"

#include "messages.h"
#include "readpipeline.h"
#include "reportwriter.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The report files of a folder: entries named *.xml in any letter case, hidden ones
// left out, sorted by their lower-cased names, code unit by code unit. Names that
// differ only in case keep a fixed order too. Entries of every kind are listed
// (a sub-folder, a FIFO, a dangling link); the reading passes over all but files.
QStringList listReports(const QDir &dir)
{
    QStringList names = dir.entryList({QStringLiteral("*.xml")},
                                      QDir::Files | QDir::Dirs | QDir::System | QDir::NoDotAndDotDot,
                                      QDir::Unsorted);
    std::vector<std::pair<QString, QString>> keyed;
    keyed.reserve(std::size_t(names.size()));
    for (const QString &name : std::as_const(names))
        keyed.emplace_back(name.toLower(), name);
    std::sort(keyed.begin(), keyed.end());
    names.clear();
    for (auto &k : keyed)
        names.append(std::move(k.second));
    return names;
}

// A summed report's file name and an okpo: files that share both are one
// branch's report sent twice.
using SameOkpo = std::pair<QString, QString>;

bool hasForbiddenCharacter(const QString &name)
{
    for (QChar c : name) {
        if (c.unicode() < 0x20 || QStringView(u"/\\:*?\"<>|").contains(c))
            return true;
    }
    return false;
}

// Writes the summed reports, several at once. Each report goes to a temporary
// file that takes its name (in place of the old file, if any) only when it is
// complete and synced, and these commits happen strictly in key order: when a
// group fails, the files of the groups before it stay and no later group's file
// appears.
class GroupWriter
{
public:
    GroupWriter(const QDir &dir, const ReportMap &reports, const ReportWriter &writer,
                const std::function<void(const Summer::Progress &)> &progress)
        : m_writer(writer)
        , m_progress(progress)
    {
        for (auto it = reports.cbegin(); it != reports.cend(); ++it) {
            const QString name = ReportWriter::fileName(it.key());
            m_groups.push_back({it, name, dir.absoluteFilePath(name)});
        }
        m_folder = dir.absolutePath();
    }

    // Returns the message of the first group in key order that failed, or nothing.
    // A run of fewer groups than cores puts each large report into text on
    // several of them.
    QString run(int threads, int cores)
    {
        m_textThreads = std::max(1, cores / std::max(1, int(m_groups.size())));
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
        if (!m_error.isEmpty() && workers.size() > 0) {
            m_next = m_failedAt;
            m_committed = m_failedAt;
            m_failed = false;
            m_error.clear();
            work();
        }
        syncFolder();
        return m_error;
    }

private:
    struct Group
    {
        ReportMap::const_iterator it;
        QString name;
        QString path;
    };

    void work()
    {
        for (;;) {
            const std::size_t i = m_next.fetch_add(1);
            if (i >= m_groups.size())
                return;
            const Group &group = m_groups[i];
            // After a failure the turn is still taken, so that no one waits for it.
            const bool skip = m_failed.load();

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
                    error = openError();
                const auto mode = QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered;
                if (error.isEmpty() && !file.open(mode))
                    error = openError();
                // Each step is checked: a file cut short (disk full) must never
                // take the place of a good one, nor count as written.
                if (error.isEmpty()
                    && (!m_writer.write(&file, group.it.key(), group.it.value(), m_textThreads) || !file.flush()
                        || file.error() != QFileDevice::NoError)) {
                    error = writeError(group.name);
                }
#if defined(Q_OS_LINUX)
                // The data goes to disk here, on this thread, while others do the
                // same; commit() syncs again, but finds nothing left to write, so
                // the commits, which take turns, stay short. A disk that fails to
                // take the data (EIO, ENOSPC) fails the file; one that cannot sync
                // at all (EINVAL) is no error, as for commit().
                if (error.isEmpty() && ::fdatasync(file.handle()) != 0 && errno != EINVAL)
                    error = writeError(group.name);
#endif
            }

            std::unique_lock lock(m_mutex);
            m_turn.wait(lock, [&] { return m_committed == i; });
            if (!m_failed && !skip && error.isEmpty() && !file.commit())
                error = writeError(group.name);
            if (m_failed || skip || !error.isEmpty()) {
                if (file.isOpen())
                    file.cancelWriting();
                if (!m_failed) {
                    m_failed = true;
                    m_failedAt = i;
                    m_error = error;
                }
            }
            ++m_committed;
            if (m_progress && !m_failed) {
                Summer::Progress done;
                done.reportsWritten = qsizetype(m_committed);
                done.reports = qsizetype(m_groups.size());
                m_progress(done);
            }
            lock.unlock();
            m_turn.notify_all();
        }
    }

    // A name the file system refuses (too long, or with characters it does not
    // take) fails its lookup already, so it is told apart from a failed write
    // without anything being created. Where a lookup takes any name, as on FAT,
    // the temporary file name.XXXXXX cannot be created and open() fails instead.
    static bool refusedName(const QString &path)
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

    // The files took their names in the folder: it is synced as well, so that
    // after a power cut the files of a run that ended are there under their
    // names, not only in the file system's journal. A file system that cannot
    // sync a folder is no error, as for the files.
    void syncFolder() const
    {
#if defined(Q_OS_UNIX)
        const int fd = ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
#endif
    }

    static QString openError() { return QStringLiteral("Не получается открыть файл для записи"); }
    static QString writeError(const QString &name) { return messages::notWritten(name); }

    const ReportWriter &m_writer;
    const std::function<void(const Summer::Progress &)> &m_progress;
    QString m_folder;
    std::vector<Group> m_groups;
    int m_textThreads = 1; // threads that put one report into text
    std::atomic<std::size_t> m_next = 0;
    std::atomic<bool> m_failed = false;

    std::mutex m_mutex;
    std::condition_variable m_turn;
    std::size_t m_committed = 0; // groups whose turn is over
    std::size_t m_failedAt = 0;  // the first group that failed
    QString m_error;
};

} // namespace

Summer::Summer() = default;

Summer::~Summer() = default;

QString Summer::lastError() const
{
    return errorText;
}

bool Summer::readReports(const QString &path)
{
    const QDir dir(path);
    if (!dir.exists()) {
        setError(QStringLiteral("Не удаётся нейти исходную папку"));
        return false;
    }
    const QStringList names = listReports(dir);
    if (names.isEmpty()) {
        setError(QStringLiteral("В исходной папке нет xml-файлов"));
        return false;
    }

    int threads = readerThreads > 0 ? readerThreads : QThread::idealThreadCount();
    threads = std::clamp(threads, 1, int(std::min<qsizetype>(names.size(), 64)));
    ReadPipeline pipeline(dir, names, threads, keepPassedOver ? PassedOverKeptMax : 0);
    records.reserve(names.size());
    const QString error = pipeline.run(reports, titleItems, records, progress);
    passedOverCut = keepPassedOver && pipeline.cut();
    if (!error.isEmpty()) {
        setError(error);
        return false;
    }
    QHash<SameOkpo, QString> first; // the first file of each summed report and okpo
    for (FileRecord &record : records) {
        if (record.okpo.isEmpty())
            continue;
        const SameOkpo key{record.outputName, record.okpo};
        const auto found = first.constFind(key);
        if (found == first.cend())
            first.insert(key, record.name);
        else
            record.sameOkpoAs = found.value();
    }
    return true;
}

QString Summer::passedOverNote() const
{
    if (!passedOverCut)
        return QString();
    // Thousands set apart by a space, whatever the user's locale.
    const auto grouped = [](qint64 n) {
        QString digits = QString::number(n);
        for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
            digits.insert(at, QLatin1Char(' '));
        return digits;
    };
    qint64 all = 0;
    for (const FileRecord &record : records)
        all += record.valuesPassedOver;
    return QStringLiteral("Примечание: в перечень пропущенных значений вошли первые %1 из %2")
        .arg(grouped(PassedOverKeptMax), grouped(all));
}

QStringList Summer::warnings() const
{
    // Reports sent twice, as readReports() found them: each file that repeats
    // an earlier one's summed report and okpo joins that earlier file's line,
    // and the lines come in the order of their second file.
    QHash<SameOkpo, QStringList> files;
    QList<SameOkpo> twice;
    for (const FileRecord &record : records) {
        if (record.sameOkpoAs.isEmpty())
            continue;
        const SameOkpo key{record.outputName, record.okpo};
        QStringList &names = files[key];
        if (names.isEmpty()) {
            names.append(record.sameOkpoAs);
            twice.append(key);
        }
        names.append(record.name);
    }
    QStringList out;
    for (const SameOkpo &key : std::as_const(twice)) {
        out.append(QStringLiteral("Предупреждение: ОКПО %1 входит в сводный отчет %2 несколько раз: %3")
                       .arg(key.second, key.first, files.value(key).join(QStringLiteral(", "))));
    }
    for (const FileRecord &record : records) {
        if (record.lostNumbers > 0)
            out.append(QStringLiteral("Предупреждение: в файле %1 не учтено чисел: %2")
                           .arg(record.name)
                           .arg(record.lostNumbers));
    }
    return out;
}

RunRecord Summer::runRecord() const
{
    return {records, warnings(), passedOverNote(), reports, titleItems};
}

bool Summer::writeReports(const QString &path, const QString &okpo)
{
    QDir dir(path);
    dir.mkpath(QStringLiteral(".")); // a failure shows when the first file is opened
    if (reports.isEmpty())
        return true;

    // Names are checked before anything is written, so a bad group cannot leave
    // half a run behind: a name must stay inside the folder, and two groups must
    // not share a file on a file system that ignores letter case.
    QSet<QString> taken;
    for (auto it = reports.cbegin(); it != reports.cend(); ++it) {
        const QString name = ReportWriter::fileName(it.key());
        if (hasForbiddenCharacter(name)) {
            setError(QStringLiteral("Недопустимое имя файла: ") + name);
            return false;
        }
        const QString folded = name.toCaseFolded();
        if (taken.contains(folded)) {
            setError(QStringLiteral("Разные отчеты дают одно имя файла: ") + name);
            return false;
        }
        taken.insert(folded);
    }

    const ReportWriter writer(okpo, titleItems);
    // Writing mostly waits for the disk to take each file, so it runs on more
    // threads than there are cores, unless a thread count was set.
    const int threads = std::clamp(readerThreads > 0 ? readerThreads : std::max(QThread::idealThreadCount(), 8),
                                   1, int(std::min<qsizetype>(reports.size(), 16)));
    const int cores = readerThreads > 0 ? readerThreads : QThread::idealThreadCount();
    const QString error = GroupWriter(dir, reports, writer, progress).run(threads, cores);
    if (!error.isEmpty()) {
        setError(error);
        return false;
    }
    return true;
}
