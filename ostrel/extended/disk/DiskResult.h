// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <array>
#include <optional>

namespace ostrel {

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
    const char16_t* shortTitle; // "顺序读"
    DiskJobResult DiskResult::*result;
    bool random;
};

inline constexpr std::array<DiskJobKind, 4> kDiskJobs { {
    { "seqRead", "seq_read", u"顺序读取", u"顺序读", &DiskResult::seqRead, false },
    { "seqWrite", "seq_write", u"顺序写入", u"顺序写", &DiskResult::seqWrite, false },
    { "randRead", "rand_read", u"随机读取", u"随机读", &DiskResult::randRead, true },
    { "randWrite", "rand_write", u"随机写入", u"随机写", &DiskResult::randWrite, true },
} };

} // namespace ostrel
