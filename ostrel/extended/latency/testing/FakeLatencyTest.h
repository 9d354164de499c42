// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ExtendedTest.h"
#include "ostrel/extended/latency/Chase.h"
#include "ostrel/extended/latency/LatencyTest.h"

namespace ostrel::latency::testing {

// What a machine with a 48 KiB L1, 2 MiB L2 and 32 MiB L3 might give: both curves at five working sets, the 4 KiB
// pages' 1 MiB point disturbed, "内存延迟：L1 1.5 ns，L2 5.4 ns，L3 21 ns，内存 190 ns".
inline LatencyResult sampleResult()
{
    const auto curve = [](const QString& name, std::vector<Point> points) {
        return Curve { name, QStringLiteral("工作集"), QStringLiteral("B"), QStringLiteral("延迟"), QStringLiteral("s"),
                       true, std::move(points) };
    };
    return { { curve(QStringLiteral("2 MiB 大页"),
                     { { 24 * kKiB, 1.5e-9, 1.0, false },
                       { 1 * kMiB, 5.4e-9, 0.98, false },
                       { 16 * kMiB, 21e-9, 0.97, false },
                       { 128 * kMiB, 190e-9, 0.99, false },
                       { 256 * kMiB, 195e-9, 0.99, false } }),
               curve(QStringLiteral("4 KiB 页"),
                     { { 24 * kKiB, 1.5e-9, 1.0, false },
                       { 1 * kMiB, 6.1e-9, 0.42, true },
                       { 16 * kMiB, 24e-9, 0.95, false },
                       { 128 * kMiB, 205e-9, 0.99, false },
                       { 256 * kMiB, 220e-9, 0.99, false } }) },
             { { Figure::Kind::L1, 48 * kKiB, 24 * kKiB, 1.5e-9 },
               { Figure::Kind::L2, 2 * kMiB, 1 * kMiB, 5.4e-9 },
               { Figure::Kind::L3, 32 * kMiB, 16 * kMiB, 21e-9 },
               { Figure::Kind::Memory, 0, 128 * kMiB, 190e-9 },
               { Figure::Kind::Tlb, 0, 256 * kMiB, 25e-9 } },
             true,
             false };
}

// The memory-latency test for tests of what runs it: shows its state and gives `answer` at once, without the
// sweep's seconds and its hundreds of MiB.
class FakeLatencyTest final : public ExtendedTest<LatencyResult>
{
public:
    explicit FakeLatencyTest(LatencyResult answer = sampleResult())
        : m_answer(std::move(answer))
    {
    }

    std::size_t steps() const override { return 1; }
    ExtendedResult<LatencyResult> run(const FinishedRun&, const std::atomic<bool>& stop,
                                      ExtendedProgress& progress) override
    {
        progress.showState(state());
        if (stop.load())
            return ExtendedError { ExtendedError::Kind::Stopped, {} };
        progress.showStep(0, 1.0);
        return m_answer;
    }

private:
    LatencyResult m_answer;
};

// The row's fake (ostrel/extended/testing/FakeExtendedTests.h): a FakeLatencyTest giving sampleResult().
inline std::unique_ptr<ExtendedTest<LatencyResult>> makeFake(const ExtendedSetup&)
{
    return std::make_unique<FakeLatencyTest>();
}

} // namespace ostrel::latency::testing
