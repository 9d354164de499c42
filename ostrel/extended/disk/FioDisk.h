// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ExtendedTest.h"
#include "ostrel/extended/disk/DiskResult.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>

namespace ostrel::disk {

inline constexpr qint64 kMiB = qint64(1) << 20;
inline constexpr qint64 kLargestTestFile = 1024 * kMiB;
inline constexpr qint64 kSmallestTestFile = 256 * kMiB;
// Free space from which the test file has its full size.
inline constexpr qint64 kRoomForLargestFile = 4 * kLargestTestFile;

// The test file's size for this much free space: 1 GiB, or a quarter of the
// free space in whole MiB below 4 GiB, down to 256 MiB; nothing below that.
std::optional<qint64> testFileBytes(qint64 freeBytes);

// An error number the system gave.
struct SystemError
{
    int number = 0;
};

// Bytes an unprivileged user may still write in folder (statvfs), or why
// that cannot be asked.
platform::Result<qint64, SystemError> freeBytesIn(const QString& folder);

// fio's arguments for one of the four jobs (an index into kDiskJobs) on
// `file`, the report in JSON on standard output, the job a thread of fio's
// one process.
QStringList fioJobArguments(std::size_t job, const QString& file, qint64 fileBytes, bool direct,
                            std::chrono::milliseconds runtime, std::chrono::milliseconds ramp);

// Removes the private folders that disk tests killed before `before` left in
// `folder`: only this user's, only by the test's own name and never through a
// link, and in them only the files the test makes. For the next run, while it
// holds the run lock.
void removeLeftFolders(const QString& folder, std::chrono::system_clock::time_point before);
// The same, and removeLeftScratchFile(), for the folders of a run: the five
// tests' scratch folder and the disk test's folder (either may be empty).
void removeLeftovers(const QString& scratchFolder, const QString& diskFolder,
                     std::chrono::system_clock::time_point before);

// The disk test: fio's four jobs one after another on one file, with direct
// I/O where the file system takes it. The file, fio's report and its errors
// lie in a folder of the test's own inside the chosen one ("ostrel-disk-"
// and six characters, mode 0700), where no one else can put a link in their
// place; fio runs in that folder and dies with the thread that started it.
// The folder and all in it are removed when the test ends, however it ends;
// removeLeftFolders() takes what a killed process left.
class FioDisk final : public ExtendedTest<DiskResult>
{
public:
    struct Options
    {
        QString folder;
        QString fio = QStringLiteral("fio");
        // Each job's measured time, after its ramp.
        std::chrono::milliseconds runtime { 5000 };
        std::chrono::milliseconds ramp { 1000 };
        // A file of this size whatever the free space (for short test runs).
        std::optional<qint64> fileBytes = {};
        // The free space of a folder; freeBytesIn() when empty.
        std::function<platform::Result<qint64, SystemError>(const QString& folder)> freeSpace = {};
        // How the test file is made in the test's folder to learn whether
        // direct I/O is taken; ::openat when empty. Returns a descriptor, or
        // -1 with errno set.
        std::function<int(int folder, const char* name, int flags)> open = {};
    };

    explicit FioDisk(Options options);

    // The test file's name in the test's folder.
    static QString fileName();
    // The test's folder is this and six more characters.
    static QString folderPrefix();

    std::size_t steps() const override { return kDiskJobs.size(); }
    // Each job a step, its state text "正在测试 磁盘 顺序读取".
    ExtendedResult<DiskResult> run(const FinishedRun& finished, const std::atomic<bool>& stop,
                                   ExtendedProgress& progress) override;

private:
    Options m_;
};

} // namespace ostrel::disk
