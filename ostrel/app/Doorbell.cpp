#include "Doorbell.h"

#include <QSocketNotifier>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace ostrel {

Doorbell::Doorbell(std::function<void()> answer)
    : m_answer(std::move(answer))
    , m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_fd >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &m_context, [this] { this->answer(); });
    }
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
    // Cleared before answering: a change made while the answer reads is
    // rung again, so none is left unshown.
    m_rung.store(false);
    m_answer();
}

} // namespace ostrel
