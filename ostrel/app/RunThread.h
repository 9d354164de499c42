#pragma once

#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

namespace ostrel {

class RunControl;
class Workloads;

// The worker thread of one benchmark run: started at most once, it runs its
// body and can be asked to stop. The body finds its stop gate and its
// workloads through current(), the way a thread body asks its own thread
// whether it was cancelled.
class RunThread final : public QThread
{
    Q_OBJECT

public:
    // A thread that will never be started: what a controller holds before
    // its first run.
    explicit RunThread(QObject* parent = nullptr);
    RunThread(std::function<void()> body, std::unique_ptr<Workloads> workloads, QObject* parent = nullptr);
    ~RunThread() override;

    // The run thread the caller runs on, or nullptr.
    static RunThread* current();

    RunControl& control() { return *m_control; }
    Workloads* workloads() { return m_workloads.get(); }

    // Asks the run to stop without waiting for it.
    void cancel();
    // Asks the run to stop, then runs after() before the run could write
    // anything more: nothing of the run lands after what after() writes.
    void cancel(const std::function<void()>& after);
    bool isCancelled() const;

    // True once the body has returned and the thread touches nothing of ours.
    bool hasEnded() const { return m_ended.load(std::memory_order_acquire); }
    // Stops the run and waits for the thread to end.
    void stopAndWait();

protected:
    void run() override;

private:
    std::function<void()> m_body;
    std::unique_ptr<Workloads> m_workloads;
    const std::shared_ptr<RunControl> m_control;
    std::atomic<bool> m_ended { false };
};

} // namespace ostrel
