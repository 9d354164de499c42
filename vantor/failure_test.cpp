// SPDX-License-Identifier: GPL-3.0-or-later
// A failure is told by its row of the failure table wherever it shows: the same answer of a local service gives the
// window's alert and vantor-cli's line on standard error, its JSON error name and its exit status from that row.
#include "vantor/net/Failure.h"
#include "vantor/testing/WindowTest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

using namespace window_test;
using vantor::FailureKind;

TEST_F(WindowTest, EachFailureIsToldByItsRowInTheWindowAndInTheTerminal)
{
    const struct
    {
        const char* address;
        HttpResponse response;
        FailureKind kind;
    } cases[] = {
        { "151.101.65.2", { 200, R"({"code":1,"data":{}})" }, FailureKind::Rejected },
        { "151.101.65.3", { 200, "<html>busy</html>" }, FailureKind::Unreadable },
        { "151.101.65.4", { 200, "", Delivery::Drop }, FailureKind::Reset },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        const QString address = QString::fromLatin1(c.address);
        const vantor::Failure& row = vantor::failure(c.kind);
        server.setResponse(kIpInfoPath + c.address, c.response);

        alerts.clear();
        controller().query(address);
        ASSERT_EQ(alerts.alerts().size(), 1);
        EXPECT_EQ(alerts.alerts()[0].messageText, QString::fromUtf16(row.title));
        EXPECT_EQ(alerts.alerts()[0].informativeText, QString::fromUtf16(row.text));

        QProcess cli;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_DIRS"), dataFolder.path());
        cli.setProcessEnvironment(environment);
        cli.start(QStringLiteral(VANTOR_CLI),
                  { QStringLiteral("--json"), QStringLiteral("--ip-info-format"), QStringLiteral("getipinfo"),
                    QStringLiteral("--ip-info-url"), server.baseUrl() + QString::fromLatin1(kIpInfoPath), address });
        // The server answers on this thread: its event loop runs while vantor-cli waits for it.
        ASSERT_TRUE(QTest::qWaitFor([&] { return cli.state() == QProcess::NotRunning; }, 30000));
        EXPECT_EQ(cli.exitCode(), row.exitStatus);
        const QString line = QString::fromUtf8(cli.readAllStandardError());
        EXPECT_TRUE(line.startsWith(QStringLiteral("vantor-cli: %1: %2").arg(address, vantor::terminalMessage(row))))
            << qPrintable(line);
        const QJsonArray report = QJsonDocument::fromJson(cli.readAllStandardOutput()).array();
        ASSERT_EQ(report.size(), 1);
        EXPECT_EQ(report[0].toObject().value(QStringLiteral("error")).toString(), QLatin1String(row.error));
    }
}

// Each name once, with its note: "network" is the name of four rows.
TEST(FailureTable, ErrorNamesForHelp)
{
    EXPECT_EQ(vantor::errorNameList(),
              QStringLiteral("rejected, unreadable, rate-limited, token-refused, not-found (not in the database), "
                             "network or insecure (the service failed the certificate check)"));
}

} // namespace
