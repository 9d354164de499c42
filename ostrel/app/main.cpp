// SPDX-License-Identifier: GPL-3.0-or-later
// Ostrel: the benchmark window.
#include "ostrel/app/AppDelegate.h"
#include "ostrel/app/MainInterface.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/extended/ExtendedTests.h"
#include "platform/Version.h"
#include "platform/WrappedText.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMainWindow>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

// --help and --version are answered before any display is opened, so they
// work on a console and at build time, where the manual page is made from
// them. Every other argument is left to QApplication (-platform, -style, ...).
std::optional<int> answerInformationOptions(int argc, char** argv)
{
    // The usage line names the program, not the path it was started by.
    char name[] = "ostrel";
    std::vector<char*> arguments(argv, argv + argc);
    if (arguments.empty())
        arguments.push_back(name);
    arguments.front() = name;
    int count = int(arguments.size());
    const QCoreApplication console(count, arguments.data());
    QCoreApplication::setApplicationName(QStringLiteral("ostrel"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(platform::kVersion));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Opens the Ostrel window, a machine benchmark: five timed tests one after another (integer,\n"
                       "floating point, pi, memory and disk). Each test scores 100 points less 5 points a second; the\n"
                       "scores and the time of the run are saved and shown again at the next launch.\n"
                       "%1\n"
                       "\n"
                       "The Qt options (-platform, -style, ...) are accepted as well. ostrel-cli runs the same\n"
                       "benchmark in a terminal.")
            .arg(
                platform::wrappedText(QStringLiteral("On request (a check box) the extended tests follow the five: %1.")
                                          .arg(ostrel::extendedTestsSummary()),
                                      92)));
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") },
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({ QStringLiteral("v"), QStringLiteral("version") },
                                     QStringLiteral("Show the version and exit."));
    // -h and -v only as whole words: Qt's -reverse or -platformtheme are not
    // a bundle of single-letter options.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(help);
    parser.addOption(version);
    // Unknown options are Qt's own; they are not an error here.
    parser.parse(console.arguments());

    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("ostrel %s\n", platform::kVersion);
        return 0;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> status = answerInformationOptions(argc, argv))
        return *status;

    QApplication app(argc, argv);
    // The same name as ostrel-cli's: one store of results, one cache folder.
    QCoreApplication::setApplicationName(ostrel::saved::kApplication);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Ostrel"));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.ostrel.Ostrel"));

    ostrel::MainInterface interface(app);
    interface.delegate().applicationDidFinishLaunching();
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &interface.delegate(),
                     &ostrel::AppDelegate::applicationWillTerminate);
    interface.window().show();
    app.exec();
    return 0;
}
