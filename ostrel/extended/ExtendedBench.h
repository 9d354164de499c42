// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <algorithm>
#include <map>
#include <vector>

// What ostrel-extended-bench measures of each extended test. A test's folder may add a bench of its own
// (add_extended_test_bench() in its CMakeLists.txt, and an ExtendedBench object in the source); the program runs
// them in the table's order.
namespace ostrel::bench {

struct BenchOptions
{
    int repetitions = 3;
    // Where a test that writes files writes them (--disk-folder).
    QString folder;
};

using BenchFunction = void (*)(const BenchOptions& options);

inline std::map<QString, BenchFunction>& extendedBenches()
{
    static std::map<QString, BenchFunction> benches;
    return benches;
}

// Registers a test's bench under the test's key, as a static object in its bench source.
struct ExtendedBench
{
    ExtendedBench(const char* test, BenchFunction bench) { extendedBenches()[QLatin1String(test)] = bench; }
};

// The median of the values, which must not be empty.
inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

} // namespace ostrel::bench
