// SPDX-License-Identifier: GPL-3.0-or-later
// Times the memory-latency measurement's whole sweep (both curves) and prints it; then measures the sizes its
// figures are read at (half of each cache level, four times the last-level cache) through Ostrel and through a bare
// pointer chase in C (bare_chase.c, the same flags and method), taking turns so that both see the machine alike,
// with the median of the rounds' ratios per level; then a sequential walk of the same sizes, which the prefetchers
// hide, to show why the cycle is random. Run by hand: ostrel-latency-bench [rounds]
#include "bench/latency/bare_chase.h"
#include "ostrel/extended/latency/Latency.h"
#include "platform/Clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace ostrel::latency;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

struct Level
{
    const char* name;
    qint64 bytes;
};

// Where the figures are read on this machine, as far as a quarter of the memory allows.
std::vector<Level> levels(const std::vector<CacheLevel>& layout, qint64 largest)
{
    std::vector<Level> found;
    const char* names[] = { "L1", "L2", "L3" };
    for (int level = 1; level <= 3; ++level) {
        for (const CacheLevel& cache : layout) {
            if (cache.level == level && cache.type != CacheLevel::Type::Instruction) {
                found.push_back({ names[level - 1], cache.bytes / 2 / kLineBytes * kLineBytes });
                break;
            }
        }
    }
    if (const std::optional<qint64> last = lastLevelCacheBytes(layout); last && 4 * *last <= largest)
        found.push_back({ "memory", 4 * *last });
    return found;
}

// bare_chase_ns() with the measurement's own loads and passes.
double bareChase(qint64 bytes, bool sequential, double* onCpuShare)
{
    const Options defaults;
    return bare_chase_ns(size_t(bytes), sequential ? 1 : 0, defaults.passSeconds, long(defaults.leastLoads),
                         long(defaults.mostLoads), defaults.passes, onCpuShare);
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const Options defaults;
    platform::MonotonicClock clock;

    // The whole sweep, as the test runs it.
    const double start = clock.now();
    const double cpuStart = threadCpuSeconds();
    const auto sweep = measureLatency(defaults);
    const double wall = clock.now() - start;
    const double cpu = threadCpuSeconds() - cpuStart;
    if (!sweep) {
        std::fprintf(stderr, "%s\n", qPrintable(sweep.error().message));
        return 1;
    }
    std::printf("Sweep of both curves: %.2f s wall, %.2f s on the CPU, %zu points a curve, huge pages %s%s\n", wall,
                cpu, sweep->curves.front().points.size(), sweep->hugePages ? "taken" : "NOT taken",
                sweep->reduced ? ", reduced to fit memory" : "");
    std::printf("  %12s", "working set");
    for (const Curve& curve : sweep->curves)
        std::printf(" %26s", qPrintable(curve.name));
    std::printf("   (ns a load, on-CPU share, * disturbed)\n");
    for (std::size_t i = 0; i < sweep->curves.front().points.size(); ++i) {
        std::printf("  %12s", qPrintable(bytesText(sweep->curves.front().points[i].bytes)));
        for (const Curve& curve : sweep->curves) {
            const Point& point = curve.points[i];
            std::printf(" %18.2f %5.2f%s", point.seconds * 1e9, point.onCpuShare, point.disturbed ? "*" : " ");
        }
        std::printf("\n");
    }
    std::printf("%s\n%s\n", qPrintable(summaryText(*sweep)), qPrintable(toolTipText(*sweep)));

    // The same sweep with every point taken at its first reading, as on an idle machine: the CPU time it takes is
    // about the wall time it would take there.
    Options once;
    once.cpuSeconds = [&clock] { return clock.now(); };
    const double onceStart = clock.now();
    const double onceCpuStart = threadCpuSeconds();
    if (!measureLatency(once))
        return 1;
    std::printf("Sweep of both curves with no remeasures: %.2f s wall, %.2f s on the CPU\n", clock.now() - onceStart,
                threadCpuSeconds() - onceCpuStart);

    // The figures' sizes through Ostrel and through the bare chase, taking turns.
    const std::vector<Level> sizes = levels(cacheLayout(defaults.sysRoot), sweep->curves.front().points.back().bytes);
    std::printf("\nOstrel against the bare C chase (huge pages), %d rounds   (ns a load)\n", rounds);
    std::printf("  %6s %12s %6s %10s %10s %6s\n", "round", "level", "", "Ostrel", "bare", "ratio");
    std::vector<std::vector<double>> ostrel(sizes.size()), bare(sizes.size()), ratios(sizes.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t s = 0; s < sizes.size(); ++s) {
            double ours = 0.0;
            double theirs = 0.0;
            for (int turn = 0; turn < 2; ++turn) {
                if ((turn + round + int(s)) % 2 == 0) {
                    Options options;
                    options.workingSets = std::vector<qint64> { sizes[s].bytes };
                    options.smallPages = false;
                    const auto point = measureLatency(options);
                    if (!point) {
                        std::fprintf(stderr, "%s\n", qPrintable(point.error().message));
                        return 1;
                    }
                    ours = point->curves.front().points.front().seconds * 1e9;
                } else {
                    // The same remeasures while the thread had too little of the CPU.
                    bool noMemory = false;
                    const std::optional<Point> point = settledPoint(sizes[s].bytes, [&]() -> std::optional<Reading> {
                        double share = 0.0;
                        const double ns = bareChase(sizes[s].bytes, false, &share);
                        noMemory = noMemory || ns < 0.0;
                        return Reading { ns * 1e-9, share };
                    });
                    if (noMemory || !point) {
                        std::fprintf(stderr, "bare chase: no memory\n");
                        return 1;
                    }
                    theirs = point->seconds * 1e9;
                }
            }
            ostrel[s].push_back(ours);
            bare[s].push_back(theirs);
            ratios[s].push_back(ours / theirs);
            std::printf("  %6d %12s %6s %10.2f %10.2f %6.3f\n", round + 1, sizes[s].name,
                        qPrintable(bytesText(sizes[s].bytes)), ours, theirs, ours / theirs);
        }
    }
    std::printf("  %6s\n", "median");
    for (std::size_t s = 0; s < sizes.size(); ++s)
        std::printf("  %6s %12s %6s %10.2f %10.2f %6.3f\n", "", sizes[s].name, qPrintable(bytesText(sizes[s].bytes)),
                    median(ostrel[s]), median(bare[s]), median(ratios[s]));

    // The same sizes walked in address order: the prefetchers fetch ahead, so the method matters.
    std::printf("\nSequential walk of the same sizes (bare C, huge pages)   (ns a load)\n");
    std::printf("  %12s %6s %12s %12s\n", "level", "", "sequential", "random");
    for (std::size_t s = 0; s < sizes.size(); ++s) {
        std::vector<double> walks;
        double share = 0.0;
        for (int round = 0; round < rounds; ++round)
            walks.push_back(bareChase(sizes[s].bytes, true, &share));
        std::printf("  %12s %6s %12.2f %12.2f\n", sizes[s].name, qPrintable(bytesText(sizes[s].bytes)), median(walks),
                    median(bare[s]));
    }

    // How soon a stop ends the sweep, asked for at several moments.
    std::printf("\nStop requested during the sweep   (s from the request to the return)\n");
    for (const double after : { 0.3, 1.0, 2.5, 5.0 }) {
        std::atomic<bool> stop { false };
        Options options;
        options.stop = [&stop] { return stop.load(std::memory_order_relaxed); };
        double returned = 0.0;
        std::thread sweeper([&] {
            const auto stopped = measureLatency(options);
            returned = clock.now();
            if (stopped)
                std::printf("  the sweep ended before the stop\n");
        });
        std::this_thread::sleep_for(std::chrono::duration<double>(after));
        const double asked = clock.now();
        stop = true;
        sweeper.join();
        std::printf("  after %4.1f s: %.3f s\n", after, returned - asked);
    }
    return 0;
}
