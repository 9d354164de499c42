// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ResultCurve.h"
#include "platform/Result.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace platform {
class Clock;
}

namespace ostrel {

struct FinishedRun;
class Workloads;

// Why an extended test gave no result, or why a stored result does not read back.
struct ExtendedError
{
    enum class Kind {
        // The run's stop request ended the test; nothing is shown for it.
        Stopped,
        // The test could not be done; the message says why, for the user.
        Failed,
        // A result read back has a member no version could have written; the message names the member
        // ("elapsed.pi").
        BadMember,
    };

    Kind kind = Kind::Failed;
    QString message;
};

template <typename T> using ExtendedResult = platform::Result<T, ExtendedError>;

// What every extended test may use, fixed when the run starts.
struct ExtendedSetup
{
    // Safe to call from several threads at once.
    Workloads& workloads;
    const platform::Clock& stopwatch;
    // The CPUs the process may run on (platform::usableCpuCount() in the programs).
    int threads = 1;
    // Where a test that writes files writes them: the chosen folder, else the scratch file's.
    QString folder;
};

// What a test shows while it runs, on the run's progress bar. Every call goes through the run's gate, so after a
// Stop it shows nothing more; both may be called from any thread.
class ExtendedProgress
{
public:
    virtual ~ExtendedProgress() = default;
    // The state text: "正在测试 磁盘 顺序读取".
    virtual void showState(const QString& state) = 0;
    // How far step `step` of the test's steps() is, 0 to 1; fraction() is called inside the gate, so that what it
    // counts never takes the bar back.
    virtual void showStep(std::size_t step, const std::function<double()>& fraction) = 0;
    void showStep(std::size_t step, double fraction)
    {
        showStep(step, [fraction] { return fraction; });
    }
};

// One extended test, run once after the five tests of a finished run.
class AnyExtendedTest
{
public:
    virtual ~AnyExtendedTest() = default;
    // Its share of the pass's bar, in equal steps.
    virtual std::size_t steps() const = 0;
};

// A test whose result is a Record. run() returns soon after `stop` is set, with Kind::Stopped.
template <class Record> class ExtendedTest : public AnyExtendedTest
{
public:
    virtual ExtendedResult<Record> run(const FinishedRun& run, const std::atomic<bool>& stop,
                                       ExtendedProgress& progress)
        = 0;
};

// How a figure compares between runs.
enum class Better { Higher, Lower, Neither };

// One number of a result, as the CSV, the history window and the comparison of two runs show it.
template <class Record> struct Figure
{
    // After the test's key in the CSV column: "seqRead_mbps" makes "disk_seqRead_mbps".
    QString key;
    // On screen: "顺序读 MB/s".
    QString title;
    int decimals = 0;
    Better better = Better::Neither;
    // A column of its own in the history window's list of runs.
    bool listed = false;
    std::function<std::optional<double>(const Record&)> value;
};

// A text of a result that is no figure: a CSV column after the test's key ("folder" makes "disk_folder").
template <class Record> struct TextColumn
{
    QString key;
    std::function<QString(const Record&)> text;
};

// One Prometheus metric family of a result: its samples, each with its labels (values unescaped).
struct MetricSample
{
    double value = 0.0;
    std::vector<std::pair<QString, QString>> labels = {};
};
struct MetricFamily
{
    QString name;
    QString help;
    QList<MetricSample> samples;
};

// All a test's folder provides, for one row of the table (ExtendedTests.cpp). Its texts are the test's own;
// nothing outside its folder knows its members.
template <class Record> struct TestDescription
{
    // The JSON member of a run, the history's name for the result, the CSV columns' prefix: "disk".
    const char* key;
    // What the user calls it: "磁盘". The check box's text, the failure line and the JSON refusals name it.
    const char16_t* name;
    // What it does, for ostrel-cli --help ("a disk test with … (…)") and the window's --help (shorter).
    const char* help;
    const char* summary;
    std::unique_ptr<ExtendedTest<Record>> (*make)(const ExtendedSetup& setup);
    // The line shown for a result, starting with the name: "磁盘：顺序读 2900 MB/s，…".
    QString (*line)(const Record& result);
    // Behind the line (its tooltip, and below it in ostrel-cli): `run` is the run the test followed.
    QString (*details)(const Record& result, const FinishedRun& run);
    // Behind a figure of the result in the history window's list of runs.
    QString (*historyTip)(const Record& result);
    QList<Figure<Record>> (*figures)();
    // CSV columns before the figures; none for most tests.
    QList<TextColumn<Record>> (*texts)();
    QJsonObject (*toJson)(const Record& result);
    // Refuses wrong types, negative or non-finite numbers, naming the member.
    ExtendedResult<Record> (*fromJson)(const QJsonObject& object);
    QList<MetricFamily> (*metrics)(const Record& result);
    // The curves the result gives besides its figures, drawn below its line and in the history window; only its
    // toJson() stores them (each as curveJson() writes it), never the CSV or the metrics. Null for a test without.
    QList<ResultCurve> (*curves)(const Record& result) = nullptr;
    // Removes what a killed run of the test left behind in `scratchFolder` (the five tests') and `folder` (the
    // chosen one, or empty), older than `before`; null when it leaves nothing.
    void (*removeLeftovers)(const QString& scratchFolder, const QString& folder,
                            std::chrono::system_clock::time_point before)
        = nullptr;
};

} // namespace ostrel
