// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ExtendedTests.h"

#include <vector>

namespace ostrel::testing {

// Makes the test of any row of the table for tests of what runs them (planExtendedTests()'s `make`): the row's fake
// from its folder (<test>/testing/), which answers at once, unless the fixture put a test of its own in its place.
// A row without a fake ends the process, naming the row.
class FakeExtendedTests
{
public:
    // The test of the row whose results are Records comes from `make` instead.
    template <class Record>
    FakeExtendedTests& instead(std::function<std::unique_ptr<ExtendedTest<Record>>(const ExtendedSetup&)> make)
    {
        m_instead.push_back({ [](const ExtendedKind& kind) { return kind.gives<Record>(); },
                              [make = std::move(make)](const ExtendedSetup& setup) -> std::unique_ptr<AnyExtendedTest> {
                                  return make(setup);
                              } });
        return *this;
    }

    std::unique_ptr<AnyExtendedTest> operator()(const ExtendedKind& kind, const ExtendedSetup& setup) const;

private:
    struct Instead
    {
        bool (*of)(const ExtendedKind& kind);
        std::function<std::unique_ptr<AnyExtendedTest>(const ExtendedSetup&)> make;
    };
    std::vector<Instead> m_instead;
};

// The row's fake; nothing when it has none.
std::unique_ptr<AnyExtendedTest> fakeExtendedTest(const ExtendedKind& kind, const ExtendedSetup& setup);

} // namespace ostrel::testing
