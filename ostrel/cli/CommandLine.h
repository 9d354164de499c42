// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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
    bool help = false;
    bool version = false;
    // Set when the arguments cannot be used; says why.
    QString error;
};

Options parseArguments(const QStringList& arguments);

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

struct RunEnd
{
    int exitStatus = kExitSuccess;
    // For standard error, one line each, after the program's name.
    QStringList messages;
};

// The exit status of a run and what it must say about what went wrong.
RunEnd runEnd(const run::RunOutcome& outcome);

QString usage(const QString& program);

} // namespace ostrel::cli
