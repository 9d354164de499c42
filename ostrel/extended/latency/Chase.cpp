// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/latency/Chase.h"

#include "platform/OutsideFile.h"

#include <QList>
#include <cstdint>
#include <ctime>
#include <pthread.h>
#include <sys/mman.h>
#include <utility>

namespace ostrel::latency {

namespace {

// How many lines are linked or touched between two looks at the stop.
constexpr qint64 kLinesBetweenStops = qint64(1) << 18;

// splitmix64: fast, and good enough to order lines.
class Random
{
public:
    explicit Random(quint64 seed)
        : m_state(seed)
    {
    }

    quint64 next()
    {
        quint64 z = (m_state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    // Uniform in [0, bound), by Lemire's multiply and reject.
    quint64 below(quint64 bound)
    {
        quint64 x = next();
        unsigned __int128 product = (unsigned __int128)x * bound;
        quint64 low = quint64(product);
        if (low < bound) {
            const quint64 threshold = -bound % bound;
            while (low < threshold) {
                x = next();
                product = (unsigned __int128)x * bound;
                low = quint64(product);
            }
        }
        return quint64(product >> 64);
    }

private:
    quint64 m_state;
};

bool stopped(const Stop& stop)
{
    return stop && stop();
}

} // namespace

bool linkCycle(Line* lines, qint64 count, quint64 seed, const Stop& stop)
{
    for (qint64 i = 0; i < count; ++i)
        lines[i].next = &lines[i];
    Random random(seed);
    // Sattolo: swapping only with a strictly earlier line makes the permutation one cycle.
    for (qint64 i = count - 1; i > 0; --i) {
        const qint64 j = qint64(random.below(quint64(i)));
        std::swap(lines[i].next, lines[j].next);
        if (i % kLinesBetweenStops == 0 && stopped(stop))
            return false;
    }
    return true;
}

Line* chase(Line* from, qint64 loads)
{
    Line* p = from;
    for (qint64 step = 0; step < loads; step += 16) {
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
    }
    return p;
}

std::optional<ChaseBuffer> ChaseBuffer::map(qint64 bytes, Pages pages)
{
    if (bytes <= 0)
        return std::nullopt;
    const qint64 rounded = (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    // One huge page more than asked, so that a 2 MiB boundary lies inside to start from.
    const qint64 mappedBytes = rounded + kHugePageBytes;
    void* mapping = ::mmap(nullptr, size_t(mappedBytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return std::nullopt;
    const auto address = reinterpret_cast<std::uintptr_t>(mapping);
    const std::uintptr_t aligned = (address + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    auto* lines = reinterpret_cast<Line*>(aligned);
    // Without the advice the kernel's own setting decides; with it refused, the pages are what they are.
    ::madvise(lines, size_t(rounded), pages == Pages::Huge ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
    return ChaseBuffer(mapping, mappedBytes, lines, rounded);
}

ChaseBuffer::ChaseBuffer(void* mapping, qint64 mappedBytes, Line* lines, qint64 bytes)
    : m_mapping(mapping)
    , m_mappedBytes(mappedBytes)
    , m_lines(lines)
    , m_bytes(bytes)
{
}

ChaseBuffer::ChaseBuffer(ChaseBuffer&& other) noexcept
    : m_mapping(std::exchange(other.m_mapping, nullptr))
    , m_mappedBytes(std::exchange(other.m_mappedBytes, 0))
    , m_lines(std::exchange(other.m_lines, nullptr))
    , m_bytes(std::exchange(other.m_bytes, 0))
{
}

ChaseBuffer& ChaseBuffer::operator=(ChaseBuffer&& other) noexcept
{
    if (this != &other) {
        if (m_mapping)
            ::munmap(m_mapping, size_t(m_mappedBytes));
        m_mapping = std::exchange(other.m_mapping, nullptr);
        m_mappedBytes = std::exchange(other.m_mappedBytes, 0);
        m_lines = std::exchange(other.m_lines, nullptr);
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

ChaseBuffer::~ChaseBuffer()
{
    if (m_mapping)
        ::munmap(m_mapping, size_t(m_mappedBytes));
}

bool ChaseBuffer::touch(const Stop& stop)
{
    const qint64 count = lineCount();
    for (qint64 i = 0; i < count; ++i) {
        m_lines[i].next = &m_lines[i];
        if (i % kLinesBetweenStops == 0 && stopped(stop))
            return false;
    }
    return true;
}

std::optional<qint64> anonHugePagesBytes(const QByteArray& smapsRollup)
{
    for (const QByteArray& line : smapsRollup.split('\n')) {
        if (!line.startsWith("AnonHugePages:"))
            continue;
        QByteArray figure = line.mid(int(sizeof("AnonHugePages:")) - 1).trimmed();
        if (!figure.endsWith(" kB"))
            return std::nullopt;
        figure.chop(3);
        bool ok = false;
        const qint64 kib = figure.trimmed().toLongLong(&ok);
        if (!ok || kib < 0)
            return std::nullopt;
        return kib * kKiB;
    }
    return std::nullopt;
}

std::optional<qint64> anonHugePagesBytes(const QString& procRoot)
{
    const auto text = platform::readOutsideFile(procRoot + QStringLiteral("/self/smaps_rollup"), 64 * kKiB);
    if (!text)
        return std::nullopt;
    return anonHugePagesBytes(*text);
}

PinnedThread::PinnedThread()
{
    CPU_ZERO(&m_before);
    const int cpu = ::sched_getcpu();
    if (cpu < 0 || ::pthread_getaffinity_np(::pthread_self(), sizeof m_before, &m_before) != 0)
        return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    m_pinned = ::pthread_setaffinity_np(::pthread_self(), sizeof one, &one) == 0;
}

PinnedThread::~PinnedThread()
{
    if (m_pinned)
        ::pthread_setaffinity_np(::pthread_self(), sizeof m_before, &m_before);
}

double threadCpuSeconds()
{
    timespec t {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

} // namespace ostrel::latency
