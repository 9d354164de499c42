// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <array>
#include <optional>

namespace ostrel {

// The extended tests, run after the five tests when the user asks for them.

// The processor workloads that the multi-core test runs, in its order.
inline constexpr std::array<const char*, 3> kMulticoreWorkloads { "int", "double", "pi" };

// Each processor workload run by `threads` copies at once.
struct MulticoreResult
{
    int threads = 0;
    // Seconds from the copies' common start to the end of the last one, in kMulticoreWorkloads order.
    std::array<double, 3> elapsed {};
    // threads × (the same run's single-copy time) / elapsed, per workload.
    std::array<double, 3> speedup {};
    // The geometric mean of the three speed-ups.
    double overall = 0.0;

    friend bool operator==(const MulticoreResult&, const MulticoreResult&) = default;
};

// One fio job's outcome. Rates in MB/s are 10^6 bytes a second.
struct DiskJobResult
{
    double mbps = 0.0;
    // Operations a second; kept for the random jobs only.
    std::optional<double> iops;

    friend bool operator==(const DiskJobResult&, const DiskJobResult&) = default;
};

// The disk test that reaches the disk: four fio jobs on one file.
struct DiskResult
{
    QString folder;
    QString fileSystem;
    // Direct I/O; false when the file system refused it and the jobs went through the page cache.
    bool direct = true;
    qint64 fileBytes = 0;
    DiskJobResult seqRead;
    DiskJobResult seqWrite;
    DiskJobResult randRead;
    DiskJobResult randWrite;

    friend bool operator==(const DiskResult&, const DiskResult&) = default;
};

// The four jobs in the order they run: their name in JSON, in metric labels and on screen.
struct DiskJobKind
{
    const char* key; // "seqRead"
    const char* metricJob; // "seq_read"
    const char16_t* title; // "顺序读取"
    DiskJobResult DiskResult::*result;
    bool random;
};

inline constexpr std::array<DiskJobKind, 4> kDiskJobs { {
    { "seqRead", "seq_read", u"顺序读取", &DiskResult::seqRead, false },
    { "seqWrite", "seq_write", u"顺序写入", &DiskResult::seqWrite, false },
    { "randRead", "rand_read", u"随机读取", &DiskResult::randRead, true },
    { "randWrite", "rand_write", u"随机写入", &DiskResult::randWrite, true },
} };

} // namespace ostrel
