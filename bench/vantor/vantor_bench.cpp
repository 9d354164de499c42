// SPDX-License-Identifier: GPL-3.0-or-later
// Vantor's own cost per query and its time from start to the first painted window.
//
// The server runs in a process of its own, so the CPU time measured here is the program's alone. A query is
// measured through the real window: the fetch, the JSON, the rows and the table's model reset. The start-up is
// measured over fresh processes of this program, each building the window as the executable does.
#include "platform/ui/Alert.h"
#include "vantor/ArrayController.h"
#include "vantor/MainInterface.h"
#include "vantor/VNQuery.h"

#include <QApplication>
#include <QBuffer>
#include <QProcess>
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
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double processCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

vantor::ServiceConfig localServices(const QString& port)
{
    vantor::ServiceConfig services;
    services.ipInfoFormat = vantor::IpInfoFormat::GetIpInfo;
    services.ipInfoPrefix = QStringLiteral("http://127.0.0.1:%1/service/getIpInfo.php?ip=").arg(port);
    services.myAddressUrls = { QStringLiteral("http://127.0.0.1:%1/").arg(port) };
    return services;
}

// One launch in this process: prints the monotonic times of the first paint of the window and of the first
// paint that shows the five rows, then quits.
class PaintWatch : public QObject
{
public:
    PaintWatch(vantor::MainInterface& nib)
        : m_nib(nib)
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() != QEvent::Paint || !widget || widget->window() != m_nib.window())
            return false;
        if (m_firstPaint < 0)
            m_firstPaint = monotonicMs();
        if (m_nib.arrayController()->rowCount() == 5 && !m_done) {
            m_done = true;
            std::printf("%.3f %.3f\n", m_firstPaint, monotonicMs());
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }

private:
    vantor::MainInterface& m_nib;
    double m_firstPaint = -1;
    bool m_done = false;
};

int launchChild(int argc, char** argv, const QString& port)
{
    QApplication app(argc, argv);
    vantor::configureApplication();
    vantor::MainInterface nib(localServices(port));
    QBuffer discard;
    discard.open(QIODevice::WriteOnly);
    nib.controller()->setAddressOutput(&discard);
    PaintWatch watch(nib);
    app.installEventFilter(&watch);
    nib.launch();
    return app.exec();
}

void benchQueries(const QString& port, int queries)
{
    platform::ui::AlertRecorder alerts;
    vantor::MainInterface nib(localServices(port));
    nib.window()->show();
    vantor::VNQuery& controller = *nib.controller();

    for (int i = 0; i < 20; ++i)
        controller.query(QStringLiteral("81.2.69.1"));

    std::vector<double> wall;
    const double cpuStart = processCpuMs();
    const double wallStart = monotonicMs();
    for (int i = 0; i < queries; ++i) {
        const double start = monotonicMs();
        controller.query(QStringLiteral("81.2.69.1"));
        wall.push_back(monotonicMs() - start);
    }
    const double cpuPerQuery = (processCpuMs() - cpuStart) / queries;
    const double wallPerQuery = (monotonicMs() - wallStart) / queries;

    std::printf("query (%d, server answering at once in another process)\n", queries);
    std::printf("  own CPU time per query:   %.3f ms\n", cpuPerQuery);
    std::printf("  wall time per query:      %.3f ms mean, %.3f ms median\n", wallPerQuery, median(wall));
    std::printf("  rows shown: %lld, alerts: %lld\n", static_cast<long long>(controller.List().size()),
                static_cast<long long>(alerts.alerts().size()));
}

void benchLaunches(const QString& port, int launches)
{
    std::vector<double> toFirstPaint;
    std::vector<double> toRows;
    for (int i = 0; i < launches; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const double start = monotonicMs();
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--launch"), port });
        if (!child.waitForFinished(30000))
            child.kill();
        double firstPaint = 0;
        double rowsPaint = 0;
        if (std::sscanf(child.readAllStandardOutput().constData(), "%lf %lf", &firstPaint, &rowsPaint) != 2)
            continue;
        toFirstPaint.push_back(firstPaint - start);
        toRows.push_back(rowsPaint - start);
    }
    std::printf("launch (%zu of %d, both services answering at once)\n", toFirstPaint.size(), launches);
    std::printf("  start to first painted window:   %.1f ms median\n", median(toFirstPaint));
    std::printf("  start to the five rows painted:  %.1f ms median\n", median(toRows));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--launch") == 0)
        return launchChild(argc, argv, QString::fromLatin1(argv[2]));

    QApplication app(argc, argv);
    const int queries = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 500;
    const int launches = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 15;

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(VANTOR_BENCH_SERVER), {});
    if (!server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "the benchmark server did not start\n");
        return 1;
    }
    const QString port = QString::fromLatin1(server.readLine().trimmed());

    benchQueries(port, queries);
    benchLaunches(port, launches);

    server.closeWriteChannel();
    server.waitForFinished();
    return 0;
}
