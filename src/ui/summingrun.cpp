#include "summingrun.h"

#include <QThread>

namespace {

SummingRun::EngineSetup &engineSetup()
{
    static SummingRun::EngineSetup setup;
    return setup;
}

} // namespace

SummingRun::SummingRun(const QString &inputPath, const QString &outputPath, const QString &okpo,
                       QObject *parent)
    : QObject(parent)
    , inputPath(inputPath)
    , outputPath(outputPath)
    , okpo(okpo)
{
}

SummingRun::~SummingRun()
{
    // The run uses this object's members: it ends before they go.
    stop();
    if (thread)
        thread->wait();
}

void SummingRun::setEngineSetup(const EngineSetup &setup)
{
    engineSetup() = setup;
}

void SummingRun::start()
{
    if (thread)
        return;
    thread = QThread::create([this] { work(); });
    thread->setParent(this);
    // Emitted on the window's thread, once the run's thread has ended.
    connect(thread, &QThread::finished, this, &SummingRun::finished);
    thread->start();
}

void SummingRun::stop()
{
    std::lock_guard lock(mutex);
    stopAsked = true;
    if (engine)
        engine->stop();
}

bool SummingRun::isRunning() const
{
    return thread && !thread->isFinished();
}

SummingRun::Progress SummingRun::progress() const
{
    std::lock_guard lock(mutex);
    return latest;
}

void SummingRun::noteProgress(const Summer::Progress &progress)
{
    std::lock_guard lock(mutex);
    // Reading reports files, writing reports summed reports.
    latest.writing = progress.reports > 0;
    latest.done = latest.writing ? progress.reportsWritten : progress.filesRead;
    latest.all = latest.writing ? progress.reports : progress.files;
}

void SummingRun::work()
{
    Summer summer;
    summer.setProgressHandler([this](const Summer::Progress &progress) { noteProgress(progress); });
    // Told where the summed reports go, the run warns of its own output read
    // back and of summed reports written among the reports.
    summer.setOutput(outputPath, okpo);
    if (const EngineSetup &setup = engineSetup())
        setup(summer);
    {
        std::lock_guard lock(mutex);
        engine = &summer;
        if (stopAsked)
            summer.stop();
    }

    if (!summer.readReports(inputPath)) {
        result = summer.stopped() ? Outcome::StoppedReading : Outcome::ReadFailed;
        errorText = summer.lastError();
    } else {
        groups = summer.reportMap().size();
        const bool ok = summer.writeReports(outputPath, okpo);
        written = summer.reportsWritten();
        if (ok)
            result = Outcome::Done;
        else if (summer.stopped())
            result = Outcome::StoppedWriting;
        else
            result = Outcome::WriteFailed;
        errorText = summer.lastError();
        if (ok && !summer.warnings().isEmpty())
            kept = summer.runRecord();
    }

    std::lock_guard lock(mutex);
    engine = nullptr;
}
