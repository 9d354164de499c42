// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MemoryRoom.h"

#include "platform/OutsideFile.h"

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <limits>

namespace platform {

namespace {

// Far more than any of these kernel files holds.
constexpr qint64 kMostBytes = 1 << 20;

QByteArray kernelFile(const QString& path)
{
    return readOutsideFile(path, kMostBytes).value_or(QByteArray()).trimmed();
}

// A number of bytes in a controller's file; nothing for "max", a missing file or anything else.
std::optional<qint64> bytesIn(const QString& path)
{
    bool ok = false;
    const qint64 value = kernelFile(path).toLongLong(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

// What a group's limit leaves of it: the limit less what the group uses; none without a limit.
std::optional<qint64> roomIn(const QString& group, std::initializer_list<const char*> limits, const char* usage)
{
    std::optional<qint64> limit;
    for (const char* name : limits) {
        // cgroup v1 says "no limit" with the largest page-aligned number.
        const std::optional<qint64> value = bytesIn(group + QLatin1Char('/') + QLatin1String(name));
        if (value && *value < (qint64(1) << 62))
            limit = std::min(limit.value_or(*value), *value);
    }
    if (!limit)
        return std::nullopt;
    return std::max<qint64>(0, *limit - bytesIn(group + QLatin1Char('/') + QLatin1String(usage)).value_or(0));
}

// The groups from the process's own up to the hierarchy's root, as folders below `mount`.
QStringList groupsUpFrom(const QString& mount, QByteArray path)
{
    QStringList folders;
    for (;;) {
        folders << mount + QString::fromUtf8(path == "/" ? QByteArray() : path);
        if (path.isEmpty() || path == "/")
            return folders;
        path.truncate(std::max<qsizetype>(1, path.lastIndexOf('/')));
    }
}

// The least room any group of the process's leaves it; none when no group has a limit.
std::optional<qint64> groupRoom(const QString& procRoot, const QString& cgroupRoot)
{
    std::optional<qint64> least;
    const auto take = [&](const std::optional<qint64>& room) {
        if (room)
            least = std::min(least.value_or(*room), *room);
    };
    // "0::/user.slice/…" for cgroup v2; "4:memory:/user.slice" for v1's memory controller.
    for (const QByteArray& line : kernelFile(procRoot + QStringLiteral("/self/cgroup")).split('\n')) {
        const qsizetype first = line.indexOf(':');
        const qsizetype second = line.indexOf(':', first + 1);
        if (first < 0 || second < 0)
            continue;
        const QByteArray controllers = line.mid(first + 1, second - first - 1);
        const QByteArray path = line.mid(second + 1);
        if (line.left(first) == "0" && controllers.isEmpty()) {
            for (const QString& group : groupsUpFrom(cgroupRoot, path))
                take(roomIn(group, { "memory.max", "memory.high" }, "memory.current"));
        } else if (controllers.split(',').contains("memory")) {
            for (const QString& group : groupsUpFrom(cgroupRoot + QStringLiteral("/memory"), path))
                take(roomIn(group, { "memory.limit_in_bytes" }, "memory.usage_in_bytes"));
        }
    }
    return least;
}

} // namespace

std::optional<qint64> memAvailableBytes(const QByteArray& meminfo)
{
    for (const QByteArray& line : meminfo.split('\n')) {
        if (!line.startsWith("MemAvailable:"))
            continue;
        const QList<QByteArray> fields = line.mid(qsizetype(qstrlen("MemAvailable:"))).simplified().split(' ');
        bool ok = false;
        const qint64 kib = fields.value(0).toLongLong(&ok);
        if (!ok || kib < 0 || kib > std::numeric_limits<qint64>::max() / 1024 || fields.value(1) != "kB")
            return std::nullopt;
        return kib * 1024;
    }
    return std::nullopt;
}

std::optional<MemoryRoom> memoryRoom(const QString& procRoot, const QString& cgroupRoot)
{
    const std::optional<qint64> available = memAvailableBytes(kernelFile(procRoot + QStringLiteral("/meminfo")));
    if (!available)
        return std::nullopt;
    const std::optional<qint64> group = groupRoom(procRoot, cgroupRoot);
    if (group && *group < *available)
        return MemoryRoom { *group, true };
    return MemoryRoom { *available, false };
}

} // namespace platform
