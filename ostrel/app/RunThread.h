// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace ostrel {

class RunControl;
class Workloads;

// The worker thread of one benchmark run: started at most once, it runs its
// body and can be asked to stop. The body finds its stop gate and its
// workloads through current(), the way a thread body asks its own thread
// whether it was cancelled.
//
// A plain std::thread underneath: its end is joined, so everything the run
// did is ordered before the thread object goes, in a way the thread
// sanitizer can follow (QThread's end is signalled through futexes it
// cannot see).
class RunThread final
{
public:
    // A thread that will never be started: what a controller holds before
    // its first run.
    RunThread();
    RunThread(std::function<void()> body, std::unique_ptr<Workloads> workloads);
    // Stops the run and waits for it; a stopped run ends within a tenth of a
    // second.
    ~RunThread();

    RunThread(const RunThread&) = delete;
    RunThread& operator=(const RunThread&) = delete;

    // The run thread the caller runs on, or nullptr.
    static RunThread* current();

    // Begins the thread and returns at once. Only the first call starts it.
    void start();
    // Started and its body not yet returned.
    bool isRunning() const { return m_started.load() && !isFinished(); }
    // Its body has returned.
    bool isFinished() const { return m_finished.load(std::memory_order_acquire); }

    RunControl& control() { return *m_control; }
    Workloads* workloads() { return m_workloads.get(); }

    // Asks the run to stop without waiting for it.
    void cancel();
    // Asks the run to stop, then runs after() before the run could write
    // anything more: nothing of the run lands after what after() writes.
    void cancel(const std::function<void()>& after);
    bool isCancelled() const;

    // Asks the run to stop and waits for the thread to end.
    void stopAndWait();

private:
    void run();

    std::function<void()> m_body;
    std::unique_ptr<Workloads> m_workloads;
    const std::unique_ptr<RunControl> m_control;
    std::atomic<bool> m_started { false };
    std::atomic<bool> m_finished { false };
    std::thread m_thread;
};

} // namespace ostrel
