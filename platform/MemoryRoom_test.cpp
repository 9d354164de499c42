// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MemoryRoom.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using platform::MemoryRoom;

namespace {

constexpr qint64 kMiB = qint64(1) << 20;

void put(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

TEST(MemoryRoom, TheSmallerOfMemAvailableAndWhatEveryGroupAboveTheProcessAllows)
{
    struct Case
    {
        const char* name;
        QByteArray cgroup; // <proc>/self/cgroup
        std::vector<std::pair<const char*, QByteArray>> files; // below the cgroup root
        std::optional<MemoryRoom> room;
    };
    // MemAvailable is 1000 MiB in every case.
    const Case cases[] = {
        { "no control group", "", {}, MemoryRoom { 1000 * kMiB, false } },
        { "v2 without a limit",
          "0::/user.slice/ostrel.service\n",
          { { "user.slice/ostrel.service/memory.max", "max\n" },
            { "user.slice/ostrel.service/memory.high", "max\n" },
            { "user.slice/ostrel.service/memory.current", "1048576\n" } },
          MemoryRoom { 1000 * kMiB, false } },
        { "v2 memory.max less memory.current",
          "0::/user.slice/ostrel.service\n",
          { { "user.slice/ostrel.service/memory.max", "209715200\n" },
            { "user.slice/ostrel.service/memory.high", "max\n" },
            { "user.slice/ostrel.service/memory.current", "10485760\n" } },
          MemoryRoom { 190 * kMiB, true } },
        { "v2 memory.high below memory.max",
          "0::/a\n",
          { { "a/memory.max", "524288000\n" }, { "a/memory.high", "314572800\n" }, { "a/memory.current", "0\n" } },
          MemoryRoom { 300 * kMiB, true } },
        { "v2 a limit on the group above",
          "0::/user.slice/ostrel.service\n",
          { { "user.slice/memory.max", "104857600\n" },
            { "user.slice/memory.current", "52428800\n" },
            { "user.slice/ostrel.service/memory.max", "max\n" } },
          MemoryRoom { 50 * kMiB, true } },
        { "v2 a limit above MemAvailable",
          "0::/a\n",
          { { "a/memory.max", "4294967296\n" }, { "a/memory.current", "0\n" } },
          MemoryRoom { 1000 * kMiB, false } },
        { "v1 limit_in_bytes less usage",
          "4:memory:/docker/abc\n1:cpu:/\n",
          { { "memory/docker/abc/memory.limit_in_bytes", "209715200\n" },
            { "memory/docker/abc/memory.usage_in_bytes", "104857600\n" } },
          MemoryRoom { 100 * kMiB, true } },
        { "v1 no limit (the largest page-aligned number)",
          "4:memory:/x\n",
          { { "memory/x/memory.limit_in_bytes", "9223372036854771712\n" },
            { "memory/x/memory.usage_in_bytes", "1048576\n" } },
          MemoryRoom { 1000 * kMiB, false } },
        { "v1 seen from inside a container: the group is the mount's root",
          "4:memory:/process_api/abc\n",
          { { "memory/memory.limit_in_bytes", "314572800\n" }, { "memory/memory.usage_in_bytes", "0\n" } },
          MemoryRoom { 300 * kMiB, true } },
        { "usage above the limit leaves nothing",
          "0::/a\n",
          { { "a/memory.max", "1048576\n" }, { "a/memory.current", "2097152\n" } },
          MemoryRoom { 0, true } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QTemporaryDir root;
        const QString proc = root.filePath(QStringLiteral("proc"));
        const QString cgroup = root.filePath(QStringLiteral("cgroup"));
        put(proc + QStringLiteral("/meminfo"), "MemTotal:       8000000 kB\nMemAvailable:    1024000 kB\n");
        put(proc + QStringLiteral("/self/cgroup"), c.cgroup);
        for (const auto& [path, text] : c.files)
            put(cgroup + QLatin1Char('/') + QLatin1String(path), text);
        EXPECT_EQ(platform::memoryRoom(proc, cgroup), c.room);
    }
}

TEST(MemoryRoom, NothingWithoutMemAvailable)
{
    const QTemporaryDir root;
    put(root.filePath(QStringLiteral("proc/meminfo")), "MemTotal:       8000000 kB\n");
    EXPECT_EQ(platform::memoryRoom(root.filePath(QStringLiteral("proc")), root.path()), std::nullopt);
    EXPECT_EQ(platform::memAvailableBytes("MemAvailable: 12 MB\n"), std::nullopt);
}
