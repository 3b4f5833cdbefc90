#include "summingrun.h"

#include "backgroundtask.h"

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
    delete task;
}

void SummingRun::setEngineSetup(const EngineSetup &setup)
{
    engineSetup() = setup;
}

void SummingRun::start()
{
    if (task)
        return;
    task = new BackgroundTask([this] { work(); }, this);
    connect(task, &BackgroundTask::finished, this, &SummingRun::finished);
    task->start();
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
    return task && task->isRunning();
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
