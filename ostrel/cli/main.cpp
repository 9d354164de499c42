// ostrel-cli: one complete benchmark in the terminal, with the engine and the
// saved results of the Ostrel window.
#include "BenchmarkRun.h"
#include "CommandLine.h"
#include "Panel.h"
#include "RunControl.h"
#include "Scores.h"
#include "TerminalView.h"
#include "Workloads.h"
#include "platform/Clock.h"
#include "platform/UserDefaults.h"
#include "platform/Version.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kExitBadArguments = 2;
constexpr int kExitStopped = 130;

int g_signalSocket[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalSocket[0], &byte, 1);
}

// Ctrl-C and SIGTERM arrive as a readable socket in the event loop, where
// asking the run to stop is safe. A second Ctrl-C ends the process at once.
bool watchStopSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSocket) != 0)
        return false;
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The same name as the window's: one store, one cache folder.
    QCoreApplication::setApplicationName(ostrel::saved::kApplication);

    const QString program = QStringLiteral("ostrel-cli");
    const ostrel::cli::Options options = ostrel::cli::parseArguments(app.arguments());
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", qPrintable(program), qPrintable(options.error),
            qPrintable(program));
        return kExitBadArguments;
    }
    if (options.help) {
        std::fputs(ostrel::cli::usage(program).toUtf8().constData(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s %s\n", qPrintable(program), platform::kVersion);
        return 0;
    }

    // With --json, standard output carries the JSON alone.
    std::FILE* out = options.json ? stderr : stdout;
    const bool interactive = ::isatty(::fileno(out)) != 0;

    ostrel::Panel panel;
    platform::UserDefaults defaults(platform::UserDefaults::pathFor(ostrel::saved::kApplication));
    ostrel::saved::registerFallbacks(defaults);
    ostrel::MachineWorkloads workloads = ostrel::MachineWorkloads::forThisApplication();
    ostrel::RunControl control;
    const platform::MonotonicClock stopwatch;
    const platform::WallClock wallClock;

    ostrel::resetForRun(panel);
    ostrel::cli::TerminalView view(panel, out, interactive);

    if (!watchStopSignals()) {
        std::perror("ostrel-cli: signals");
        return 1;
    }
    QSocketNotifier stopSignal(g_signalSocket[1], QSocketNotifier::Read);
    QObject::connect(&stopSignal, &QSocketNotifier::activated, &app, [&] {
        stopSignal.setEnabled(false);
        control.requestStop();
    });

    ostrel::BenchmarkRun run({ panel, defaults, workloads, control, stopwatch, wallClock });
    ostrel::BenchmarkRun::Outcome outcome = ostrel::BenchmarkRun::Outcome::Stopped;
    std::unique_ptr<QThread> worker(QThread::create([&] { outcome = run.run(); }));
    QObject::connect(worker.get(), &QThread::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    worker->start();
    app.exec();
    worker->wait();

    if (outcome != ostrel::BenchmarkRun::Outcome::Finished) {
        view.printStopped();
        return kExitStopped;
    }
    view.printSummary();
    if (options.json) {
        const double lastTime = defaults.doubleForKey(ostrel::saved::kLastTimeKey);
        std::fputs(QJsonDocument(ostrel::cli::runReport(panel, lastTime)).toJson().constData(), stdout);
    }
    return 0;
}
