#ifndef WORKERTHREAD_H
#define WORKERTHREAD_H

#include <QThread>

#include <functional>
#include <utility>

// A thread that runs one function, then ends; QThread::finished() comes on
// the thread that owns it once the function has returned.
class WorkerThread : public QThread
{
public:
    explicit WorkerThread(std::function<void()> work, QObject *parent = nullptr)
        : QThread(parent)
        , work(std::move(work))
    {
    }
    // Waits for the function to return.
    ~WorkerThread() override { wait(); }

protected:
    void run() override { work(); }

private:
    std::function<void()> work;
};

#endif // WORKERTHREAD_H
