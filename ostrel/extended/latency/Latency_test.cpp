// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/latency/Latency.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sched.h>
#include <set>

using namespace ostrel::latency;

namespace {

void writeFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(text);
}

struct Cache
{
    const char* level;
    const char* type;
    const char* size;
};

// CPU 0's caches as sysfs lists them, below the returned root.
QString fakeSys(const QTemporaryDir& dir, const std::vector<Cache>& caches)
{
    const QString root = dir.filePath(QStringLiteral("sys"));
    QDir().mkpath(root);
    for (std::size_t i = 0; i < caches.size(); ++i) {
        const QString index = root + QStringLiteral("/devices/system/cpu/cpu0/cache/index%1/").arg(i);
        writeFile(index + QStringLiteral("level"), QByteArray(caches[i].level) + '\n');
        writeFile(index + QStringLiteral("type"), QByteArray(caches[i].type) + '\n');
        writeFile(index + QStringLiteral("size"), QByteArray(caches[i].size) + '\n');
    }
    return root;
}

// y = log2(x) ns at every doubling from 4 KiB to `largest`, plus `offset`: a straight line in log x.
Curve logCurve(qint64 largest, double offset = 0.0)
{
    Curve curve;
    for (qint64 x = 4 * kKiB; x <= largest; x *= 2)
        curve.points.push_back({ x, (std::log2(double(x)) + offset) * 1e-9, 1.0, false });
    return curve;
}

} // namespace

TEST(Latency, CycleVisitsEveryLineOnceInRandomOrder)
{
    for (const qint64 count : { 1, 2, 3, 64, 100, 1000, 4096, 6000, 16389 }) {
        SCOPED_TRACE(count);
        std::unique_ptr<Line[]> lines(new Line[size_t(count)]);
        ASSERT_TRUE(linkCycle(lines.get(), count, quint64(count)));
        std::set<const Line*> seen;
        qint64 inOrder = 0;
        const Line* p = &lines[0];
        for (qint64 step = 0; step < count; ++step) {
            ASSERT_GE(p, &lines[0]);
            ASSERT_LT(p, &lines[0] + count);
            EXPECT_TRUE(seen.insert(p).second) << "line " << (p - &lines[0]) << " again at step " << step;
            inOrder += p->next == p + 1;
            p = p->next;
        }
        EXPECT_EQ(p, &lines[0]) << "the cycle does not close after every line";
        EXPECT_EQ(qint64(seen.size()), count);
        // A walk in address order would prefetch: a random cycle has few lines followed by the next one.
        if (count >= 1000) {
            EXPECT_LT(inOrder, count / 100);
        }
        // The unrolled chase ends where following the pointers one by one does.
        const qint64 loads = 16 * 7;
        const Line* walked = &lines[0];
        for (qint64 i = 0; i < loads; ++i)
            walked = walked->next;
        EXPECT_EQ(chase(&lines[0], loads), walked);
    }
}

TEST(Latency, WorkingSetsRiseTwicePerDoublingToTheCacheOrTheMemoryCap)
{
    constexpr qint64 kGiB = 1024 * kMiB;
    struct Case
    {
        const char* name;
        std::optional<qint64> lastLevel;
        qint64 room;
        std::size_t count;
        qint64 largest;
        bool reduced;
    };
    const Case cases[] = {
        // 4 KiB .. 192 MiB at x and 1.5 x (32), then 256 MiB.
        { "small cache: 256 MiB", 32 * kMiB, 16 * kGiB, 33, 256 * kMiB, false },
        { "unknown cache: 256 MiB", std::nullopt, 16 * kGiB, 33, 256 * kMiB, false },
        // 4 KiB .. 768 MiB (36), then 1040 MiB; 1 GiB is too near it.
        { "260 MiB cache: 4 x", 260 * kMiB, 24 * kGiB, 37, 1040 * kMiB, false },
        { "memory caps it", 32 * kMiB, 256 * kMiB, 29, 64 * kMiB, true },
        { "cap rounded to lines", std::nullopt, 4 * (100 * kKiB + 10), 10, 100 * kKiB, true },
        { "not even 4 KiB", 32 * kMiB, 8 * kKiB, 0, 0, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WorkingSets sets = workingSets(c.lastLevel, c.room);
        EXPECT_EQ(sets.reduced, c.reduced);
        ASSERT_EQ(sets.bytes.size(), c.count);
        if (c.count == 0)
            continue;
        EXPECT_EQ(sets.bytes.front(), 4 * kKiB);
        EXPECT_EQ(sets.bytes.back(), c.largest);
        EXPECT_LE(sets.bytes.back(), c.room / 4);
        for (std::size_t i = 0; i + 1 < sets.bytes.size(); ++i) {
            EXPECT_EQ(sets.bytes[i] % kLineBytes, 0);
            const double ratio = double(sets.bytes[i + 1]) / double(sets.bytes[i]);
            if (i + 2 < sets.bytes.size()) {
                EXPECT_TRUE(ratio == 1.5 || ratio == 4.0 / 3.0) << i << ": " << ratio;
            } else {
                EXPECT_GT(ratio, 1.1) << "the last two points are too close";
            }
        }
    }
}

TEST(Latency, FiguresAreReadAtHalfEachCacheAndFourTimesTheLast)
{
    struct Case
    {
        const char* name;
        std::vector<Cache> caches;
        bool hugePages;
        // The figures expected and where they are read; the TLB's is the 4 KiB-page curve's offset, 3 ns.
        std::vector<std::pair<Figure::Kind, qint64>> figures;
    };
    const Cache l1d { "1", "Data", "48K" }, l1i { "1", "Instruction", "32K" }, l2 { "2", "Unified", "2048K" };
    const Case cases[] = {
        { "every level",
          { l1d, l1i, l2, { "3", "Unified", "32768K" } },
          true,
          { { Figure::Kind::L1, 24 * kKiB },
            { Figure::Kind::L2, kMiB },
            { Figure::Kind::L3, 16 * kMiB },
            { Figure::Kind::Memory, 128 * kMiB },
            { Figure::Kind::Tlb, 1024 * kMiB } } },
        { "no L2, no huge pages",
          { l1d, l1i, { "3", "Unified", "32M" } },
          false,
          { { Figure::Kind::L1, 24 * kKiB }, { Figure::Kind::L3, 16 * kMiB }, { Figure::Kind::Memory, 128 * kMiB } } },
        { "L3 larger than the largest point",
          { l1d, l2, { "3", "Unified", "2G" } },
          true,
          { { Figure::Kind::L1, 24 * kKiB },
            { Figure::Kind::L2, kMiB },
            { Figure::Kind::L3, 1024 * kMiB },
            { Figure::Kind::Tlb, 1024 * kMiB } } },
        { "no layout", {}, true, { { Figure::Kind::Tlb, 1024 * kMiB } } },
    };
    const Curve huge = logCurve(1024 * kMiB);
    const Curve small = logCurve(1024 * kMiB, 3.0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QTemporaryDir dir;
        const std::vector<Figure> figures
            = latencyFigures(huge, &small, c.hugePages, cacheLayout(fakeSys(dir, c.caches)));
        ASSERT_EQ(figures.size(), c.figures.size());
        for (std::size_t i = 0; i < figures.size(); ++i) {
            EXPECT_EQ(figures[i].kind, c.figures[i].first) << i;
            EXPECT_EQ(figures[i].atBytes, c.figures[i].second) << i;
            const double expected = figures[i].kind == Figure::Kind::Tlb ? 3.0 : std::log2(double(figures[i].atBytes));
            EXPECT_NEAR(figures[i].seconds * 1e9, expected, 1e-9) << i;
        }
    }
    EXPECT_FALSE(latencyAt(huge, 2 * kKiB));
    EXPECT_FALSE(latencyAt(huge, 2048 * kMiB));
}

TEST(Latency, TextsReadTwoDigitsBelowTenNanosecondsAndWholeOnesAbove)
{
    const std::pair<double, const char*> latencies[] = {
        { 0.834e-9, "0.83 ns" }, { 1.5e-9, "1.5 ns" }, { 5.44e-9, "5.4 ns" },
        { 9.96e-9, "10 ns" },    { 21.3e-9, "21 ns" }, { 187.4e-9, "187 ns" },
    };
    for (const auto& [seconds, text] : latencies)
        EXPECT_EQ(latencyText(seconds), QString::fromUtf8(text));
    EXPECT_EQ(bytesText(48 * kKiB), QStringLiteral("48 KiB"));
    EXPECT_EQ(bytesText(1040 * kMiB), QStringLiteral("1040 MiB"));
    EXPECT_EQ(bytesText(1024 * kMiB), QStringLiteral("1 GiB"));
    EXPECT_EQ(bytesText(1536), QStringLiteral("1.5 KiB"));

    LatencyResult result;
    result.hugePages = true;
    result.figures = { { Figure::Kind::L1, 48 * kKiB, 24 * kKiB, 1.5e-9 },
                       { Figure::Kind::L2, 2 * kMiB, kMiB, 5.4e-9 },
                       { Figure::Kind::L3, 260 * kMiB, 130 * kMiB, 21e-9 },
                       { Figure::Kind::Memory, 0, 1040 * kMiB, 187e-9 },
                       { Figure::Kind::Tlb, 0, 1040 * kMiB, 117e-9 } };
    EXPECT_EQ(summaryText(result), QStringLiteral("内存延迟：L1 1.5 ns，L2 5.4 ns，L3 21 ns，内存 187 ns"));
    const QString toolTip = toolTipText(result);
    for (const char* part : { "L1 数据 48 KiB", "L2 2 MiB", "L3 260 MiB", "1040 MiB", "117 ns" })
        EXPECT_TRUE(toolTip.contains(QString::fromUtf8(part))) << part << " not in " << toolTip.toStdString();
}

TEST(Latency, PointIsRemeasuredWhileTheThreadHadTooLittleCpu)
{
    struct Case
    {
        const char* name;
        std::vector<double> shares; // of the readings in turn; negative: a stop
        int calls;
        std::optional<double> seconds; // nothing: no point
        bool disturbed;
    };
    const Case cases[] = {
        { "enough at once", { 0.99, 0.2 }, 1, 1.0, false },
        { "enough at the second", { 0.5, 0.95, 0.2 }, 2, 2.0, false },
        { "never enough: the most counts", { 0.5, 0.7, 0.4, 0.6, 0.99 }, 4, 2.0, true },
        { "a stop", { 0.5, -1.0, 0.99 }, 2, std::nullopt, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int calls = 0;
        const std::optional<Point> point = settledPoint(4096, [&]() -> std::optional<Reading> {
            const double share = c.shares.at(size_t(calls++));
            if (share < 0.0)
                return std::nullopt;
            return Reading { double(calls), share };
        });
        EXPECT_EQ(calls, c.calls);
        ASSERT_EQ(point.has_value(), c.seconds.has_value());
        if (!point)
            continue;
        EXPECT_EQ(point->bytes, 4096);
        EXPECT_EQ(point->seconds, *c.seconds);
        EXPECT_EQ(point->onCpuShare, c.shares[size_t(*c.seconds) - 1]);
        EXPECT_EQ(point->disturbed, c.disturbed);
    }
}

TEST(Latency, SweepMeasuresEachSetOnBothPagesAndStops)
{
    const QTemporaryDir dir;
    Options options;
    options.sysRoot = fakeSys(dir, { { "1", "Data", "32K" } });
    options.workingSets = std::vector<qint64> { 4 * kKiB, 64 * kKiB, 3 * kMiB };
    options.passSeconds = 0.001;
    // A CPU clock that stands still: the thread seems never to run, so every point ends disturbed.
    options.cpuSeconds = [] { return 0.0; };
    std::vector<double> progress;
    options.progress = [&](double fraction) { progress.push_back(fraction); };
    cpu_set_t before, after;
    ASSERT_EQ(::sched_getaffinity(0, sizeof before, &before), 0);
    const auto result = measureLatency(options);
    ASSERT_EQ(::sched_getaffinity(0, sizeof after, &after), 0);
    EXPECT_TRUE(CPU_EQUAL(&before, &after)) << "the thread stays pinned after the sweep";
    ASSERT_TRUE(result);
    ASSERT_EQ(result->curves.size(), 2u);
    for (const Curve& curve : result->curves) {
        ASSERT_EQ(curve.points.size(), 3u);
        for (const Point& point : curve.points) {
            EXPECT_GT(point.seconds, 0.0);
            EXPECT_EQ(point.onCpuShare, 0.0);
            EXPECT_TRUE(point.disturbed);
        }
        EXPECT_EQ(curve.points[1].bytes, 64 * kKiB);
    }
    // The L1 is the last level here; the TLB's cost only where the huge pages were there.
    ASSERT_EQ(result->figures.size(), result->hugePages ? 3u : 2u);
    EXPECT_EQ(result->figures[0].atBytes, 16 * kKiB);
    EXPECT_EQ(result->figures[1].kind, Figure::Kind::Memory);
    EXPECT_EQ(result->figures[1].atBytes, 128 * kKiB);
    EXPECT_EQ(progress.size(), 6u);
    EXPECT_EQ(progress.back(), 1.0);

    // A stop asked for during the first point ends the sweep there.
    int looks = 0;
    options.stop = [&looks] { return ++looks > 3; };
    const auto stopped = measureLatency(options);
    ASSERT_FALSE(stopped);
    EXPECT_EQ(stopped.error().kind, LatencyError::Kind::Stopped);
}

TEST(Latency, JsonKeepsEveryValueAndNamesWhatItRefuses)
{
    LatencyResult result;
    result.hugePages = true;
    result.reduced = true;
    for (const char* name : { "2 MiB 大页", "4 KiB 页" }) {
        Curve curve { QString::fromUtf8(name),
                      QStringLiteral("工作集"),
                      QStringLiteral("B"),
                      QStringLiteral("延迟"),
                      QStringLiteral("s"),
                      true,
                      {} };
        curve.points = { { 4096, 1.2345678901234567e-9, 0.999, false },
                         { 6144, 0.1 + 0.2, 0.5, true },
                         { 1090519040, 3.67e-7, 1.0, true } };
        result.curves.push_back(curve);
    }
    result.figures = { { Figure::Kind::L2, 2 * kMiB, kMiB, 5.4e-9 }, { Figure::Kind::Tlb, 0, 1090519040, -2e-9 } };
    const QByteArray text = QJsonDocument(toJson(result)).toJson();
    const auto back = fromJson(QJsonDocument::fromJson(text).object());
    ASSERT_TRUE(back) << back.error().member.toStdString();
    EXPECT_EQ(*back, result);

    // Each edit of the document spoils one member.
    const auto inCurve = [](std::function<void(QJsonObject&)> change) {
        return [change](QJsonObject& json) {
            QJsonArray curves = json[QStringLiteral("curves")].toArray();
            QJsonObject curve = curves[0].toObject();
            change(curve);
            curves[0] = curve;
            json[QStringLiteral("curves")] = curves;
        };
    };
    const std::pair<std::function<void(QJsonObject&)>, const char*> refused[] = {
        { inCurve([](QJsonObject& c) {
              c[QStringLiteral("disturbed")] = QJsonArray { 1, 3 };
          }),
          "curves[0].disturbed" },
        { inCurve([](QJsonObject& c) {
              c[QStringLiteral("points")]
                  = QJsonArray { QJsonArray { 4096, 1e-9 }, QJsonArray { 4096, 2e-9 }, QJsonArray { 8192, 3e-9 } };
          }),
          "curves[0].points[1]" },
        { inCurve([](QJsonObject& c) {
              c[QStringLiteral("onCpuShare")] = QJsonArray { 1.5, 0.5, 1 };
          }),
          "curves[0].onCpuShare[0]" },
        { [](QJsonObject& json) {
             QJsonArray figures = json[QStringLiteral("figures")].toArray();
             QJsonObject figure = figures[0].toObject();
             figure[QStringLiteral("kind")] = QStringLiteral("L4");
             figures[0] = figure;
             json[QStringLiteral("figures")] = figures;
         },
          "figures[0]" },
        { [](QJsonObject& json) { json.remove(QStringLiteral("hugePages")); }, "hugePages" },
    };
    for (const auto& [edit, member] : refused) {
        QJsonObject broken = toJson(result);
        edit(broken);
        const auto refusal = fromJson(broken);
        ASSERT_FALSE(refusal) << member;
        EXPECT_EQ(refusal.error().member, QString::fromUtf8(member));
    }
}
