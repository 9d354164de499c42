// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Result.h"

#include <QString>
#include <QStringList>

namespace ostrel::run {
struct RunOutcome;
}

namespace ostrel::cli {

struct Options
{
    // What ostrel-cli does: benchmark runs, or one of the history commands.
    enum class Mode { Run, History, Export, Compare, Prometheus };

    Mode mode = Mode::Run;
    bool json = false;
    bool csv = false;
    // --export: every run, not only the latest.
    bool all = false;
    // Complete runs back to back; with untilSteady, the most runs.
    int runs = 1;
    // --runs auto[:MAX]: at least three runs, then one more until every score has settled.
    bool untilSteady = false;
    // The file of --export or --compare.
    QString file;
    // --prometheus: where the latest finished run goes as Prometheus text, after the runs or, given alone
    // (Mode::Prometheus), from the history.
    QString prometheusFile;
    // The extended tests (multi-core, disk, memory bandwidth) after the five tests of each run.
    bool extended = false;
    // The disk test's folder; empty for the scratch folder.
    QString diskFolder;
};

// The name its messages start with, whatever its path.
inline const QString kProgram = QStringLiteral("ostrel-cli");

// How ostrel-cli ends.
enum ExitStatus {
    kExitSuccess = 0,
    kExitBadArguments = 2,
    // The run finished, but a test failed or a result could not be saved.
    kExitProblem = 3,
    // Another benchmark of this user was under way: nothing was run.
    kExitBusy = 4,
    kExitStopped = 130,
};

// A command line that ends before any job: --help or --version, for standard output with kExitSuccess, or why the
// arguments cannot be used, for standard error with kExitBadArguments.
struct Exit
{
    int status = kExitSuccess;
    QString text;
};

// arguments[0] is the program's path.
platform::Result<Options, Exit> parseArguments(const QStringList& arguments);

struct RunEnd
{
    int exitStatus = kExitSuccess;
    // For standard error, one line each, after the program's name.
    QStringList messages;
};

// The exit status of a run and what it must say about what went wrong.
RunEnd runEnd(const run::RunOutcome& outcome);

// --help's text, its options from the table of the options.
QString usage();

} // namespace ostrel::cli
