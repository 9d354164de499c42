// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/app/RunThread.h"

#include "ostrel/engine/RunControl.h"
#include "ostrel/engine/Workloads.h"

namespace ostrel {

namespace {
thread_local RunThread* t_current = nullptr;
}

RunThread::RunThread()
    : RunThread({}, nullptr)
{
}

RunThread::RunThread(std::function<void()> body, std::unique_ptr<Workloads> workloads)
    : m_body(std::move(body))
    , m_workloads(std::move(workloads))
    , m_control(std::make_unique<RunControl>())
{
}

RunThread::~RunThread()
{
    stopAndWait();
}

RunThread* RunThread::current()
{
    return t_current;
}

void RunThread::start()
{
    if (m_started.exchange(true))
        return;
    m_thread = std::thread([this] { run(); });
}

void RunThread::run()
{
    t_current = this;
    if (m_body)
        m_body();
    t_current = nullptr;
    m_finished.store(true, std::memory_order_release);
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
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace ostrel
