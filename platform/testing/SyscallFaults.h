// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs a program under strace, one system call of it made to fail (strace --inject), and reads back from strace's
// log which calls it made and which one failed: for the tests that try every failure of a program's outputs.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstring>
#include <functional>
#include <optional>

namespace platform::testing {

// A file's bytes as the test finds them afterwards; empty when there is none.
inline QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The calls a program's outputs go through: stdio and Qt write() and close(), writeWholeFile() fsync() and renameat(),
// SQLite pwrite64() and fdatasync().
inline const QStringList kOutputCalls { QStringLiteral("write"),    QStringLiteral("pwrite64"),
                                        QStringLiteral("fsync"),    QStringLiteral("fdatasync"),
                                        QStringLiteral("renameat"), QStringLiteral("close") };

// The `when`-th call of `call` in each thread (strace counts per thread) fails with `error`.
struct Fault
{
    QString call;
    int error = 0;
    int when = 1;
};

inline QString faultText(const Fault& fault)
{
    return QStringLiteral("%1 #%2 -> %3")
        .arg(fault.call)
        .arg(fault.when)
        .arg(QString::fromLatin1(strerrorname_np(fault.error)));
}

// One call of strace's log: its thread's log, the call, the path of its first descriptor (strace -y) and its number
// among that thread's calls of the same name.
struct TracedCall
{
    QString thread;
    QString call;
    QString path;
    int ordinal = 0;
    bool injected = false;
};

struct TracedRun
{
    int exitCode = -1;
    QByteArray err;
    QList<TracedCall> calls;

    QList<TracedCall> injected() const
    {
        QList<TracedCall> found;
        for (const TracedCall& call : calls) {
            if (call.injected)
                found << call;
        }
        return found;
    }
};

// What a traced program gets: its arguments, its environment, standard output into `outputFile`, and the paths
// strace keeps to (-P; all when empty).
struct TracedCommand
{
    QString program;
    QStringList arguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QString outputFile;
    QStringList paths;
};

// Runs the command under strace with every thread traced, each thread's log in a file of its own so that no call is
// split over two lines; without a fault nothing fails.
inline TracedRun runTraced(const TracedCommand& command, const std::optional<Fault>& fault = std::nullopt)
{
    TracedRun run;
    QTemporaryDir logs;
    const QString calls = kOutputCalls.join(QLatin1Char(','));
    QStringList arguments { QStringLiteral("-f"),  QStringLiteral("-ff"),
                            QStringLiteral("-qq"), QStringLiteral("-y"),
                            QStringLiteral("-o"),  logs.filePath(QStringLiteral("log")),
                            QStringLiteral("-e"),  QStringLiteral("trace=") + calls };
    if (fault) {
        arguments << QStringLiteral("-e")
                  << QStringLiteral("inject=%1:error=%2:when=%3")
                         .arg(fault->call, QString::fromLatin1(strerrorname_np(fault->error)))
                         .arg(fault->when);
    }
    for (const QString& path : command.paths)
        arguments << QStringLiteral("-P") << path;
    arguments << QStringLiteral("--") << command.program << command.arguments;

    QProcess strace;
    strace.setProcessEnvironment(command.environment);
    strace.setStandardInputFile(QProcess::nullDevice());
    strace.setStandardOutputFile(command.outputFile);
    strace.start(QStringLiteral("strace"), arguments);
    if (!strace.waitForFinished(300000)) {
        strace.kill();
        strace.waitForFinished();
        return run;
    }
    // strace exits with its tracee's status.
    run.exitCode = strace.exitStatus() == QProcess::NormalExit ? strace.exitCode() : -1;
    run.err = strace.readAllStandardError();

    // "write(1</tmp/out.txt>, ..." and "renameat(7</tmp>, ...": the call and its first descriptor's path.
    static const QRegularExpression line(QStringLiteral(R"(^(\w+)\((?:-?\d+<([^>]*)>)?.*?(\(INJECTED\))?$)"));
    for (const QFileInfo& log : QDir(logs.path()).entryInfoList(QDir::Files, QDir::Name)) {
        QFile file(log.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QMap<QString, int> counted;
        for (const QByteArray& text : file.readAll().split('\n')) {
            const QRegularExpressionMatch match = line.match(QString::fromUtf8(text));
            if (!match.hasMatch())
                continue;
            const QString call = match.captured(1);
            run.calls << TracedCall { log.suffix(), call, match.captured(2), ++counted[call],
                                      !match.captured(3).isEmpty() };
        }
    }
    return run;
}

// Every fault that hits a call the reference run made where `onOutput` says: each of `errors` at each such call, in
// order. The other calls are left alone (a failed close() of a library the loader maps tells nothing about outputs).
inline QList<Fault> faultsOnOutputs(const TracedRun& reference, const QList<int>& errors,
                                    const std::function<bool(const QString& path)>& onOutput)
{
    QList<Fault> faults;
    QSet<QString> taken;
    for (const TracedCall& call : reference.calls) {
        // strace counts in each thread: the n-th call of two threads is one fault.
        const QString key = call.call + QLatin1Char('#') + QString::number(call.ordinal);
        if (!onOutput(call.path) || taken.contains(key))
            continue;
        taken.insert(key);
        for (const int error : errors)
            faults << Fault { call.call, error, call.ordinal };
    }
    return faults;
}

} // namespace platform::testing
