// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/engine/ExtendedResults.h"

#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <system_error>

namespace platform {
class BarHolder;
class Clock;
class TextHolder;
class UserDefaults;
} // namespace platform

namespace ostrel {

struct Panel;
struct TestKind;
class RunControl;
class Workloads;

// A run that reached its end, as it is kept in the history: the values it
// stored and how long each stage took on the stopwatch.
struct FinishedRun
{
    // The "lastTime" stored: seconds since 1970.
    double finishedAt = 0.0;
    // In the order of kTestKinds, as their bars hold them.
    std::array<double, 5> scores {};
    double overall = 0.0;
    // Seconds, in the order of kTestKinds, at the stopwatch's full precision.
    std::array<double, 5> elapsed {};
    // The extended tests that ran and gave a result.
    ExtendedResults extended;
};

// A stage whose work failed: it scored 0, and its text replaces "已完成".
struct StageFailure
{
    const TestKind* kind = nullptr;
    // The system's error the work failed with.
    std::error_code error;

    // "磁盘读写失败：磁盘空间不足" (stageFailureText()).
    QString text() const;
};

// One run of the five tests: each in order, timed and scored, its score
// shown on the panel and saved at once; then the overall score, "已完成",
// the time of the run saved and shown.
//
// Every write to the panel and the store goes through the run's control, so
// a run asked to stop writes nothing afterwards. The run looks at the stop
// request between steps and inside the long loops.
class FiveTests
{
public:
    // What a run could not do. The run goes on regardless; these say once,
    // at its end, why a score or a saved value is not what it seems.
    struct Problems
    {
        // None when every stage did its work.
        std::optional<StageFailure> failedStage;
        // The error number of the first store write that failed; none when
        // every result was saved.
        std::optional<int> saveError;
    };

    // How the five tests ended.
    struct Ended
    {
        // What the run stored, once its last write is done; none when a Stop
        // ended it first.
        std::optional<FinishedRun> finished;
        Problems problems;
    };

    struct Dependencies
    {
        Panel& panel;
        platform::UserDefaults& defaults;
        Workloads& workloads;
        RunControl& control;
        // Times the stages; a monotonic clock in the application.
        const platform::Clock& stopwatch;
        // Gives the time of the run; the wall clock in the application.
        const platform::Clock& wallClock;
        // The last-run line for an instant; lastRunText() when empty.
        std::function<QString(double)> lastRunText = {};
        // Called on the run's thread just before a stage's first clock reading (begins true) and just after its
        // last one and its score's write (begins false), outside its timed span: what else the machine did
        // meanwhile is measured there. Not called for the end of a stage a Stop cut short.
        std::function<void(const char* key, bool begins)> aroundStage = {};
    };

    explicit FiveTests(Dependencies dependencies);

    // Once per object.
    Ended run();

    // After run() finished: the state it ended with, and why the history
    // could not take the run: "已完成；历史记录未能保存：数据库文件已损坏".
    // Nothing after a Stop.
    void showUnkept(const QString& reason);

private:
    bool write(const std::function<void()>& write);
    bool setState(const TestKind& kind);
    bool advanceProgress();
    // The stage's start on the stopwatch, after aroundStage.
    double beginStage(const TestKind& kind);
    // A failed stage scores 0 whatever its time.
    bool finishStage(const TestKind& kind, double start, bool failed = false);
    void store(const QString& key, double value);
    bool steppedStage(const TestKind& kind, const std::function<bool()>& step);

    Dependencies m_;
    Problems m_problems;
    FinishedRun m_finished;
    // The state text the run ended with.
    QString m_endState;
};

// The state text of a stage whose work failed with error number `error`.
QString stageFailureText(const TestKind& kind, int error);

} // namespace ostrel
