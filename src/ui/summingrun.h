#ifndef SUMMINGRUN_H
#define SUMMINGRUN_H

#include "runrecord.h"
#include "summer.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>

class QThread;

// One press of "Старт!": reads and writes through a fresh Summer on a thread
// of its own, so that the window goes on answering, repainting and showing
// how far the run has come. Made, started, stopped and read on the window's
// thread; finished() says when the outcome is there.
class SummingRun : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Running,
        ReadFailed,     // reading failed: error() says why, nothing was written
        WriteFailed,    // writing failed: error() says why
        StoppedReading, // stopped before anything was written
        StoppedWriting, // stopped while writing: reportsWritten() of reports() are in place
        Done,
    };

    SummingRun(const QString &inputPath, const QString &outputPath, const QString &okpo,
               QObject *parent = nullptr);
    // A run still going is stopped, and waited for: it leaves only whole files.
    ~SummingRun() override;

    void start();
    // Ends the run at the next file it reads or summed report it writes; may
    // be called at any time, also before start() and after the end.
    void stop();
    bool isRunning() const;

    // How far the run has come, as the engine last said.
    struct Progress
    {
        bool writing = false;
        qsizetype done = 0; // files read, or summed reports written, of
        qsizetype all = 0;
    };
    Progress progress() const;

    // Once finished() has come:
    Outcome outcome() const { return result; }
    QString error() const { return errorText; }
    qsizetype reportsWritten() const { return written; }
    qsizetype reports() const { return groups; }
    // What the run produced, kept only when it has warnings (the window then
    // shows them and offers the workbook); otherwise empty.
    const RunRecord &record() const { return kept; }

    // For tests: called with each run's Summer before it reads, on the run's
    // thread, e.g. to slow it down between files. An empty function removes it.
    using EngineSetup = std::function<void(Summer &)>;
    static void setEngineSetup(const EngineSetup &setup);

signals:
    void finished();

private:
    void work();
    void noteProgress(const Summer::Progress &progress);

    const QString inputPath;
    const QString outputPath;
    const QString okpo;
    QThread *thread = nullptr;

    mutable std::mutex mutex; // guards engine, stopAsked and latest
    Summer *engine = nullptr; // while the run's Summer exists
    bool stopAsked = false;
    Progress latest;

    // Written by the run's thread before it ends, read after finished().
    Outcome result = Outcome::Running;
    QString errorText;
    qsizetype written = 0;
    qsizetype groups = 0;
    RunRecord kept;
};

#endif // SUMMINGRUN_H
