// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/bandwidth/BandwidthFigures.h"

#include <QJsonDocument>
#include <gtest/gtest.h>
#include <limits>

using namespace ostrel;
using namespace ostrel::bandwidth;

namespace {

const MemoryBandwidthResult kTwoThreads { 2, qint64(256) << 20, false, 12.34, 13.96 };
const MemoryBandwidthResult kReduced { 1, qint64(85) << 20, true, 9.96, 0.04 };

std::string json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace

TEST(BandwidthFigures, TextsAndPrometheusLines)
{
    EXPECT_EQ(bandwidthLine(kTwoThreads), QStringLiteral("内存带宽：复制 12.3 GB/s，三元组 14.0 GB/s"));
    EXPECT_EQ(bandwidthDetails(kTwoThreads), QStringLiteral("2 线程，每个数组 256 MiB"));
    EXPECT_EQ(bandwidthLine(kReduced), QStringLiteral("内存带宽：复制 10.0 GB/s，三元组 0.0 GB/s"));
    EXPECT_EQ(bandwidthDetails(kReduced), QStringLiteral("1 线程，每个数组 85 MiB（可用内存不足，数组已缩小）"));
    EXPECT_EQ(bandwidthState(), QStringLiteral("正在测试内存带宽…"));
    EXPECT_EQ(bandwidthPrometheusText(kTwoThreads).toStdString(),
              "# HELP ostrel_memory_bandwidth_bytes_per_second Best rate of one STREAM kernel over arrays larger than "
              "the caches.\n"
              "# TYPE ostrel_memory_bandwidth_bytes_per_second gauge\n"
              "ostrel_memory_bandwidth_bytes_per_second{kernel=\"copy\"} 1.234e+10\n"
              "ostrel_memory_bandwidth_bytes_per_second{kernel=\"triad\"} 1.396e+10\n");
}

TEST(BandwidthFigures, JsonRoundTrip)
{
    EXPECT_EQ(json(bandwidthToJson(kTwoThreads)),
              R"({"arrayBytes":268435456,"copy":{"gbps":12.34},"threads":2,"triad":{"gbps":13.96}})");
    EXPECT_EQ(json(bandwidthToJson(kReduced)),
              R"({"arrayBytes":89128960,"copy":{"gbps":9.96},"reduced":true,"threads":1,"triad":{"gbps":0.04}})");
    for (const MemoryBandwidthResult& result : { kTwoThreads, kReduced }) {
        const Result<MemoryBandwidthResult> read = bandwidthFromJson(bandwidthToJson(result));
        ASSERT_TRUE(read) << read.error().message.toStdString();
        EXPECT_EQ(*read, result);
    }
}

TEST(BandwidthFigures, RejectsMissingAndImpossibleValues)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QJsonObject good = bandwidthToJson(kTwoThreads);
    const auto with = [&](const QString& key, const QJsonValue& value) {
        QJsonObject object = good;
        object.insert(key, value);
        return QJsonValue(object);
    };
    const auto without = [&](const QString& key) {
        QJsonObject object = good;
        object.remove(key);
        return QJsonValue(object);
    };
    const auto rate = [](const QJsonValue& value) { return QJsonObject { { QStringLiteral("gbps"), value } }; };
    struct Case
    {
        QJsonValue value;
        const char* member;
    };
    const Case cases[] = {
        { QJsonValue(QStringLiteral("fast")), "memoryBandwidth" },
        { without(QStringLiteral("threads")), "threads" },
        { with(QStringLiteral("threads"), 0), "threads" },
        { with(QStringLiteral("threads"), 1.5), "threads" },
        { with(QStringLiteral("threads"), 3e9), "threads" },
        { without(QStringLiteral("arrayBytes")), "arrayBytes" },
        { with(QStringLiteral("arrayBytes"), -1), "arrayBytes" },
        { with(QStringLiteral("arrayBytes"), QStringLiteral("256")), "arrayBytes" },
        { with(QStringLiteral("arrayBytes"), 1e300), "arrayBytes" },
        { with(QStringLiteral("reduced"), 1), "reduced" },
        { without(QStringLiteral("copy")), "copy.gbps" },
        { with(QStringLiteral("copy"), QJsonObject {}), "copy.gbps" },
        { with(QStringLiteral("copy"), rate(-0.1)), "copy.gbps" },
        // QJsonValue keeps a NaN or an infinity that no document could carry.
        { with(QStringLiteral("copy"), rate(nan)), "copy.gbps" },
        { with(QStringLiteral("triad"), rate(inf)), "triad.gbps" },
        { with(QStringLiteral("triad"), rate(QJsonValue::Null)), "triad.gbps" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.member);
        const Result<MemoryBandwidthResult> read = bandwidthFromJson(c.value);
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().kind, BandwidthError::Kind::BadValue);
        EXPECT_EQ(read.error().message, QStringLiteral("内存带宽结果中“%1”无效").arg(QLatin1String(c.member)));
    }
}
