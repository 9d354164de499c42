// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/engine/FiveTests.h"
#include "ostrel/extended/bandwidth/BandwidthTest.h"

#include <QJsonDocument>
#include <gtest/gtest.h>
#include <limits>

using namespace ostrel;
using namespace ostrel::bandwidth;

namespace {

const MemoryBandwidthResult kTwoThreads { 2, qint64(256) << 20, false, 12.34, 13.96 };
const MemoryBandwidthResult kReduced { 1, qint64(85) << 20, true, 9.96, 0.04 };
const MemoryBandwidthResult kGroupLimited { 1, qint64(16) << 20, true, 9.96, 0.04, true };

std::string json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace

TEST(BandwidthTest, TextsAndPrometheusLines)
{
    const FinishedRun run {};
    EXPECT_EQ(line(kTwoThreads), QStringLiteral("内存带宽：复制 12.3 GB/s，三元组 14.0 GB/s"));
    EXPECT_EQ(details(kTwoThreads, run), QStringLiteral("2 线程，每个数组 256 MiB"));
    EXPECT_EQ(line(kReduced), QStringLiteral("内存带宽：复制 10.0 GB/s，三元组 0.0 GB/s"));
    EXPECT_EQ(details(kReduced, run), QStringLiteral("1 线程，每个数组 85 MiB（可用内存不足，数组已缩小）"));
    EXPECT_EQ(details(kGroupLimited, run),
              QStringLiteral("1 线程，每个数组 16 MiB（cgroup 内存限制不足，数组已缩小）"));
    EXPECT_EQ(historyTip(kTwoThreads), QStringLiteral("复制 12.3 GB/s，三元组 14.0 GB/s；2 线程，每个数组 256 MiB"));
    EXPECT_EQ(state(), QStringLiteral("正在测试 内存带宽"));
    const QList<MetricFamily> families = metrics(kTwoThreads);
    ASSERT_EQ(families.size(), 1);
    EXPECT_EQ(families[0].name, QStringLiteral("ostrel_memory_bandwidth_bytes_per_second"));
    ASSERT_EQ(families[0].samples.size(), 2);
    EXPECT_DOUBLE_EQ(families[0].samples[0].value, 1.234e10);
    EXPECT_DOUBLE_EQ(families[0].samples[1].value, 1.396e10);
    EXPECT_EQ(families[0].samples[1].labels,
              (std::vector<std::pair<QString, QString>> { { QStringLiteral("kernel"), QStringLiteral("triad") } }));
}

TEST(BandwidthTest, JsonRoundTrip)
{
    EXPECT_EQ(json(toJson(kTwoThreads)),
              R"({"arrayBytes":268435456,"copy":{"gbps":12.34},"threads":2,"triad":{"gbps":13.96}})");
    EXPECT_EQ(json(toJson(kReduced)),
              R"({"arrayBytes":89128960,"copy":{"gbps":9.96},"reduced":true,"threads":1,"triad":{"gbps":0.04}})");
    for (const MemoryBandwidthResult& result : { kTwoThreads, kReduced, kGroupLimited }) {
        const ExtendedResult<MemoryBandwidthResult> read = fromJson(toJson(result));
        ASSERT_TRUE(read) << read.error().message.toStdString();
        EXPECT_EQ(*read, result);
    }
}

TEST(BandwidthTest, RejectsMissingAndImpossibleValues)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QJsonObject good = toJson(kTwoThreads);
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
        const ExtendedResult<MemoryBandwidthResult> read = fromJson(c.value.toObject());
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().kind, ExtendedError::Kind::BadMember);
        EXPECT_EQ(read.error().message, QLatin1String(c.member));
    }
}
