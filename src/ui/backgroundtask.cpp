#include "backgroundtask.h"

#include <utility>

BackgroundTask::BackgroundTask(std::function<void()> work, QObject *parent)
    : QObject(parent)
    , work(std::move(work))
{
}

BackgroundTask::~BackgroundTask()
{
    if (thread.joinable())
        thread.join();
}

void BackgroundTask::start()
{
    if (thread.joinable())
        return;
    running = true;
    thread = std::thread([this] {
        work();
        running = false;
        // Queued to this object's thread; dropped if the task is gone by then.
        QMetaObject::invokeMethod(
            this,
            [this] {
                thread.join();
                emit finished();
            },
            Qt::QueuedConnection);
    });
}
