// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/ExtendedRun.h"

#include "ostrel/engine/FiveTests.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/RunControl.h"
#include "platform/BarHolder.h"

#include <algorithm>

namespace ostrel {

namespace {

// One test's steps on the pass's bar, from 0 to 100: its first step's place among all the steps.
class PassProgress final : public ExtendedProgress
{
public:
    PassProgress(Panel& panel, RunControl& control, std::size_t firstStep, std::size_t allSteps)
        : m_panel(panel)
        , m_control(control)
        , m_firstStep(firstStep)
        , m_allSteps(double(std::max<std::size_t>(allSteps, 1)))
    {
    }

    void showState(const QString& state) override
    {
        m_control.write([&] { m_panel.testingState.setText(state); });
    }

    void showStep(std::size_t step, const std::function<double()>& fraction) override
    {
        m_control.write([&] {
            const double done = double(m_firstStep + step) + std::clamp(fraction(), 0.0, 1.0);
            m_panel.testingProgress.setValue(100.0 * done / m_allSteps);
        });
    }

private:
    Panel& m_panel;
    RunControl& m_control;
    std::size_t m_firstStep;
    double m_allSteps;
};

} // namespace

ExtendedPanel::ExtendedPanel()
{
    for (const ExtendedKind& kind : extendedTests()) {
        lines.push_back(std::make_unique<ExtendedLine>());
        lines.back()->kind = &kind;
    }
    resetExtendedPanel(*this);
}

QList<ResultCurve> ExtendedLine::curves() const
{
    const std::lock_guard lock(m_mutex);
    return m_curves;
}

void ExtendedLine::setCurves(QList<ResultCurve> curves)
{
    const std::lock_guard lock(m_mutex);
    m_curves = std::move(curves);
}

ExtendedLine* ExtendedPanel::lineOf(const QString& key) const
{
    for (const std::unique_ptr<ExtendedLine>& line : lines) {
        if (line->kind->key == key)
            return line.get();
    }
    return nullptr;
}

void resetExtendedPanel(ExtendedPanel& shown)
{
    for (const std::unique_ptr<ExtendedLine>& line : shown.lines) {
        for (platform::TextHolder* holder : { &line->line, &line->details }) {
            holder->setHidden(true);
            holder->setText(QString());
        }
        line->setCurves({});
    }
}

ExtendedOutcome runExtendedTests(const ExtendedTests& tests, FinishedRun& finished)
{
    ExtendedOutcome outcome;
    RunControl& control = tests.control;
    Panel& panel = tests.panel;
    const QString endState = panel.testingState.text();
    if (!control.write([&] { panel.testingProgress.setValue(0.0); }))
        return outcome;

    std::size_t allSteps = 0;
    for (const PlannedTest& planned : tests.tests)
        allSteps += planned.test->steps();
    std::size_t firstStep = 0;
    for (PlannedTest& planned : tests.tests) {
        const ExtendedKind& kind = *planned.kind;
        PassProgress progress(panel, control, firstStep, allSteps);
        firstStep += planned.test->steps();
        if (tests.aroundTest)
            tests.aroundTest(kind.key, true);
        ExtendedResult<ExtendedResults::Entry> result = kind.run(*planned.test, finished, control.stopFlag(), progress);
        if (control.stopRequested() || (!result && result.error().kind == ExtendedError::Kind::Stopped))
            return outcome;
        if (tests.aroundTest)
            tests.aroundTest(kind.key, false);
        if (result)
            finished.extended.set(result.value());
        else
            finished.extended.remove(kind.key);
        ExtendedLine* line = tests.shown.lineOf(kind.key);
        const bool shown = control.write([&] {
            if (!line)
                return;
            line->setCurves(result ? kind.curves(result.value()) : QList<ResultCurve> {});
            if (result) {
                line->line.setText(kind.line(result.value()));
                line->details.setText(kind.details(result.value(), finished));
            } else {
                line->line.setText(kind.problemLine(result.error().message));
                line->details.setText(QString());
            }
            line->line.setHidden(false);
        });
        if (!shown)
            return outcome;
        if (!result)
            outcome.problems << kind.problemLine(result.error().message);
        if (tests.keep)
            tests.keep(finished);
    }
    control.write([&] {
        panel.testingProgress.setValue(100.0);
        panel.testingState.setText(endState);
    });
    return outcome;
}

} // namespace ostrel
