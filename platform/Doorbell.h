// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform {

// Wakes the GUI thread from any thread without handing it any data: the
// ring is a count in an eventfd, and the GUI thread answers by reading what
// it needs from thread-safe holders. Rings coalesce while one is waiting.
//
// Nothing the ringing thread allocated is touched by the GUI thread, and the
// eventfd orders the ring before the answer in a way the thread sanitizer
// follows, unlike Qt's event queue, whose locks it cannot see.
//
// Waking a sleeping thread costs a system call, several microseconds on a
// virtual machine. While someone rings often (a benchmark run), the doorbell
// can poll instead: a ring then only marks it, and the answering thread
// looks at the mark on a timer.
class Doorbell
{
public:
    // answer runs on the thread that makes the doorbell.
    explicit Doorbell(std::function<void()> answer,
        std::chrono::milliseconds pollInterval = std::chrono::milliseconds(16));
    ~Doorbell();

    Doorbell(const Doorbell&) = delete;
    Doorbell& operator=(const Doorbell&) = delete;

    // Cheap and never blocking; from any thread.
    void ring();

    // Polls until every beginPolling() has been matched by an endPolling().
    // beginPolling() on the answering thread; endPolling() from any thread,
    // and what was rung before it is answered.
    void beginPolling();
    void endPolling();
    bool isPolling() const { return m_pollers.load() > 0; }
    // Rung and not answered yet.
    bool isRung() const { return m_rung.load(); }

private:
    void wake();
    void answer();
    void answerIfRung();

    const std::function<void()> m_answer;
    std::atomic<bool> m_rung { false };
    std::atomic<int> m_pollers { 0 };
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_poll;
    // Without an eventfd the ring goes through the event queue instead.
    QObject m_context;
};

} // namespace platform
