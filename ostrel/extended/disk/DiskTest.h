// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ExtendedTest.h"
#include "ostrel/extended/disk/DiskResult.h"

namespace ostrel::disk {

// What the test does, for the programs' --help.
inline constexpr char kHelp[]
    = "a disk test with fio (sequential and random reads and writes on a file of up to 1 GiB, about 30 seconds)";
inline constexpr char kSummary[] = "a disk test with fio in a folder of your choice";

// fio in the setup's folder (FioDisk).
std::unique_ptr<ExtendedTest<DiskResult>> makeTest(const ExtendedSetup& setup);

// "磁盘：顺序读 2900 MB/s，…，随机写 9000 IOPS（37 MB/s）", and "，经过缓存" when buffered.
QString line(const DiskResult& result);
// The folder, its file system, the file's size and how it was read.
QString details(const DiskResult& result, const FinishedRun& run);
// "/srv（ext4），测试文件 1024 MiB", and "，经过缓存".
QString historyTip(const DiskResult& result);
// The run's state text while job `job` of kDiskJobs runs: "正在测试 磁盘 顺序读取".
QString state(std::size_t job);
// Per job: <job>_iops for the random ones, then <job>_mbps.
QList<Figure<DiskResult>> figures();
// folder, fileSystem, direct, fileBytes.
QList<TextColumn<DiskResult>> texts();
// {"folder", "fileSystem", "direct", "fileBytes", "seqRead": {"mbps"}, …, "randRead": {"iops", "mbps"}, …}
QJsonObject toJson(const DiskResult& result);
ExtendedResult<DiskResult> fromJson(const QJsonObject& object);
// ostrel_disk_bytes_per_second{job}, ostrel_disk_iops{job}, ostrel_disk_file_size_bytes, ostrel_disk_info.
QList<MetricFamily> metrics(const DiskResult& result);

} // namespace ostrel::disk
