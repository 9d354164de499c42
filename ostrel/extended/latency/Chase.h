// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>
#include <sched.h>

// The pointer chase the memory-latency measurement times: one pointer per cache line in a single random cycle,
// followed one dependent load after another, so that no load can start before the one before it ended.
namespace ostrel::latency {

inline constexpr qint64 kKiB = qint64(1) << 10;
inline constexpr qint64 kMiB = qint64(1) << 20;
inline constexpr qint64 kLineBytes = 64;
inline constexpr qint64 kHugePageBytes = 2 * kMiB;

// Asked between chunks of work: true ends the work soon.
using Stop = std::function<bool()>;

// One cache line: where the chase goes next.
struct alignas(kLineBytes) Line
{
    Line* next;
    char padding[kLineBytes - sizeof(Line*)];
};
static_assert(sizeof(Line) == kLineBytes);

// Links lines[0, count) into one cycle through every line in random order: Sattolo's shuffle of the identity, which
// only ever makes a single cycle, so the chase cannot fall into a short loop that stays in the cache. The same seed
// gives the same cycle. False when stop asked for it (the lines are then no cycle).
bool linkCycle(Line* lines, qint64 count, quint64 seed, const Stop& stop = {});

// Follows `loads` pointers from `from` (rounded up to a multiple of 16, the loads of one loop step) and returns the
// line it ended on.
Line* chase(Line* from, qint64 loads);

enum class Pages {
    // madvise(MADV_HUGEPAGE) on a buffer aligned to 2 MiB: few TLB misses.
    Huge,
    // madvise(MADV_NOHUGEPAGE): a TLB miss on most loads of a large working set.
    Small,
};

// Anonymous memory for the chase, mapped with the pages asked for and unmapped when it goes.
class ChaseBuffer
{
public:
    // At least `bytes`, in whole 2 MiB; nothing when the memory cannot be had.
    static std::optional<ChaseBuffer> map(qint64 bytes, Pages pages);

    ChaseBuffer(ChaseBuffer&& other) noexcept;
    ChaseBuffer& operator=(ChaseBuffer&& other) noexcept;
    ChaseBuffer(const ChaseBuffer&) = delete;
    ChaseBuffer& operator=(const ChaseBuffer&) = delete;
    ~ChaseBuffer();

    Line* lines() const { return m_lines; }
    qint64 lineCount() const { return m_bytes / kLineBytes; }

    // Writes every line, so that each page is there before a load is timed. False when stop asked for it.
    bool touch(const Stop& stop = {});

private:
    ChaseBuffer(void* mapping, qint64 mappedBytes, Line* lines, qint64 bytes);

    void* m_mapping = nullptr;
    qint64 m_mappedBytes = 0;
    Line* m_lines = nullptr;
    qint64 m_bytes = 0;
};

// The AnonHugePages figure of a smaps_rollup text, in bytes.
std::optional<qint64> anonHugePagesBytes(const QByteArray& smapsRollup);

// The process's memory on transparent huge pages, from <procRoot>/self/smaps_rollup.
std::optional<qint64> anonHugePagesBytes(const QString& procRoot);

// Keeps the calling thread on the CPU it runs on while it lives, then lets it run on the CPUs it had before. Where
// either cannot be asked for, the thread runs as it did.
class PinnedThread
{
public:
    PinnedThread();
    ~PinnedThread();
    PinnedThread(const PinnedThread&) = delete;
    PinnedThread& operator=(const PinnedThread&) = delete;

private:
    cpu_set_t m_before;
    bool m_pinned = false;
};

// Seconds the calling thread spent on a CPU (CLOCK_THREAD_CPUTIME_ID).
double threadCpuSeconds();

} // namespace ostrel::latency
