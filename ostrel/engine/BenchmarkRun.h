#pragma once

#include <QString>

#include <functional>

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

// One complete benchmark: the five tests in order, each timed and scored,
// its score shown on the panel and saved at once; then the overall score,
// "已完成", the time of the run saved and shown.
//
// Every write to the panel and the store goes through the run's control, so
// a run asked to stop writes nothing afterwards. The run looks at the stop
// request between steps and inside the long loops.
class BenchmarkRun
{
public:
    enum class Outcome { Finished, Stopped };

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
    };

    explicit BenchmarkRun(Dependencies dependencies);

    Outcome run();

private:
    bool write(const std::function<void()>& write);
    bool setState(const TestKind& kind);
    bool advanceProgress();
    bool finishStage(const TestKind& kind, double start);
    bool steppedStage(const TestKind& kind, const std::function<bool()>& step);

    Dependencies m_;
};

} // namespace ostrel
