// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ExtendedTest.h"
#include "ostrel/extended/bandwidth/BandwidthTest.h"

namespace ostrel::bandwidth::testing {

// The memory-bandwidth test for tests of what runs it: shows its state and gives `answer` at once, without
// OpenMP's threads (libgomp is not built for ThreadSanitizer) or arrays larger than the caches.
class FakeBandwidthTest final : public ExtendedTest<MemoryBandwidthResult>
{
public:
    explicit FakeBandwidthTest(MemoryBandwidthResult answer = { 2, qint64(256) << 20, false, 12.34, 13.96 })
        : m_answer(answer)
    {
    }

    std::size_t steps() const override { return 1; }
    ExtendedResult<MemoryBandwidthResult> run(const FinishedRun&, const std::atomic<bool>& stop,
                                              ExtendedProgress& progress) override
    {
        progress.showState(state());
        if (stop.load())
            return ExtendedError { ExtendedError::Kind::Stopped, {} };
        progress.showStep(0, 1.0);
        return m_answer;
    }

private:
    MemoryBandwidthResult m_answer;
};

// The row's fake (ostrel/extended/testing/FakeExtendedTests.h): a FakeBandwidthTest with its default answer.
inline std::unique_ptr<ExtendedTest<MemoryBandwidthResult>> makeFake(const ExtendedSetup&)
{
    return std::make_unique<FakeBandwidthTest>();
}

} // namespace ostrel::bandwidth::testing
