// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Result.h"
#include "vantor/net/Configuration.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace vantor::options {

inline constexpr int kExitBadUsage = 2;

// What a program does instead of running: print help or its version on standard output (status 0), or a mistake
// on standard error (kExitBadUsage).
struct Exit
{
    int status = 0;
    QString text;
};

// Prints the exit's text where it belongs; returns its status, or platform::kExitOutputClosed when standard output
// could not take it.
int printExit(const Exit& exit);
// The warnings a program runs with, a line each on standard error.
void printWarnings(const QStringList& warnings);

// The option that sets the setting, "--ip-info-format" and the like.
QString optionName(ServiceSetting setting);

// resolveServices(), its errors naming the options.
Result<ResolvedServices> resolveServiceOptions(const ServiceSettings& commandLine, const ServiceSettings& file,
                                               const QString& filePath);

// One program's command line: -h/--help, --version, the program's own options and the service options both programs
// share, which override the configuration file. Parsing needs no application object, so help, the version and
// mistakes are answered before any window (or display connection) exists.
class CommandLine
{
public:
    CommandLine(QString program, const QString& description);

    QCommandLineParser& parser() { return m_parser; }
    const QString& program() const { return m_program; }

    // After the program's own options.
    void addServiceOptions();

    // A mistake, help or the version: Qt's text for a mistake, quoting what was given; for help `usage` after
    // "[options]" on the first line, then the options' own descriptions, the sections both programs share and
    // `sections`.
    platform::Status<Exit> parse(const QStringList& arguments, const QString& usage, const QString& sections);

    // The services that the command line and the file at `configurationPath` set, the warnings naming the program.
    // The configuration file is read only now, once the command line is known to be good.
    platform::Result<ResolvedServices, Exit> services(const QString& configurationPath);

    Exit badUsage(const QString& message) const;

private:
    QString m_program;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_version;
};

} // namespace vantor::options
