// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/multicore/MulticoreTest.h"

namespace ostrel::multicore::testing {

// The row's fake (ostrel/extended/testing/FakeExtendedTests.h). All the multi-core test does is the setup's
// Workloads, which tests of what runs it fake already: its fake is the test itself, as quick as those workloads.
inline std::unique_ptr<ExtendedTest<MulticoreResult>> makeFake(const ExtendedSetup& setup)
{
    return makeTest(setup);
}

} // namespace ostrel::multicore::testing
