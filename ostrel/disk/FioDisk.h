// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ExtendedRun.h"

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

// Bytes an unprivileged user may still write in folder (statvfs); nothing
// when it cannot be asked, with the error number in `error`.
std::optional<qint64> freeBytesIn(const QString& folder, int& error);

// fio's arguments for one of the four jobs (an index into kDiskJobs) on
// `file`, the report in JSON on standard output.
QStringList fioJobArguments(std::size_t job, const QString& file, qint64 fileBytes, bool direct,
                            std::chrono::milliseconds runtime, std::chrono::milliseconds ramp);

// The disk test: fio's four jobs one after another on one file in a folder,
// with direct I/O where the file system takes it. The file is removed when
// the test ends, however it ends.
class FioDisk final : public DiskTest
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
        std::function<std::optional<qint64>(const QString& folder, int& error)> freeSpace = {};
        // How the test file is opened to learn whether direct I/O is taken;
        // ::open when empty. Returns a descriptor, or -1 with errno set.
        std::function<int(const char* path, int flags)> open = {};
    };

    explicit FioDisk(Options options);

    // The test file's name in the folder.
    static QString fileName();

    Outcome run(const std::atomic<bool>& stop, const Progress& progress) override;

private:
    Options m_;
};

} // namespace ostrel::disk
