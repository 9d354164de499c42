// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Doorbell.h"

#include <QSocketNotifier>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

Doorbell::Doorbell(std::function<void()> answer, std::chrono::milliseconds pollInterval)
    : m_answer(std::move(answer))
    , m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_fd >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &m_context, [this] { this->answer(); });
    }
    m_poll.setInterval(pollInterval);
    QObject::connect(&m_poll, &QTimer::timeout, &m_context, [this] { answerIfRung(); });
}

Doorbell::~Doorbell()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

void Doorbell::ring()
{
    if (m_rung.exchange(true))
        return;
    if (m_pollers.load() == 0)
        wake();
}

void Doorbell::beginPolling()
{
    if (m_pollers.fetch_add(1) == 0)
        m_poll.start();
}

void Doorbell::endPolling()
{
    // The answering thread stops its timer when it answers this wake.
    if (m_pollers.fetch_sub(1) == 1)
        wake();
}

void Doorbell::wake()
{
    if (m_fd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_fd, &one, sizeof one);
    } else {
        QMetaObject::invokeMethod(
            &m_context, [this] { answer(); }, Qt::QueuedConnection);
    }
}

void Doorbell::answer()
{
    if (m_fd >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(m_fd, &count, sizeof count);
    }
    if (m_pollers.load() == 0)
        m_poll.stop();
    // Cleared before answering: a change made while the answer reads is
    // rung again, so none is left unshown.
    m_rung.store(false);
    m_answer();
}

void Doorbell::answerIfRung()
{
    if (m_rung.exchange(false))
        m_answer();
}

} // namespace platform
