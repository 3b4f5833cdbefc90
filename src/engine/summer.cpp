// A run's outline: the folder is listed, its files read on several threads
// and added to the store in list order (readpipeline), the reports sent twice
// are noted, and the summed reports are written, each whole or not at all
// (groupwriter). What the user is told comes from messages.

#include "summer.h"

#include "groupwriter.h"
#include "messages.h"
#include "readpipeline.h"
#include "reportwriter.h"
#include "resolvedpath.h"

#include <QDir>
#include <QHash>
#include <QThread>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// The report files of a folder: entries named *.xml in any letter case, hidden ones
// left out, sorted by their lower-cased names, code unit by code unit. Names that
// differ only in case keep a fixed order too. Entries of every kind are listed
// (a sub-folder, a FIFO, a dangling link); the reading passes over all but files.
//
// The names are matched here rather than by QDir's name filters, which match
// through QRegularExpression: that leaves a PCRE2 stack in a thread_local of
// the calling thread, and with MinGW's emulated thread-local storage its
// destructor runs after the storage is freed, so a Windows program that lists
// the folder on a thread of its own crashes or hangs when that thread ends.
QStringList listReports(const QDir &dir)
{
    QStringList names = dir.entryList(QDir::Files | QDir::Dirs | QDir::System | QDir::NoDotAndDotDot,
                                      QDir::Unsorted);
    std::vector<std::pair<QString, QString>> keyed;
    keyed.reserve(std::size_t(names.size()));
    for (const QString &name : std::as_const(names)) {
        if (name.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive))
            keyed.emplace_back(name.toLower(), name);
    }
    std::sort(keyed.begin(), keyed.end());
    names.clear();
    for (auto &k : keyed)
        names.append(std::move(k.second));
    return names;
}

// A summed report's file name and an okpo: files that share both are one
// branch's report sent twice.
using SameOkpo = std::pair<QString, QString>;

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
        setError(messages::noSourceFolder());
        return false;
    }
    const QStringList names = listReports(dir);
    if (names.isEmpty()) {
        setError(messages::noReportFiles());
        return false;
    }

    int threads = readerThreads > 0 ? readerThreads : QThread::idealThreadCount();
    threads = std::clamp(threads, 1, int(std::min<qsizetype>(names.size(), 64)));
    ReadPipeline pipeline(dir, names, threads, keepPassedOver ? PassedOverKeptMax : 0, &stopAsked);
    records.reserve(names.size());
    const QString error = pipeline.run(reports, titleItems, records, steps());
    passedOverCut = keepPassedOver && pipeline.cut();
    if (pipeline.stopped()) {
        wasStopped = true;
        return false;
    }
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
    if (outputGiven) {
        // A summed report carries the head organisation's code as it was given:
        // a file with that okpo under its own summed report's name is one. A
        // head office's own report has that okpo too, but a name of its own.
        for (FileRecord &record : records) {
            record.looksSummed = !headOkpo.isEmpty() && record.hasOkpo && record.okpo == headOkpo
                && !record.outputName.isEmpty() && record.name.toCaseFolded() == record.outputName.toCaseFolded();
        }
        intoInputFolder = resolvedPath(path) == resolvedPath(outputPath);
    }
    return true;
}

void Summer::setOutput(const QString &path, const QString &okpo)
{
    outputGiven = true;
    outputPath = path;
    headOkpo = okpo;
}

QString Summer::passedOverNote() const
{
    if (!passedOverCut)
        return QString();
    qint64 all = 0;
    for (const FileRecord &record : records)
        all += record.valuesPassedOver;
    return messages::passedOverCut(PassedOverKeptMax, all);
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
    for (const SameOkpo &key : std::as_const(twice))
        out.append(messages::sameOkpo(key.second, key.first, files.value(key)));
    for (const FileRecord &record : records) {
        if (record.lostNumbers > 0)
            out.append(messages::lostNumbers(record.name, record.lostNumbers));
    }
    for (const FileRecord &record : records) {
        if (record.looksSummed)
            out.append(messages::earlierSum(record.name, record.okpo));
    }
    // Nothing to sum writes no summed report, into the folder read or not.
    if (intoInputFolder && !reports.isEmpty())
        out.append(messages::intoInputFolder());
    return out;
}

RunRecord Summer::runRecord() const
{
    return {records, warnings(), passedOverNote(), reports, titleItems};
}

std::function<void(const Summer::Progress &)> Summer::steps() const
{
    if (!stepHook)
        return progress;
    return [this](const Progress &done) {
        if (progress)
            progress(done);
        stepHook();
    };
}

bool Summer::writeReports(const QString &path, const QString &okpo)
{
    written = 0;
    // Stopped before writing began: not even the folder is made.
    if (stopAsked.load()) {
        wasStopped = true;
        return false;
    }
    QDir dir(path);
    dir.mkpath(QStringLiteral(".")); // a failure shows when the first file is opened
    if (reports.isEmpty())
        return true;

    const QString badName = GroupWriter::nameError(reports);
    if (!badName.isEmpty()) {
        setError(badName);
        return false;
    }

    const ReportWriter writer(okpo, titleItems);
    // Writing mostly waits for the disk to take each file, so it runs on more
    // threads than there are cores, unless a thread count was set.
    const int threads = std::clamp(readerThreads > 0 ? readerThreads : std::max(QThread::idealThreadCount(), 8),
                                   1, int(std::min<qsizetype>(reports.size(), 16)));
    const int cores = readerThreads > 0 ? readerThreads : QThread::idealThreadCount();
    GroupWriter groups(dir, reports, writer, steps(), &stopAsked);
    const QString error = groups.run(threads, cores);
    written = qsizetype(groups.written());
    if (groups.stopped()) {
        wasStopped = true;
        return false;
    }
    if (!error.isEmpty()) {
        setError(error);
        return false;
    }
    return true;
}
