#pragma once

#include <QString>
#include <QStringList>

namespace ostrel::cli {

struct Options
{
    bool json = false;
    bool help = false;
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
    kExitStopped = 130,
};

struct RunEnd
{
    int exitStatus = kExitSuccess;
    // For standard error, one line each, after the program's name.
    QStringList messages;
};

// The exit status of a run and what it must say about what went wrong:
// a failed stage's text, a store that could not be written.
RunEnd runEnd(bool finished, const QString& failedStage, int saveError,
    const QString& storeFile);

QString usage(const QString& program);

} // namespace ostrel::cli
