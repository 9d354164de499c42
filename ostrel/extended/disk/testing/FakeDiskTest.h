// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ExtendedTest.h"
#include "ostrel/extended/disk/DiskTest.h"

namespace ostrel::disk::testing {

// What a disk might give: /srv on ext4 read directly, a 1 GiB file.
inline DiskResult sampleResult()
{
    return { QStringLiteral("/srv"), QStringLiteral("ext4"), true, 1LL << 30, { 2900.0, {} }, { 1500.0, {} },
             { 74.0, 18000.0 },      { 37.0, 9000.0 } };
}

// The disk test for tests of what runs it: fio's four jobs as its steps, each with its state(), and then
// `answer` at once, without fio or a file.
class FakeDiskTest final : public ExtendedTest<DiskResult>
{
public:
    // A result, or why there is none.
    struct Outcome
    {
        std::optional<DiskResult> result = sampleResult();
        QString problem = {};
    };

    FakeDiskTest() = default;
    explicit FakeDiskTest(Outcome outcome)
        : answer(std::move(outcome))
    {
    }

    Outcome answer;
    // Called as the given job begins; a stop requested then ends the test.
    std::function<void(std::size_t job)> atJob = [](std::size_t) {};

    std::size_t steps() const override { return kDiskJobs.size(); }
    ExtendedResult<DiskResult> run(const FinishedRun&, const std::atomic<bool>& stop,
                                   ExtendedProgress& progress) override
    {
        for (std::size_t job = 0; job < kDiskJobs.size(); ++job) {
            progress.showState(state(job));
            progress.showStep(job, 0.0);
            atJob(job);
            if (stop.load())
                return ExtendedError { ExtendedError::Kind::Stopped, {} };
            progress.showStep(job, 0.5);
            progress.showStep(job, 1.0);
        }
        if (!answer.result)
            return ExtendedError { ExtendedError::Kind::Failed, answer.problem };
        return *answer.result;
    }
};

// The row's fake (ostrel/extended/testing/FakeExtendedTests.h): a FakeDiskTest giving sampleResult().
inline std::unique_ptr<ExtendedTest<DiskResult>> makeFake(const ExtendedSetup&)
{
    return std::make_unique<FakeDiskTest>();
}

} // namespace ostrel::disk::testing
