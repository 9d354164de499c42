// SPDX-License-Identifier: GPL-3.0-or-later
// The Ostrel window: time from process start to the first painted window,
// and, during one full run with the real workloads, the peak memory and the
// lateness of a 10 ms timer on the GUI thread; then how long closing the
// window during a run takes to tear everything down.
//
// With --screenshot FILE [--busy-during KEY] it makes one run instead, with a busy loop on every CPU while the
// test KEY ("double") runs, and saves a picture of the window at its end; the lines beside the panel (skew
// conditions, disturbed tests) also go to standard output.
//
// Results go to a store in a temporary folder, never the user's.
#include "ostrel/app/MainInterface.h"
#include "ostrel/app/OLTesting.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/engine/Workloads.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double monotonicMs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p / 100.0 * double(values.size())));
    return values[index];
}

// Peak resident memory of this process so far, in MB.
double peakResidentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0.0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0.0;
}

std::unique_ptr<ostrel::MainInterface> loadWindow(QApplication& app, const QString& storePath)
{
    auto testing = std::make_unique<ostrel::OLTesting>(storePath, [] {
        return std::make_unique<ostrel::MachineWorkloads>(ostrel::MachineWorkloads::forThisApplication());
    });
    return std::make_unique<ostrel::MainInterface>(app, std::move(testing));
}

// One launch in this process, as main() does it: prints the monotonic time
// of the window's first paint, then quits.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(QWidget* window)
        : m_window(window)
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Paint && widget && widget->window() == m_window && !m_done) {
            m_done = true;
            std::printf("%.3f\n", monotonicMs());
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* m_window;
    bool m_done = false;
};

int launchChild(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(ostrel::saved::kApplication);
    QTemporaryDir dir;
    auto window = loadWindow(app, dir.filePath(QStringLiteral("ostrel.conf")));
    FirstPaint watch(&window->window());
    window->window().show();
    return app.exec();
}

void benchLaunches(int launches)
{
    std::vector<double> toFirstPaint;
    for (int i = 0; i < launches; ++i) {
        QProcess child;
        const double start = monotonicMs();
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--launch") });
        if (!child.waitForFinished(30000))
            continue;
        double painted = 0;
        if (std::sscanf(child.readAllStandardOutput().constData(), "%lf", &painted) == 1)
            toFirstPaint.push_back(painted - start);
    }
    std::printf("launch (%zu of %d)\n", toFirstPaint.size(), launches);
    std::printf("  start to first painted window:  %.1f ms median, %.1f ms worst\n", percentile(toFirstPaint, 50),
                percentile(toFirstPaint, 100));
}

// A 10 ms timer on the GUI thread; each tick records how late it came.
class LatencyProbe : public QObject
{
public:
    LatencyProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            const double now = monotonicMs();
            if (m_last > 0)
                m_lateness.push_back(std::max(0.0, now - m_last - kIntervalMs));
            m_last = now;
        });
        m_timer.start(int(kIntervalMs));
    }
    const std::vector<double>& lateness() const { return m_lateness; }

private:
    static constexpr double kIntervalMs = 10.0;
    QTimer m_timer;
    double m_last = -1;
    std::vector<double> m_lateness;
};

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    return QTest::qWaitFor(done, timeoutMs);
}

void benchFullRun(QApplication& app)
{
    QTemporaryDir dir;
    auto window = loadWindow(app, dir.filePath(QStringLiteral("ostrel.conf")));
    window->window().show();
    if (!QTest::qWaitForWindowExposed(&window->window())) {
        std::fputs("full run: the window was never shown\n", stderr);
        return;
    }
    ostrel::Panel& panel = window->testing().panel();

    LatencyProbe probe;
    QElapsedTimer run;
    run.start();
    QTest::mouseClick(&window->startButton(), Qt::LeftButton);
    const bool finished = waitFor([&] { return panel.testingState.text() == QStringLiteral("已完成"); }, 300000);
    const double seconds = double(run.elapsed()) / 1e3;

    std::printf("full run (%s in %.1f s, overall %s)\n", finished ? "finished" : "did not finish", seconds,
                qPrintable(panel.allScoreLabel.text()));
    std::printf("  peak resident memory:           %.1f MB\n", peakResidentMb());
    std::printf("  10 ms timer lateness:           p50 %.2f ms, p99 %.2f ms, worst %.2f ms (%zu ticks)\n",
                percentile(probe.lateness(), 50), percentile(probe.lateness(), 99), percentile(probe.lateness(), 100),
                probe.lateness().size());
}

void benchCloseDuringRun(QApplication& app)
{
    QTemporaryDir dir;
    auto window = loadWindow(app, dir.filePath(QStringLiteral("ostrel.conf")));
    window->window().show();
    if (!QTest::qWaitForWindowExposed(&window->window())) {
        std::fputs("close during a run: the window was never shown\n", stderr);
        return;
    }
    QTest::mouseClick(&window->startButton(), Qt::LeftButton);
    QTest::qWait(1500);
    const QString stage = window->testing().panel().testingState.text();

    // As a user's close: the delegate ends the loop, then everything goes.
    double closed = 0;
    QTimer::singleShot(0, &app, [&] {
        closed = monotonicMs();
        window->window().close();
    });
    app.exec();
    window.reset();
    std::printf("close during a run (%s)\n", qPrintable(stage));
    std::printf("  close to window and run gone:   %.1f ms\n", monotonicMs() - closed);
}

int screenshot(QApplication& app, const QString& file, const QString& busyKey)
{
    QTemporaryDir dir;
    auto window = loadWindow(app, dir.filePath(QStringLiteral("ostrel.conf")));
    window->testing().setHistory(dir.filePath(QStringLiteral("history.sqlite")), {});
    window->window().resize(720, 620);
    window->window().show();
    if (!QTest::qWaitForWindowExposed(&window->window()))
        return 1;
    ostrel::Panel& panel = window->testing().panel();
    QString busyState;
    for (const ostrel::TestKind& kind : ostrel::kTestKinds) {
        if (busyKey == QLatin1String(kind.key))
            busyState = QString::fromUtf16(kind.stateText);
    }

    // The busy loops live exactly as long as the chosen test shows as running.
    std::vector<std::unique_ptr<QProcess>> loops;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const bool during = !busyState.isEmpty() && panel.testingState.text() == busyState;
        if (during && loops.empty()) {
            for (int i = 0; i < QThread::idealThreadCount(); ++i) {
                loops.push_back(std::make_unique<QProcess>());
                loops.back()->start(QStringLiteral("sh"),
                                    { QStringLiteral("-c"), QStringLiteral("while :; do :; done") });
            }
        } else if (!during && !loops.empty()) {
            for (const std::unique_ptr<QProcess>& loop : loops) {
                loop->kill();
                loop->waitForFinished();
            }
            loops.clear();
        }
    });
    poll.start(5);
    QTest::mouseClick(&window->startButton(), Qt::LeftButton);
    const bool finished = waitFor([&] { return panel.testingState.text() == QStringLiteral("已完成"); }, 300000);
    poll.stop();
    QTest::qWait(300);
    auto* warning = window->window().findChild<QLabel*>(QStringLiteral("skewWarning"));
    std::printf("%s; beside the panel: %s\n", finished ? "finished" : "did not finish",
                warning && warning->isVisible() ? qPrintable(warning->text()) : "nothing");
    if (!window->window().grab().save(file)) {
        std::printf("could not save %s\n", qPrintable(file));
        return 1;
    }
    std::printf("saved %s\n", qPrintable(file));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--launch") == 0)
        return launchChild(argc, argv);

    const int launches = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 10;
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(ostrel::saved::kApplication);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() >= 3 && arguments[1] == QStringLiteral("--screenshot"))
        return screenshot(app, arguments[2],
                          arguments.size() == 5 && arguments[3] == QStringLiteral("--busy-during") ? arguments[4]
                                                                                                   : QString());
    benchLaunches(launches);
    benchFullRun(app);
    benchCloseDuringRun(app);
    return 0;
}
