// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ExtendedTests.h"
#include "platform/TextHolder.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace ostrel {

struct FinishedRun;
struct Panel;
class RunControl;

// What the extended tests show beside the panel: one line per row of the table and the details behind it (a
// tooltip in the window). Hidden until their test ran.
struct ExtendedLine
{
    const ExtendedKind* kind = nullptr;
    platform::TextHolder line;
    platform::TextHolder details;

    // The result's curves (ExtendedKind::curves()), set before its line, so that whatever shows the line when it
    // changes finds them; none for a problem. Safe to call from any thread.
    QList<ResultCurve> curves() const;
    void setCurves(QList<ResultCurve> curves);

private:
    mutable std::mutex m_mutex;
    QList<ResultCurve> m_curves;
};

struct ExtendedPanel
{
    ExtendedPanel();

    // In table order.
    std::vector<std::unique_ptr<ExtendedLine>> lines;

    // The line of a test; nothing for a test without one.
    ExtendedLine* lineOf(const QString& key) const;
};

// Hides the lines and empties them, for a new run.
void resetExtendedPanel(ExtendedPanel& shown);

struct ExtendedTests
{
    Panel& panel;
    ExtendedPanel& shown;
    RunControl& control;
    // In the order they run (planExtendedTests()).
    std::vector<PlannedTest>& tests;
    // Called on the run's thread just before each test (begins true) and just after it (false), outside its timed
    // span, with the test's key; not after a test a Stop cut short.
    std::function<void(const QString& key, bool begins)> aroundTest = {};
    // Called on the run's thread after each test that ended and was shown, its result (or its absence) in
    // `finished`, outside the gate: keeps what the tests gave so far, so that whatever ends the process during a
    // later test loses none of them. What could not be kept is the keeper's to tell.
    std::function<void(const FinishedRun& finished)> keep = {};
};

struct ExtendedOutcome
{
    // What was asked for and not done, one sentence each; not a Stop.
    QStringList problems;
};

// The extended tests in turn after the five tests of a run that finished: in a pass of their own on the run's
// progress bar, each shown and kept as it ends, their results put into `finished`. Every write to the panel goes
// through the run's control; after a Stop nothing more is written, kept or run. The state text the run ended with is
// shown again at the end.
ExtendedOutcome runExtendedTests(const ExtendedTests& tests, FinishedRun& finished);

} // namespace ostrel
