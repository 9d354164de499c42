// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/testing/FakeExtendedTests.h"

#include "ostrel/extended/bandwidth/testing/FakeBandwidthTest.h"
#include "ostrel/extended/disk/testing/FakeDiskTest.h"
#include "ostrel/extended/latency/testing/FakeLatencyTest.h"
#include "ostrel/extended/multicore/testing/FakeMulticoreTest.h"

#include <QtGlobal>

namespace ostrel::testing {

namespace {

// The fake of the row whose results are Records.
struct Fake
{
    bool (*of)(const ExtendedKind& kind);
    std::unique_ptr<AnyExtendedTest> (*make)(const ExtendedSetup& setup);
};

template <class Record, std::unique_ptr<ExtendedTest<Record>> (*make)(const ExtendedSetup&)> constexpr Fake fake()
{
    return { [](const ExtendedKind& kind) { return kind.gives<Record>(); },
             [](const ExtendedSetup& setup) -> std::unique_ptr<AnyExtendedTest> { return make(setup); } };
}

// Each row's fake, in the table's order (ExtendedTests.cpp): a new row adds its folder's here.
constexpr Fake kFakes[] {
    fake<MulticoreResult, multicore::testing::makeFake>(),
    fake<DiskResult, disk::testing::makeFake>(),
    fake<MemoryBandwidthResult, bandwidth::testing::makeFake>(),
    fake<latency::LatencyResult, latency::testing::makeFake>(),
};

} // namespace

std::unique_ptr<AnyExtendedTest> FakeExtendedTests::operator()(const ExtendedKind& kind,
                                                               const ExtendedSetup& setup) const
{
    // The fixture's last word on a row counts.
    for (auto instead = m_instead.rbegin(); instead != m_instead.rend(); ++instead) {
        if (instead->of(kind))
            return instead->make(setup);
    }
    std::unique_ptr<AnyExtendedTest> fake = fakeExtendedTest(kind, setup);
    if (!fake)
        qFatal("The extended test \"%s\" has no fake in FakeExtendedTests.cpp", qPrintable(kind.key));
    return fake;
}

std::unique_ptr<AnyExtendedTest> fakeExtendedTest(const ExtendedKind& kind, const ExtendedSetup& setup)
{
    for (const Fake& fake : kFakes) {
        if (fake.of(kind))
            return fake.make(setup);
    }
    return nullptr;
}

} // namespace ostrel::testing
