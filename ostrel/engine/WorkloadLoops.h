// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The loops of the five workloads, written once. The shipped workloads
// (Workloads.cpp) instantiate them with NoProbe, whose hooks compile to
// nothing; tests instantiate the same loops with probes that count.

#include "ostrel/engine/PayloadText.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::loops {

// The whole part of 2^32 / 50.
inline constexpr std::uint32_t kIntegerBound = 0x51EB851u; // 85,899,345
inline constexpr double kFloatingPointBound = 85899.345;
inline constexpr double kFloatingPointStep = 0.001;
// The largest signed 32-bit value, compared as unsigned.
inline constexpr std::uint32_t kPiBound = 0x7FFFFFFFu;
inline constexpr std::uint32_t kMemoryCounterEnd = 5000000u; // 2,500,000 cycles of 2
inline constexpr std::uint32_t kDiskCounterEnd = 1000u; // 500 cycles of 2

// How often the long loops look at the stop flag: a few milliseconds of work
// between looks, a single relaxed load each time.
inline constexpr std::uint32_t kFloatingPointAdditionsPerStopCheck = 1u << 20;
inline constexpr std::uint32_t kPiPassesPerStopCheck = 1u << 20;
inline constexpr std::uint32_t kMemoryCyclesPerStopCheck = 1u << 12;

struct NoProbe
{
    void iteration() { }
    void piPass(std::uint32_t /*subtractedDenominator*/) { }
    void made(const QString& /*text*/) { }
    void written(bool /*succeeded*/) { }
    void read(const QByteArray& /*contents*/, bool /*succeeded*/) { }
};

// Volatile locals keep every iteration: the build must perform each load and
// store, so no loop can be shortened, folded into a formula or vectorised.
template <class Probe> inline std::uint32_t integerLoop(Probe& probe)
{
    volatile std::uint32_t counter = 0;
    while (counter < kIntegerBound) {
        counter = counter + 1;
        probe.iteration();
    }
    return counter;
}

struct FloatingPointOutcome
{
    double sum;
    bool completed;
};

template <class Probe> inline FloatingPointOutcome floatingPointLoop(const std::atomic<bool>& stop, Probe& probe)
{
    volatile double x = 0.0;
    while (x < kFloatingPointBound) {
        for (std::uint32_t i = 0; i < kFloatingPointAdditionsPerStopCheck && x < kFloatingPointBound; ++i) {
            x = x + kFloatingPointStep;
            probe.iteration();
        }
        if (x < kFloatingPointBound && stop.load(std::memory_order_relaxed))
            return { x, false };
    }
    return { x, true };
}

struct PiOutcome
{
    double sum;
    std::uint32_t denominator;
    bool completed;
};

// 1 - 1/3 + 1/5 - 1/7 ..., two terms a pass, the bound tested only at the
// top of a pass.
template <class Probe> inline PiOutcome piLoop(const std::atomic<bool>& stop, Probe& probe)
{
    volatile double sum = 0.0;
    volatile std::uint32_t k = 1;
    while (k < kPiBound) {
        for (std::uint32_t pass = 0; pass < kPiPassesPerStopCheck && k < kPiBound; ++pass) {
            sum = sum + 1.0 / k;
            k = k + 2;
            sum = sum - 1.0 / k;
            probe.piPass(k);
            k = k + 2;
        }
        if (stop.load(std::memory_order_relaxed))
            return { sum, k, false };
    }
    return { sum, k, true };
}

// One new string object holding the whole text, a real allocation and copy.
inline QString makePayloadString()
{
    return QString(reinterpret_cast<const QChar*>(kPayloadText), qsizetype(kPayloadLength));
}

// Returns whether all cycles were made (false when asked to stop).
template <class Probe> inline bool memoryLoop(const std::atomic<bool>& stop, Probe& probe)
{
    std::uint32_t counter = 1;
    while (counter < kMemoryCounterEnd) {
        for (std::uint32_t cycle = 0; cycle < kMemoryCyclesPerStopCheck && counter < kMemoryCounterEnd; ++cycle) {
            {
                const QString text = makePayloadString();
                probe.made(text);
            }
            counter = counter + 2;
        }
        if (counter < kMemoryCounterEnd && stop.load(std::memory_order_relaxed))
            return false;
    }
    return true;
}

// Writes bytes to path in place (no temporary file). Never follows a link
// at path: a link planted there makes the write fail instead of overwriting
// whatever it points to. Returns 0, or the error number of the first failure.
inline int writeInPlace(const char* path, const QByteArray& bytes)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    int error = 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A regular file that takes no byte and gives no reason is broken.
            error = n < 0 ? errno : EIO;
            break;
        }
        data += n;
        left -= n;
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

// The whole file at path, not following a link. Returns 0, or the error
// number of the first failure (EINVAL for something that is no regular file).
inline int readWhole(const char* path, QByteArray& contents)
{
    contents.clear();
    const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat info
    {
    };
    int error = 0;
    if (::fstat(fd, &info) != 0)
        error = errno;
    else if (!S_ISREG(info.st_mode))
        error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    if (error == 0) {
        contents.resize(qsizetype(info.st_size));
        qsizetype got = 0;
        while (got < contents.size()) {
            const ssize_t n = ::read(fd, contents.data() + got, size_t(contents.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                error = errno;
            if (n <= 0)
                break;
            got += n;
        }
        contents.truncate(got);
    }
    ::close(fd);
    return error;
}

// 500 cycles of remove, write, read whole. The work is the same whatever
// happens; a cycle that did not write the whole text or read it all back is
// a failed one. Returns 0 when none failed, else the error number of the
// first failure (EIO when a short file came back without one).
template <class Probe> inline int diskLoop(const char* path, Probe& probe)
{
    int firstError = 0;
    for (std::uint32_t counter = 1; counter < kDiskCounterEnd; counter = counter + 2) {
        ::unlink(path);
        {
            // Encoded anew every cycle: the encoding is part of the work.
            const QByteArray bytes = makePayloadString().toUtf8();
            const int error = writeInPlace(path, bytes);
            probe.written(error == 0);
            if (error != 0 && firstError == 0)
                firstError = error;
        }
        {
            QByteArray contents;
            const int error = readWhole(path, contents);
            probe.read(contents, error == 0);
            if (firstError == 0 && (error != 0 || contents.size() != qsizetype(kPayloadUtf8Size)))
                firstError = error != 0 ? error : EIO;
        }
    }
    return firstError;
}

} // namespace ostrel::loops
