// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace platform {

// How much memory this process may still take.
struct MemoryRoom
{
    // The smaller of the kernel's MemAvailable and what the process's control group allows.
    qint64 bytes = 0;
    // The control group's limit was the smaller: a container's, or a systemd unit's MemoryMax= or MemoryHigh=.
    bool groupLimited = false;

    friend bool operator==(const MemoryRoom&, const MemoryRoom&) = default;
};

// The room from <proc>/meminfo's MemAvailable and the memory controller of the control group that
// <proc>/self/cgroup names, below <cgroupRoot>, and of each group above it: for cgroup v2 the lower of memory.max
// and memory.high less memory.current, for v1 memory.limit_in_bytes less memory.usage_in_bytes ("max" and v1's
// huge "no limit" are none). Nothing when MemAvailable cannot be read.
std::optional<MemoryRoom> memoryRoom(const QString& procRoot = QStringLiteral("/proc"),
                                     const QString& cgroupRoot = QStringLiteral("/sys/fs/cgroup"));

// The MemAvailable line of a meminfo text, in bytes.
std::optional<qint64> memAvailableBytes(const QByteArray& meminfo);

} // namespace platform
