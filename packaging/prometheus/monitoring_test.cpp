// SPDX-License-Identifier: GPL-3.0-or-later
// The shipped rules and dashboard on Debian's own Prometheus: ostrel-cli writes a run for node_exporter's textfile
// collector, Prometheus scrapes it and evaluates the rules, and every expression of the dashboard must answer with
// series. Everything listens on 127.0.0.1 only.
#include "ostrel/history/HistoryStore.h"
#include "ostrel/testing/SampleRuns.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <gtest/gtest.h>

namespace {

const QString kPrometheus = QStringLiteral("/usr/bin/prometheus");
const QString kNodeExporter = QStringLiteral("/usr/bin/prometheus-node-exporter");
constexpr int kWaitMs = 60000;

quint16 freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
}

// A program that serves HTTP on 127.0.0.1, stopped when the test ends.
class Server
{
public:
    ~Server()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Starts the program with the arguments that `arguments` makes for a port, trying a few ports in case another
    // program takes the free one first, until `ready` answers true.
    bool start(const QString& program, const std::function<QStringList(quint16)>& arguments,
               const std::function<bool(quint16)>& ready)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        for (int attempt = 0; attempt < 3; ++attempt) {
            m_port = freePort();
            m_process.start(program, arguments(m_port));
            if (!m_process.waitForStarted(5000))
                return false;
            QElapsedTimer waited;
            waited.start();
            while (m_process.state() == QProcess::Running && waited.elapsed() < kWaitMs) {
                if (ready(m_port))
                    return true;
                QThread::msleep(200);
            }
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        return false;
    }

    quint16 port() const { return m_port; }
    QString output() { return QString::fromUtf8(m_process.readAll()); }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// The body of a GET on 127.0.0.1, empty when there was no answer within 5 seconds or it was not 200.
QByteArray httpGet(quint16 port, const QString& path, const QByteArray& encodedQuery = {})
{
    QUrl url(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
    url.setQuery(QString::fromLatin1(encodedQuery), QUrl::StrictMode);
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.get(QNetworkRequest(url));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray body
        = reply->isFinished() && reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    reply->abort();
    reply->deleteLater();
    return body;
}

// The series an instant query answers with; empty on any error.
QJsonArray instantQuery(quint16 port, const QString& expression)
{
    // Every '+' percent-encoded: the API reads a plain one as a space, as forms do.
    const QByteArray query = "query=" + QUrl::toPercentEncoding(expression);
    const QJsonObject answer = QJsonDocument::fromJson(httpGet(port, QStringLiteral("/api/v1/query"), query)).object();
    if (answer.value(QStringLiteral("status")).toString() != QLatin1String("success"))
        return {};
    return answer.value(QStringLiteral("data")).toObject().value(QStringLiteral("result")).toArray();
}

TEST(Monitoring, EveryDashboardExpressionAnswersOnARealPrometheus)
{
    ASSERT_TRUE(QFileInfo(kPrometheus).isExecutable()) << "scripts/setup installs prometheus";
    ASSERT_TRUE(QFileInfo(kNodeExporter).isExecutable()) << "scripts/setup installs prometheus-node-exporter";

    // A run with the extended results in this test's own history, a minute old, written out as a timer would.
    ostrel::history::HistoryStore store;
    const double finishedAt = double(QDateTime::currentSecsSinceEpoch() - 60);
    ASSERT_TRUE(store.append(ostrel::history::testing::sampleExtendedRun(finishedAt)));
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("textfile")));
    const QString promFile = dir.filePath(QStringLiteral("textfile/ostrel.prom"));
    QProcess cli;
    cli.setProcessChannelMode(QProcess::MergedChannels);
    cli.start(QStringLiteral(OSTREL_CLI), { QStringLiteral("--prometheus"), promFile });
    ASSERT_TRUE(cli.waitForFinished(30000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAll().toStdString();

    Server exporter;
    ASSERT_TRUE(exporter.start(
        kNodeExporter,
        [&](quint16 port) {
            return QStringList { QStringLiteral("--collector.disable-defaults"), QStringLiteral("--collector.textfile"),
                                 QStringLiteral("--collector.textfile.directory=") + dir.filePath("textfile"),
                                 QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port) };
        },
        [](quint16 port) { return !httpGet(port, QStringLiteral("/metrics")).isEmpty(); }))
        << exporter.output().toStdString();

    const QString config = dir.filePath(QStringLiteral("prometheus.yml"));
    {
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                  "rule_files:\n  - \"%1\"\n"
                                  "scrape_configs:\n  - job_name: node\n    static_configs:\n"
                                  "      - targets: [\"127.0.0.1:%2\"]\n")
                       .arg(QStringLiteral(OSTREL_RULES))
                       .arg(exporter.port())
                       .toUtf8());
    }
    Server prometheus;
    ASSERT_TRUE(prometheus.start(
        kPrometheus,
        [&](quint16 port) {
            return QStringList { QStringLiteral("--config.file=") + config,
                                 QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("data")),
                                 QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port) };
        },
        [](quint16 port) { return !httpGet(port, QStringLiteral("/-/ready")).isEmpty(); }))
        << prometheus.output().toStdString();

    // The first scrape and the first evaluation of the rules after it.
    QElapsedTimer waited;
    waited.start();
    while (instantQuery(prometheus.port(), QStringLiteral("instance:ostrel_last_run:age_seconds")).isEmpty()
           && waited.elapsed() < kWaitMs)
        QThread::msleep(250);
    const QJsonArray up = instantQuery(prometheus.port(), QStringLiteral("up{job=\"node\"} == 1"));
    ASSERT_EQ(up.size(), 1) << prometheus.output().toStdString();

    QFile dashboardFile(QStringLiteral(OSTREL_DASHBOARD));
    ASSERT_TRUE(dashboardFile.open(QIODevice::ReadOnly));
    const QJsonObject dashboard = QJsonDocument::fromJson(dashboardFile.readAll()).object();
    const QJsonArray panels = dashboard.value(QStringLiteral("panels")).toArray();
    ASSERT_FALSE(panels.isEmpty());
    QStringList expressions;
    for (const QJsonValue& panel : panels)
        for (const QJsonValue& target : panel.toObject().value(QStringLiteral("targets")).toArray())
            expressions << target.toObject().value(QStringLiteral("expr")).toString();
    // The machine picker's own query: label_values(metric, label) asks for the metric's series.
    for (const QJsonValue& variable : dashboard.value("templating").toObject().value("list").toArray()) {
        const QString definition = variable.toObject().value(QStringLiteral("definition")).toString();
        ASSERT_TRUE(definition.startsWith(QLatin1String("label_values("))) << definition.toStdString();
        expressions << definition.mid(13).section(QLatin1Char(','), 0, 0);
    }
    // Every panel and query of the dashboard; "All" machines is the picker's allValue.
    for (QString expression : expressions) {
        expression.replace(QLatin1String("$instance"), QLatin1String(".+"));
        const QJsonArray series = instantQuery(prometheus.port(), expression);
        EXPECT_FALSE(series.isEmpty()) << expression.toStdString();
    }
    const QJsonArray age = instantQuery(prometheus.port(), QStringLiteral("instance:ostrel_last_run:age_seconds"));
    ASSERT_EQ(age.size(), 1);
    const double seconds = age.at(0).toObject().value("value").toArray().at(1).toString().toDouble();
    EXPECT_GE(seconds, 60.0);
    EXPECT_LT(seconds, 60.0 + kWaitMs / 1000.0 * 4);
}

} // namespace
