// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ExtendedKind.h"

#include <deque>

namespace ostrel {

// The extended tests, one row each, in the order they run (ExtendedTests.cpp). The run, the window, ostrel-cli,
// the history, its documents, CSV and metrics all follow this table.
const std::deque<ExtendedKind>& extendedTests();
// Nothing for a key no row has.
const ExtendedKind* findExtendedTest(const QString& key);

// The extended check box's text, "扩展测试（多核、磁盘、内存带宽）", and its description,
// "在五项测试之后进行多核测试、磁盘测试和内存带宽测试".
QString extendedTestsTitle();
QString extendedTestsDescription();

// What the tests do, in English, each row's help (for ostrel-cli) or summary (for the window) in table order:
// "a, b and c" and "a, b, and c".
QString extendedTestsHelp();
QString extendedTestsSummary();

// Every test's figures, in table order.
QList<ExtendedFigure> extendedFigures();

// One figure of two runs side by side; a value is empty where that run lacks the test.
struct ExtendedComparisonRow
{
    ExtendedFigure figure;
    std::optional<double> a;
    std::optional<double> b;
};
// The figures of each test that either run had, in table order; nothing when neither had any.
QList<ExtendedComparisonRow> compareExtended(const ExtendedResults& a, const ExtendedResults& b);

// What killed runs of any test left behind (ExtendedKind::removeLeftovers), with the run lock held.
void removeExtendedLeftovers(const QString& scratchFolder, const QString& folder,
                             std::chrono::system_clock::time_point before);

// A test to run, made from its row.
struct PlannedTest
{
    const ExtendedKind* kind;
    std::unique_ptr<AnyExtendedTest> test;
};
// One of each row's tests; `make` makes them, ExtendedKind::make() when empty.
using ExtendedTestMaker = std::function<std::unique_ptr<AnyExtendedTest>(const ExtendedKind&, const ExtendedSetup&)>;
std::vector<PlannedTest> planExtendedTests(const ExtendedSetup& setup, const ExtendedTestMaker& make = {});

namespace testing {

// A row after the table's own while it lives, for tests of what follows the table.
class ExtraExtendedTest
{
public:
    explicit ExtraExtendedTest(ExtendedKind kind);
    ~ExtraExtendedTest();
    ExtraExtendedTest(const ExtraExtendedTest&) = delete;
    ExtraExtendedTest& operator=(const ExtraExtendedTest&) = delete;
};

} // namespace testing

} // namespace ostrel
