// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/engine/FiveTests.h"

#include "ostrel/engine/Panel.h"
#include "ostrel/engine/RunControl.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/engine/Workloads.h"
#include "platform/Clock.h"
#include "platform/ErrorText.h"
#include "platform/UserDefaults.h"

namespace ostrel {

namespace {

constexpr int kStepsPerStage = 20;
constexpr double kProgressAfterPi = 60.0;
constexpr double kProgressAfterDisk = 100.0;

const TestKind& kind(const char* key)
{
    for (const TestKind& candidate : kTestKinds) {
        if (qstrcmp(candidate.key, key) == 0)
            return candidate;
    }
    Q_UNREACHABLE();
}

std::size_t indexOf(const TestKind& kind)
{
    return std::size_t(&kind - kTestKinds.data());
}

} // namespace

QString stageFailureText(const TestKind& kind, int error)
{
    return QString::fromUtf16(kind.title) + QStringLiteral("失败：") + platform::errorText(error);
}

QString StageFailure::text() const
{
    return stageFailureText(*kind, error.value());
}

FiveTests::FiveTests(Dependencies dependencies)
    : m_(std::move(dependencies))
{
    if (!m_.lastRunText)
        m_.lastRunText = &ostrel::lastRunText;
}

bool FiveTests::write(const std::function<void()>& write)
{
    return m_.control.write(write);
}

bool FiveTests::setState(const TestKind& kind)
{
    return write([&] { m_.panel.testingState.setText(QString::fromUtf16(kind.stateText)); });
}

// Read, add one, write: the bar itself is the count of steps begun.
bool FiveTests::advanceProgress()
{
    return write([&] {
        platform::BarHolder& progress = m_.panel.testingProgress;
        progress.setValue(progress.value() + 1.0);
    });
}

double FiveTests::beginStage(const TestKind& kind)
{
    if (m_.aroundStage)
        m_.aroundStage(kind.key, true);
    return m_.stopwatch.now();
}

// Shown on the bar, labelled from the read-back value, and that value saved,
// all in one write so that a stop never leaves a stage half finished.
bool FiveTests::finishStage(const TestKind& kind, double start, bool failed)
{
    const double end = m_.stopwatch.now();
    m_finished.elapsed[indexOf(kind)] = end - start;
    const bool written = write([&] {
        platform::BarHolder& bar = m_.panel.*kind.scoreProgress;
        showScore(bar, m_.panel.*kind.scoreLabel, failed ? 0.0 : stageScore(end - start));
        store(QString::fromLatin1(kind.key), bar.value());
        m_finished.scores[indexOf(kind)] = bar.value();
    });
    if (written && m_.aroundStage)
        m_.aroundStage(kind.key, false);
    return written;
}

// A value that could not be stored does not stop the run: the scores still
// show, and the first failure is kept to be reported at the end.
void FiveTests::store(const QString& key, double value)
{
    if (!m_.defaults.setDouble(key, value) && !m_problems.saveError)
        m_problems.saveError = m_.defaults.lastWriteError();
}

bool FiveTests::steppedStage(const TestKind& kind, const std::function<bool()>& step)
{
    const double start = beginStage(kind);
    if (!setState(kind))
        return false;
    for (int i = 0; i < kStepsPerStage; ++i) {
        if (!advanceProgress() || !step())
            return false;
    }
    return finishStage(kind, start);
}

FiveTests::Ended FiveTests::run()
{
    Panel& panel = m_.panel;
    Workloads& work = m_.workloads;
    const std::atomic<bool>& stop = m_.control.stopFlag();
    const auto stopped = [&] { return Ended { .finished = std::nullopt, .problems = m_problems }; };

    // Integer: the state text is set before the stage's first clock reading.
    const TestKind& integer = kind("int");
    if (!setState(integer))
        return stopped();
    double start = beginStage(integer);
    if (!write([&] { panel.testingState.setHidden(false); }))
        return stopped();
    for (int i = 0; i < kStepsPerStage; ++i) {
        if (!advanceProgress())
            return stopped();
        work.integerStep();
    }
    if (!finishStage(integer, start))
        return stopped();

    if (!steppedStage(kind("double"), [&] { return work.floatingPointStep(stop); }))
        return stopped();

    const TestKind& pi = kind("pi");
    start = beginStage(pi);
    if (!setState(pi) || !work.piComputation(stop) || !write([&] { panel.testingProgress.setValue(kProgressAfterPi); })
        || !finishStage(pi, start))
        return stopped();

    if (!steppedStage(kind("memory"), [&] { return work.memoryStep(stop); }))
        return stopped();

    const TestKind& disk = kind("disk");
    start = beginStage(disk);
    if (!setState(disk))
        return stopped();
    const QString scratch = work.diskPreparation();
    std::optional<std::error_code> diskError;
    for (int i = 0; i < kStepsPerStage; ++i) {
        if (!advanceProgress()) {
            work.diskCleanup(scratch);
            return stopped();
        }
        if (const DiskStatus done = work.diskStep(scratch); !done && !diskError)
            diskError = done.error();
    }
    work.diskCleanup(scratch);
    if (!write([&] { panel.testingProgress.setValue(kProgressAfterDisk); })
        || !finishStage(disk, start, diskError.has_value()))
        return stopped();
    if (diskError)
        m_problems.failedStage = StageFailure { .kind = &disk, .error = *diskError };

    const bool finished = write([&] {
        m_finished.overall = showOverallScore(panel);
        m_endState = m_problems.failedStage ? m_problems.failedStage->text() : QStringLiteral("已完成");
        panel.testingState.setText(m_endState);
        m_finished.finishedAt = m_.wallClock.now();
        store(saved::kLastTimeKey, m_finished.finishedAt);
        // A second reading of the clock, taken after the saved one.
        panel.lastTime.setText(m_.lastRunText(m_.wallClock.now()));
    });
    if (!finished)
        return stopped();
    return { .finished = m_finished, .problems = m_problems };
}

void FiveTests::showUnkept(const QString& reason)
{
    write([&] { m_.panel.testingState.setText(m_endState + QStringLiteral("；历史记录未能保存：") + reason); });
}

} // namespace ostrel
