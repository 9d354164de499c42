// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <mutex>

namespace ostrel {

// The stop request of one benchmark run and the gate that every write of the
// run passes through. A write and a stop request exclude each other, so once
// requestStop() has returned the run changes nothing more: no holder, no
// stored value. The flag can be polled without the lock inside hot loops.
class RunControl
{
public:
    // Runs write() unless a stop was requested; returns whether it ran.
    template <class Write>
    bool write(Write&& write)
    {
        std::lock_guard lock(m_mutex);
        if (m_stopRequested.load(std::memory_order_relaxed))
            return false;
        write();
        return true;
    }

    // Marks the run as stopped, waiting for a write under way to finish.
    void requestStop()
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested.store(true, std::memory_order_relaxed);
    }

    // Marks the run as stopped, then runs after() before any write of the
    // run could follow: what after() writes is not overwritten by the run.
    template <class After>
    void requestStop(After&& after)
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested.store(true, std::memory_order_relaxed);
        after();
    }

    bool stopRequested() const noexcept { return m_stopRequested.load(std::memory_order_relaxed); }
    const std::atomic<bool>& stopFlag() const noexcept { return m_stopRequested; }

private:
    std::mutex m_mutex;
    std::atomic<bool> m_stopRequested { false };
};

} // namespace ostrel
