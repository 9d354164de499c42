// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/ExtendedTests.h"

#include "ostrel/extended/bandwidth/BandwidthTest.h"
#include "ostrel/extended/disk/DiskTest.h"
#include "ostrel/extended/disk/FioDisk.h"
#include "ostrel/extended/latency/LatencyTest.h"
#include "ostrel/extended/multicore/MulticoreTest.h"
#include "platform/ListText.h"

namespace ostrel {

namespace {

std::deque<ExtendedKind>& rows()
{
    // The extended tests, in the order they run. A test's folder gives all of its row; nothing else names it.
    // Each row's fake, for tests, is listed in testing/FakeExtendedTests.cpp.
    static std::deque<ExtendedKind> table {
        ExtendedKind(TestDescription<MulticoreResult> { .key = "multicore",
                                                        .name = u"多核",
                                                        .help = multicore::kHelp,
                                                        .summary = multicore::kSummary,
                                                        .make = multicore::makeTest,
                                                        .line = multicore::line,
                                                        .details = multicore::details,
                                                        .historyTip = multicore::historyTip,
                                                        .figures = multicore::figures,
                                                        .texts = nullptr,
                                                        .toJson = multicore::toJson,
                                                        .fromJson = multicore::fromJson,
                                                        .metrics = multicore::metrics }),
        ExtendedKind(TestDescription<DiskResult> { .key = "disk",
                                                   .name = u"磁盘",
                                                   .help = disk::kHelp,
                                                   .summary = disk::kSummary,
                                                   .make = disk::makeTest,
                                                   .line = disk::line,
                                                   .details = disk::details,
                                                   .historyTip = disk::historyTip,
                                                   .figures = disk::figures,
                                                   .texts = disk::texts,
                                                   .toJson = disk::toJson,
                                                   .fromJson = disk::fromJson,
                                                   .metrics = disk::metrics,
                                                   .removeLeftovers = disk::removeLeftovers }),
        ExtendedKind(TestDescription<MemoryBandwidthResult> { .key = "memoryBandwidth",
                                                              .name = u"内存带宽",
                                                              .help = bandwidth::kHelp,
                                                              .summary = bandwidth::kSummary,
                                                              .make = bandwidth::makeTest,
                                                              .line = bandwidth::line,
                                                              .details = bandwidth::details,
                                                              .historyTip = bandwidth::historyTip,
                                                              .figures = bandwidth::figures,
                                                              .texts = bandwidth::texts,
                                                              .toJson = bandwidth::toJson,
                                                              .fromJson = bandwidth::fromJson,
                                                              .metrics = bandwidth::metrics }),
        ExtendedKind(TestDescription<latency::LatencyResult> { .key = "memoryLatency",
                                                               .name = u"内存延迟",
                                                               .help = latency::kHelp,
                                                               .summary = latency::kSummary,
                                                               .make = latency::makeTest,
                                                               .line = latency::line,
                                                               .details = latency::details,
                                                               .historyTip = latency::historyTip,
                                                               .figures = latency::figures,
                                                               .texts = nullptr,
                                                               .toJson = latency::rowJson,
                                                               .fromJson = latency::rowFromJson,
                                                               .metrics = latency::metrics,
                                                               .curves = latency::curves }),
    };
    return table;
}

} // namespace

const std::deque<ExtendedKind>& extendedTests()
{
    return rows();
}

const ExtendedKind* findExtendedTest(const QString& key)
{
    for (const ExtendedKind& kind : extendedTests()) {
        if (kind.key == key)
            return &kind;
    }
    return nullptr;
}

QString extendedTestsTitle()
{
    QStringList names;
    for (const ExtendedKind& kind : extendedTests())
        names << kind.name;
    return QStringLiteral("扩展测试（%1）").arg(names.join(QStringLiteral("、")));
}

QString extendedTestsDescription()
{
    QStringList tests;
    for (const ExtendedKind& kind : extendedTests())
        tests << kind.name + QStringLiteral("测试");
    return QStringLiteral("在五项测试之后进行") + platform::joinedList(tests, u"、", u"和");
}

QString extendedTestsHelp()
{
    QStringList helps;
    for (const ExtendedKind& kind : extendedTests())
        helps << kind.help;
    return platform::joinedList(helps, u", ", u" and ");
}

QString extendedTestsSummary()
{
    QStringList summaries;
    for (const ExtendedKind& kind : extendedTests())
        summaries << kind.summary;
    return platform::joinedList(summaries, u", ", u", and ");
}

QList<ExtendedFigure> extendedFigures()
{
    QList<ExtendedFigure> figures;
    for (const ExtendedKind& kind : extendedTests())
        figures << kind.figures;
    return figures;
}

QList<ExtendedComparisonRow> compareExtended(const ExtendedResults& a, const ExtendedResults& b)
{
    QList<ExtendedComparisonRow> rows;
    for (const ExtendedKind& kind : extendedTests()) {
        if (!a.find(kind.key) && !b.find(kind.key))
            continue;
        for (const ExtendedFigure& figure : kind.figures)
            rows << ExtendedComparisonRow { figure, figure.of(a), figure.of(b) };
    }
    return rows;
}

void removeExtendedLeftovers(const QString& scratchFolder, const QString& folder,
                             std::chrono::system_clock::time_point before)
{
    for (const ExtendedKind& kind : extendedTests()) {
        if (kind.removeLeftovers)
            kind.removeLeftovers(scratchFolder, folder, before);
    }
}

std::vector<PlannedTest> planExtendedTests(const ExtendedSetup& setup, const ExtendedTestMaker& make)
{
    std::vector<PlannedTest> planned;
    for (const ExtendedKind& kind : extendedTests())
        planned.push_back({ &kind, make ? make(kind, setup) : kind.make(setup) });
    return planned;
}

namespace testing {

ExtraExtendedTest::ExtraExtendedTest(ExtendedKind kind)
{
    rows().push_back(std::move(kind));
}

ExtraExtendedTest::~ExtraExtendedTest()
{
    rows().pop_back();
}

} // namespace testing

} // namespace ostrel
