// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the memory-bandwidth test against a bare OpenMP copy and triad in C (bare_stream.c), compiled with the
// same flags and run with the same threads and array size, taking turns so that both see the machine alike.
// Prints each round, the medians, the ratio of the medians and the median of the rounds' ratios (the two runs of a
// round follow each other, so their ratio is steadier where the machine's speed wanders). Run by hand:
// ostrel-bandwidth-bench [rounds]
#include "bench/bandwidth/bare_stream.h"
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/extended/bandwidth/MemoryBandwidth.h"
#include "platform/UsableCpus.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace ostrel::bandwidth;
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    Options options;
    options.threads = platform::usableCpuCount();
    const Result<ArraySize> size = arraySize(options);
    if (!size) {
        std::fprintf(stderr, "%s\n", qPrintable(size.error().message));
        return 1;
    }
    // The same size for both, whatever memory becomes available meanwhile.
    options.arrayBytes = size->bytes;
    const long elements = long(size->bytes / qint64(sizeof(double)));
    std::printf("Memory bandwidth, %d threads, 3 arrays of %lld MiB%s, best of %d passes, %d rounds\n", options.threads,
                size->bytes / kMiB, size->reduced ? " (reduced)" : "", options.passes, rounds);
    std::printf("  %6s %12s %10s %6s %13s %10s %6s   (GB/s)\n", "round", "Ostrel copy", "bare copy", "ratio",
                "Ostrel triad", "bare triad", "ratio");

    std::vector<double> ostrelCopy, bareCopy, ostrelTriad, bareTriad, copyRatio, triadRatio;
    const std::atomic<bool> stop { false };
    for (int round = 0; round < rounds; ++round) {
        double copy = 0.0;
        double triad = 0.0;
        ostrel::MemoryBandwidthResult measuredOstrel;
        // Each goes first every other round.
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + round) % 2 == 0) {
                const Result<ostrel::MemoryBandwidthResult> measured = measureMemoryBandwidth(options, stop);
                if (!measured) {
                    std::fprintf(stderr, "%s\n", qPrintable(measured.error().message));
                    return 1;
                }
                measuredOstrel = *measured;
            } else if (bare_stream(elements, options.threads, options.passes, &copy, &triad) != 0) {
                std::fprintf(stderr, "bare loops: no memory or wrong results\n");
                return 1;
            }
        }
        ostrelCopy.push_back(measuredOstrel.copyGbps);
        bareCopy.push_back(copy);
        ostrelTriad.push_back(measuredOstrel.triadGbps);
        bareTriad.push_back(triad);
        copyRatio.push_back(measuredOstrel.copyGbps / copy);
        triadRatio.push_back(measuredOstrel.triadGbps / triad);
        std::printf("  %6d %12.2f %10.2f %6.3f %13.2f %10.2f %6.3f\n", round + 1, measuredOstrel.copyGbps, copy,
                    copyRatio.back(), measuredOstrel.triadGbps, triad, triadRatio.back());
    }
    std::printf("  %6s %12.2f %10.2f %6.3f %13.2f %10.2f %6.3f\n", "median", median(ostrelCopy), median(bareCopy),
                median(copyRatio), median(ostrelTriad), median(bareTriad), median(triadRatio));
    std::printf("Ostrel / bare, ratio of the medians: copy %.3f, triad %.3f\n", median(ostrelCopy) / median(bareCopy),
                median(ostrelTriad) / median(bareTriad));
    std::printf("Ostrel / bare, median of the rounds' ratios: copy %.3f, triad %.3f\n", median(copyRatio),
                median(triadRatio));
    return 0;
}
