#ifndef BACKGROUNDTASK_H
#define BACKGROUNDTASK_H

#include <QObject>

#include <atomic>
#include <functional>
#include <thread>

// Runs one function on a thread of its own; finished() comes on the thread
// the task belongs to, once the function has returned. A std::thread rather
// than a QThread: a summing run on a QThread that starts the engine's own
// reading threads kept the Windows program from ending (it hung while the
// C++ runtime was unloaded, seen under Wine with MinGW's runtime), and a
// std::thread, as the engine's own threads are, does not.
class BackgroundTask : public QObject
{
    Q_OBJECT

public:
    explicit BackgroundTask(std::function<void()> work, QObject *parent = nullptr);
    // Waits for the function to return.
    ~BackgroundTask() override;

    void start();
    // From start() until the function has returned.
    bool isRunning() const { return running.load(); }

signals:
    void finished();

private:
    std::function<void()> work;
    std::thread thread;
    std::atomic<bool> running = false;
};

#endif // BACKGROUNDTASK_H
