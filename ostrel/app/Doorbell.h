#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace ostrel {

// Wakes the GUI thread from any thread without handing it any data: the
// ring is a count in an eventfd, and the GUI thread answers by reading what
// it needs from thread-safe holders. Rings coalesce while one is waiting.
//
// Nothing the ringing thread allocated is touched by the GUI thread, and the
// eventfd orders the ring before the answer in a way the thread sanitizer
// follows, unlike Qt's event queue, whose locks it cannot see.
class Doorbell
{
public:
    // answer runs on the thread that makes the doorbell.
    explicit Doorbell(std::function<void()> answer);
    ~Doorbell();

    Doorbell(const Doorbell&) = delete;
    Doorbell& operator=(const Doorbell&) = delete;

    // Cheap and never blocking; from any thread.
    void ring();

private:
    void answer();

    const std::function<void()> m_answer;
    std::atomic<bool> m_rung { false };
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    // Without an eventfd the ring goes through the event queue instead.
    QObject m_context;
};

} // namespace ostrel
