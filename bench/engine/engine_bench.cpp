// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the benchmark engine against a bare reference of the same work,
// the cost of a holder update and of a store write, and how quickly each
// workload ends when asked to stop. Run by hand: ostrel-engine-bench [repetitions]
#include "bench/engine/BareWorkloads.h"
#include "ostrel/engine/FiveTests.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/RunControl.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/engine/Workloads.h"
#include "platform/Clock.h"
#include "platform/Doorbell.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

using Seconds = std::chrono::duration<double>;

double timed(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return Seconds(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// The five stage times of one engine run, from the scores it shows.
std::vector<double> engineRun(const QString& folder)
{
    ostrel::Panel panel;
    platform::UserDefaults defaults(QDir(folder).filePath(QStringLiteral("bench.conf")));
    ostrel::MachineWorkloads workloads(folder, folder);
    ostrel::RunControl control;
    const platform::MonotonicClock stopwatch;
    const platform::WallClock wallClock;
    ostrel::resetForRun(panel);
    ostrel::FiveTests({ panel, defaults, workloads, control, stopwatch, wallClock }).run();
    std::vector<double> seconds;
    for (const ostrel::TestKind& kind : ostrel::kTestKinds)
        seconds.push_back((ostrel::kScoreCeiling - (panel.*kind.scoreProgress).value()) * ostrel::kSecondsPerPoint);
    return seconds;
}

std::vector<double> bareRun(const QString& folder)
{
    const QByteArray path = QFile::encodeName(QDir(folder).filePath(QStringLiteral("temp.txt")));
    auto twenty = [](auto step) {
        for (int i = 0; i < 20; ++i)
            step();
    };
    return {
        timed([&] { twenty(bare::integerStep); }),
        timed([&] { twenty(bare::floatingPointStep); }),
        timed([&] { bare::piComputation(); }),
        timed([&] { twenty(bare::memoryStep); }),
        timed([&] {
            twenty([&] { bare::diskStep(path.constData()); });
            ::unlink(path.constData());
        }),
    };
}

// How long a workload takes to end once a stop is asked for, checked as the
// run does: inside the long loops and between steps.
double stopLatencyMilliseconds(const std::function<bool(const std::atomic<bool>&)>& step)
{
    std::atomic<bool> stop { false };
    std::chrono::steady_clock::time_point asked;
    std::chrono::steady_clock::time_point ended;
    std::thread worker([&] {
        for (int i = 0; i < 20 && step(stop) && !stop.load(); ++i) { }
        ended = std::chrono::steady_clock::now();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    asked = std::chrono::steady_clock::now();
    stop = true;
    worker.join();
    return std::chrono::duration<double, std::milli>(ended - asked).count();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // "ostrel-engine-bench 0" skips the full runs and measures the rest.
    const int repetitions = argc > 1 ? std::max(0, std::atoi(argv[1])) : 3;
    QTemporaryDir folder;

    const char* names[] = { "int", "double", "pi", "memory", "disk" };
    std::vector<std::vector<double>> engine(5);
    std::vector<std::vector<double>> reference(5);
    for (int r = 0; r < repetitions; ++r) {
        // Side by side, alternating which goes first.
        const auto first = r % 2 ? bareRun(folder.path()) : engineRun(folder.path());
        const auto second = r % 2 ? engineRun(folder.path()) : bareRun(folder.path());
        const auto& e = r % 2 ? second : first;
        const auto& b = r % 2 ? first : second;
        for (int s = 0; s < 5; ++s) {
            engine[s].push_back(e[s]);
            reference[s].push_back(b[s]);
        }
        std::fprintf(stderr, "repetition %d of %d:", r + 1, repetitions);
        for (int s = 0; s < 5; ++s)
            std::fprintf(stderr, "  %s %.3f/%.3f", names[s], e[s], b[s]);
        std::fprintf(stderr, "\n");
    }

    if (repetitions > 0)
        std::printf("stage    engine s   bare s    ratio   (medians of %d side-by-side runs)\n", repetitions);
    for (int s = 0; s < 5 && repetitions > 0; ++s) {
        const double e = median(engine[s]);
        const double b = median(reference[s]);
        std::printf("%-7s  %8.3f  %8.3f   %6.3f\n", names[s], e, b, e / b);
    }

    // Holder updates: alone, and with a queued view whose event loop runs
    // meanwhile, as a window's does; in bursts and one at a time.
    {
        constexpr int kAlone = 2000000;
        platform::BarHolder alone;
        const double aloneSeconds = timed([&] {
            for (int i = 0; i < kAlone; ++i)
                alone.setValue(alone.value() + 1.0 - (i % 100 == 99 ? 100.0 : 0.0));
        });
        std::printf("bar holder read-add-write, no view:          %5.0f ns\n", aloneSeconds / kAlone * 1e9);

        const QString texts[2] = { QStringLiteral("正在测试 整数运算"), QStringLiteral("87分") };
        const char* names[2] = { "bar holder read-add-write", "text holder set" };
        for (const bool doorbell : { false, true }) {
            platform::BarHolder bar;
            platform::TextHolder label;
            QObject view;
            // The window's way: a doorbell rung on every change and polled
            // during a run, the view reading the holders when it answers.
            // Else one queued signal a change.
            double seen = 0.0;
            platform::Doorbell bell([&] { seen = bar.value() + label.text().size(); });
            if (doorbell) {
                bell.beginPolling();
                auto ring = [&bell] { bell.ring(); };
                QObject::connect(&bar, &platform::BarHolder::valueChanged, &view, ring, Qt::DirectConnection);
                QObject::connect(&label, &platform::TextHolder::textChanged, &view, ring, Qt::DirectConnection);
            } else {
                QObject::connect(
                    &bar, &platform::BarHolder::valueChanged, &view, [](double) {}, Qt::QueuedConnection);
                QObject::connect(
                    &label, &platform::TextHolder::textChanged, &view, [](const QString&) {}, Qt::QueuedConnection);
            }
            const std::function<void(int)> updates[2] = {
                [&](int i) { bar.setValue(bar.value() + 1.0 - (i % 100 == 99 ? 100.0 : 0.0)); },
                [&](int i) { label.setText(texts[i % 2]); },
            };
            for (int u = 0; u < 2; ++u) {
                for (const bool spaced : { false, true }) {
                    const int count = spaced ? 2000 : 200000;
                    std::atomic<bool> done { false };
                    std::vector<double> each;
                    each.reserve(size_t(count));
                    std::thread writer([&] {
                        for (int i = 0; i < count; ++i) {
                            each.push_back(timed([&] { updates[u](i); }));
                            if (spaced)
                                std::this_thread::sleep_for(std::chrono::microseconds(200));
                        }
                        done = true;
                        // Wakes the main thread should it wait for events.
                        QMetaObject::invokeMethod(
                            &view, [] {}, Qt::QueuedConnection);
                    });
                    while (!done.load())
                        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                    writer.join();
                    QCoreApplication::processEvents();
                    double total = 0.0;
                    for (double e : each)
                        total += e;
                    std::printf("%-25s %-13s %-16s mean %5.0f ns, median %5.0f ns\n", names[u],
                                doorbell ? "polled view" : "queued view", spaced ? "one every 0.2 ms" : "in a burst",
                                total / count * 1e9, median(each) * 1e9);
                }
            }
            if (doorbell)
                bell.endPolling();
        }
    }

    // Durable store writes.
    {
        platform::UserDefaults defaults(QDir(folder.path()).filePath(QStringLiteral("store.conf")));
        constexpr int kWrites = 200;
        std::vector<double> each;
        for (int i = 0; i < kWrites; ++i)
            each.push_back(timed([&] { defaults.setDouble(QStringLiteral("int"), 80.0 + i * 0.01); }));
        std::printf("store write (on disk before it returns): median %.3f ms, max %.3f ms\n", median(each) * 1e3,
                    *std::max_element(each.begin(), each.end()) * 1e3);
    }

    // Stop latency of each workload.
    {
        ostrel::MachineWorkloads machine(folder.path(), folder.path());
        const QString scratch = machine.diskPreparation();
        const std::pair<const char*, std::function<bool(const std::atomic<bool>&)>> steps[] = {
            { "int",
              [&](const std::atomic<bool>&) {
                  machine.integerStep();
                  return true;
              } },
            { "double", [&](const std::atomic<bool>& stop) { return machine.floatingPointStep(stop); } },
            { "pi", [&](const std::atomic<bool>& stop) { return machine.piComputation(stop); } },
            { "memory", [&](const std::atomic<bool>& stop) { return machine.memoryStep(stop); } },
            { "disk",
              [&](const std::atomic<bool>&) {
                  static_cast<void>(machine.diskStep(scratch));
                  return true;
              } },
        };
        std::printf("stop latency (ms, worst of 5):");
        for (const auto& [name, step] : steps) {
            double worst = 0.0;
            for (int i = 0; i < 5; ++i)
                worst = std::max(worst, stopLatencyMilliseconds(step));
            std::printf("  %s %.1f", name, worst);
        }
        std::printf("\n");
        machine.diskCleanup(scratch);
    }
    return 0;
}
