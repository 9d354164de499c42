#include "RunThread.h"

#include "RunControl.h"
#include "Workloads.h"

namespace ostrel {

RunThread::RunThread(QObject* parent)
    : RunThread({}, nullptr, parent)
{
}

RunThread::RunThread(std::function<void()> body, std::unique_ptr<Workloads> workloads, QObject* parent)
    : QThread(parent)
    , m_body(std::move(body))
    , m_workloads(std::move(workloads))
    , m_control(std::make_shared<RunControl>())
{
}

RunThread::~RunThread()
{
    // Destroying a running QThread aborts the process; end the run first.
    stopAndWait();
}

RunThread* RunThread::current()
{
    return qobject_cast<RunThread*>(QThread::currentThread());
}

void RunThread::cancel()
{
    m_control->requestStop();
}

void RunThread::cancel(const std::function<void()>& after)
{
    m_control->requestStop(after);
}

bool RunThread::isCancelled() const
{
    return m_control->stopRequested();
}

void RunThread::stopAndWait()
{
    cancel();
    wait();
    // QThread::wait() synchronises through primitives the thread sanitizer
    // cannot see; this acquire pairs with the body's last release.
    (void)hasEnded();
}

void RunThread::run()
{
    if (m_body)
        m_body();
    m_ended.store(true, std::memory_order_release);
}

} // namespace ostrel
