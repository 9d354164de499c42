// SPDX-License-Identifier: GPL-3.0-or-later
// Run history costs, each against its target:
//  - appending one run to the history database, as at the end of every run (< 20 ms);
//  - opening the history window on 10,000 stored runs until its table and chart have painted (< 300 ms);
//  - the skew probe before a run (about its half-second window, never much more);
//  - reading the interference counters around a test: one read, and a test's two reads with their shares.
// Databases live in a temporary folder, never the user's. With --screenshot FILE it saves a picture of the
// window with a few months of sample runs and an imported machine instead.
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/ResultsDocument.h"
#include "ostrel/history/ui/HistoryModel.h"
#include "ostrel/history/ui/HistoryWindow.h"
#include "ostrel/machine/Interference.h"
#include "ostrel/machine/SkewProbe.h"
#include "platform/Version.h"

#include <QApplication>
#include <QChartView>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QRandomGenerator>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sched.h>
#include <unistd.h>
#include <vector>

using namespace ostrel::history;
using namespace ostrel::machine;

namespace {

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p / 100.0 * double(values.size())));
    return values[index];
}

// Runs a day apart ending now, scores wandering around base the way real runs do.
QList<RunRecord> sampleRuns(int count, double base, const QString& cpuModel, quint32 seed)
{
    QRandomGenerator random(seed);
    const double now = double(QDateTime::currentSecsSinceEpoch());
    QList<RunRecord> runs;
    for (int i = 0; i < count; ++i) {
        RunRecord run;
        run.finishedAt = now - double(i) * 86400.0 - random.bounded(3600.0);
        // Older runs a little slower, as before an upgrade.
        const double drift = i > count / 2 ? -3.0 : 0.0;
        double sum = 0.0;
        for (size_t stage = 0; stage < run.scores.size(); ++stage) {
            const double elapsed = (100.0 - (base + double(stage) * 2.0 - 4.0 + drift)) * 0.2 + random.bounded(0.3);
            run.elapsed[stage] = elapsed;
            run.scores[stage] = 100.0 - elapsed / 0.2;
            sum += run.scores[stage];
        }
        run.overall = sum / 5.0;
        run.version = QString::fromLatin1(platform::kVersion);
        run.machine.cpuModel = cpuModel;
        run.machine.logicalCpus = 8;
        if (random.bounded(10) == 0)
            run.conditions << QStringLiteral("busy");
        runs << run;
    }
    return runs;
}

// Calls back once every watched widget has finished its first paint.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(std::vector<QWidget*> widgets)
        : m_pending(std::move(widgets))
    {
        for (QWidget* widget : m_pending)
            widget->installEventFilter(this);
    }
    bool done() const { return m_pending.empty(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        widget->removeEventFilter(this);
        watched->event(event); // paint now, then note the time
        m_pending.erase(std::remove(m_pending.begin(), m_pending.end(), widget), m_pending.end());
        return true;
    }

private:
    std::vector<QWidget*> m_pending;
};

void benchAppend(const QString& folder)
{
    const QString path = folder + QStringLiteral("/append.sqlite");
    const QList<RunRecord> runs = sampleRuns(200, 80.0, QStringLiteral("Bench CPU"), 1);
    std::vector<double> times;
    for (const RunRecord& run : runs) {
        // A new connection each time, as each run of the window or ostrel-cli makes.
        QElapsedTimer timer;
        timer.start();
        HistoryStore store(path);
        const Status appended = store.append(run);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!appended) {
            std::printf("append failed: %s\n", qPrintable(appended.error().message));
            return;
        }
    }
    std::printf("history append (open + one transaction), %zu runs: first (creates the file) %.2f ms, median %.2f ms, "
                "p95 %.2f ms, max %.2f ms (target < 20 ms)\n",
                times.size(), times.front(), percentile(times, 50), percentile(times, 95),
                *std::max_element(times.begin(), times.end()));

    // The transaction alone, on a connection already open.
    times.clear();
    HistoryStore store(path);
    if (!store.open())
        return;
    for (const RunRecord& run : runs) {
        QElapsedTimer timer;
        timer.start();
        if (!store.append(run))
            return;
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("history append on an open connection, %zu runs: median %.2f ms, p95 %.2f ms\n", times.size(),
                percentile(times, 50), percentile(times, 95));
}

void benchWindow(const QString& folder)
{
    const QString path = folder + QStringLiteral("/window.sqlite");
    {
        HistoryStore store(path);
        if (!store.append(sampleRuns(10000, 80.0, QStringLiteral("Bench CPU"), 2))) {
            std::printf("could not fill the database\n");
            return;
        }
    }
    std::vector<double> times;
    for (int round = 0; round < 7; ++round) {
        QElapsedTimer timer;
        timer.start();
        HistoryWindow window(path);
        FirstPaint paint({ window.findChild<QTableView*>(QStringLiteral("runsTable"))->viewport(),
                           window.findChild<QChartView*>(QStringLiteral("chartView"))->viewport() });
        window.show();
        while (!paint.done())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (window.model().rowCount() != 10000)
            std::printf("expected 10000 rows, got %d\n", window.model().rowCount());
    }
    std::printf("history window with 10,000 runs, construct to first paint of table and chart (%s), %zu opens: "
                "first %.1f ms, median %.1f ms, max %.1f ms (target < 300 ms)\n",
                qPrintable(QGuiApplication::platformName()), times.size(), times.front(), percentile(times, 50),
                *std::max_element(times.begin(), times.end()));
}

void benchSkewProbe()
{
    std::vector<double> times;
    QStringList found;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer timer;
        timer.start();
        found = SkewProbe {}.probe();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("skew probe, %zu probes: median %.1f ms, max %.1f ms (window 500 ms); found here: %s\n", times.size(),
                percentile(times, 50), *std::max_element(times.begin(), times.end()),
                found.isEmpty() ? "nothing" : qPrintable(found.join(QStringLiteral(", "))));
}

double monotonicSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void benchInterference()
{
    constexpr int kReads = 5000;
    std::vector<double> reads;
    std::vector<double> tests;
    InterferenceCounters last;
    Interference shares;
    for (int i = 0; i < kReads; ++i) {
        QElapsedTimer timer;
        timer.start();
        last = readInterferenceCounters(monotonicSeconds(), ::sched_getcpu());
        reads.push_back(double(timer.nsecsElapsed()) / 1e3);
    }
    const long userHz = ::sysconf(_SC_CLK_TCK);
    for (int i = 0; i < kReads / 2; ++i) {
        QElapsedTimer timer;
        timer.start();
        const InterferenceCounters start = readInterferenceCounters(monotonicSeconds(), ::sched_getcpu());
        const InterferenceCounters end = readInterferenceCounters(monotonicSeconds(), ::sched_getcpu());
        shares = interferenceBetween(start, end, userHz);
        tests.push_back(double(timer.nsecsElapsed()) / 1e3);
    }
    std::printf("interference counters, %zu reads: median %.1f us, p95 %.1f us; per test (two reads and the shares), "
                "%zu tests: median %.1f us, p95 %.1f us\n",
                reads.size(), percentile(reads, 50), percentile(reads, 95), tests.size(), percentile(tests, 50),
                percentile(tests, 95));
    std::printf("  this machine gives: pressure %s, steal %s (%d CPUs), frequency %s, throttling %s\n",
                last.cpuWaitMicros ? "yes" : "no", last.stealTicks ? "yes" : "no", last.cpus,
                last.frequencyKHz ? "yes" : "no", last.throttleEvents ? "yes" : "no");
}

int screenshot(const QString& folder, const QString& file)
{
    const QString path = folder + QStringLiteral("/screenshot.sqlite");
    {
        HistoryStore store(path);
        if (!store.append(sampleRuns(24, 81.0, QStringLiteral("This CPU"), 3)))
            return 1;
    }
    ResultsDocument other;
    other.machine.cpuModel = QStringLiteral("AMD Ryzen 7 5800X 8-Core Processor");
    other.runs = sampleRuns(10, 88.0, other.machine.cpuModel, 4);
    const QString exported = folder + QStringLiteral("/other.json");
    if (!writeResultsFile(exported, other))
        return 1;

    HistoryWindow window(path);
    window.resize(1000, 780);
    window.show();
    window.importFile(exported);
    auto* table = window.findChild<QTableView*>(QStringLiteral("runsTable"));
    for (int row : { 0, 3 })
        table->selectionModel()->select(window.model().index(row, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::qWait(300);
    if (!window.grab().save(file)) {
        std::printf("could not save %s\n", qPrintable(file));
        return 1;
    }
    std::printf("saved %s\n", qPrintable(file));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments[1] == QStringLiteral("--screenshot"))
        return screenshot(folder.path(), arguments[2]);

    benchAppend(folder.path());
    benchWindow(folder.path());
    benchSkewProbe();
    benchInterference();
    return 0;
}
