// SPDX-License-Identifier: GPL-3.0-or-later
// ostrel-cli with the system calls of its outputs failing one at a time (strace --inject): standard output, the
// files it is told to write, the settings file and the history. Whatever fails, an output that was lost never
// ends in exit status 0, a file holds its old bytes or the whole new ones, and nothing temporary is left beside it.
#include "ostrel/cli/CommandLine.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/ResultsDocument.h"
#include "ostrel/testing/SampleRuns.h"
#include "platform/testing/SyscallFaults.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>

using namespace ostrel;
using platform::testing::contents;
using platform::testing::Fault;
using platform::testing::TracedCall;
using platform::testing::TracedCommand;
using platform::testing::TracedRun;

namespace {

void put(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size())
        << qPrintable(path);
}

// What is in the folder (hidden names too) besides what belongs there: a failed write's leftovers.
std::string strays(const QString& folder, const QStringList& belonging)
{
    QStringList found = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : belonging)
        found.removeAll(name);
    return found.join(QLatin1Char(' ')).toStdString();
}

// Output lost is said: a failure of a call that carries an output's bytes (any but the close of a folder, which
// loses nothing) or a short standard output ends in exit status 3, and a failed write to standard output is named
// on standard error.
void expectLossSaid(const TracedRun& run, const QByteArray& out, const QByteArray& whole, const QString& outFile)
{
    bool lost = out != whole;
    for (const TracedCall& call : run.injected()) {
        lost = lost || call.call != QLatin1String("close") || !QFileInfo(call.path).isDir();
        if (call.path == outFile && call.call == QLatin1String("write")) {
            EXPECT_TRUE(run.err.contains("ostrel-cli: standard output cannot be written")) << run.err.constData();
        }
    }
    if (lost) {
        EXPECT_EQ(run.exitCode, cli::kExitProblem) << out.size() << " of " << whole.size() << " bytes out\n"
                                                   << run.err.constData();
    }
}

// The Prometheus text of a run, whole: every score and the last line's end.
bool wholePrometheusText(const QByteArray& text)
{
    for (const char* test : { "int", "double", "pi", "memory", "disk" }) {
        if (!text.contains(QByteArray("\nostrel_score{test=\"") + test + "\"} "))
            return false;
    }
    return text.endsWith("\n") && text.contains("\nostrel_info{");
}

} // namespace

// Each call on an output, as a fault-free run made it, fails with ENOSPC and then with EIO.
TEST(OstrelOutputFaults, HistoryCommandsLoseNothingUnsaid)
{
    // Enough runs that --history --json takes several of stdio's 8 KiB writes.
    QList<history::RunRecord> kept;
    for (int i = 0; i < 40; ++i)
        kept << history::testing::sampleExtendedRun(history::testing::kSampleTime - 86400.0 * i, 60.0 + i * 0.5);
    ASSERT_TRUE(history::HistoryStore(history::HistoryStore::defaultPath()).append(kept));

    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out.txt"));
    const QString exported = dir.filePath(QStringLiteral("runs.json"));
    const QString prometheus = dir.filePath(QStringLiteral("ostrel.prom"));
    const struct
    {
        QStringList arguments;
        QString file = {};
    } rows[] = {
        { { "--history" } },
        { { "--history", "--json" } },
        { { "--history", "--csv" } },
        { { "--export", exported }, exported },
        { { "--export", exported, "--all" }, exported },
        { { "--prometheus", prometheus }, prometheus },
    };
    const QByteArray old = "an older file\n";
    int runs = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(qPrintable(row.arguments.join(' ')));
        const TracedCommand command {
            QStringLiteral(OSTREL_CLI), row.arguments, QProcessEnvironment::systemEnvironment(), out, {}
        };
        const QString name = QFileInfo(row.file).fileName();
        if (!row.file.isEmpty())
            put(row.file, old);
        const TracedRun reference = platform::testing::runTraced(command);
        ASSERT_EQ(reference.exitCode, 0) << reference.err.constData();
        const QByteArray whole = contents(out);
        const QByteArray wholeFile = row.file.isEmpty() ? QByteArray() : contents(row.file);
        if (row.file == exported) {
            ASSERT_TRUE(history::readResultsDocument(wholeFile));
        } else if (row.file == prometheus) {
            ASSERT_TRUE(wholePrometheusText(wholeFile)) << wholeFile.constData();
        }

        // Standard output, and the named file: its folder, where it is renamed and synced, and its temporary file.
        const auto onOutput = [&](const QString& path) {
            return path == out
                || (!row.file.isEmpty()
                    && (path == dir.path()
                        || path.startsWith(dir.filePath(QLatin1Char('.') + name + QLatin1Char('.')))));
        };
        const QList<Fault> faults = platform::testing::faultsOnOutputs(reference, { ENOSPC, EIO }, onOutput);
        // A write to standard output; for a file also its write, fsync, close, rename and the folder's fsync.
        EXPECT_GE(faults.size(), row.file.isEmpty() ? 2 : 12);
        for (const Fault& fault : faults) {
            SCOPED_TRACE(qPrintable(platform::testing::faultText(fault)));
            if (!row.file.isEmpty())
                put(row.file, old);
            const TracedRun run = platform::testing::runTraced(command, fault);
            ++runs;
            const QList<TracedCall> hit = run.injected();
            ASSERT_FALSE(hit.isEmpty()) << "the run made fewer calls than the fault-free one";
            for (const TracedCall& call : hit)
                EXPECT_TRUE(onOutput(call.path)) << "failed instead: " << qPrintable(call.path);
            expectLossSaid(run, contents(out), whole, out);
            if (!row.file.isEmpty()) {
                const QByteArray now = contents(row.file);
                EXPECT_TRUE(now == old || now == wholeFile) << now.left(200).constData();
            }
            EXPECT_EQ(strays(dir.path(), { QStringLiteral("out.txt"), name }), "");
        }
        std::printf("%s: %d calls on its outputs\n", qPrintable(row.arguments.join(' ')), int(faults.size() / 2));
        if (!row.file.isEmpty())
            QFile::remove(row.file);
    }
    std::printf("%d runs, each with one call failing\n", runs);
}

// A run takes some 15 seconds, so one run for each kind of fault, on the first call of each output: standard output,
// the settings file's temporary file, the history database, the Prometheus file's rename.
TEST(OstrelOutputFaults, ARunKeepsItsFilesWholeWhateverFails)
{
    const struct
    {
        QStringList arguments;
        Fault fault;
        // Where strace keeps to, and where the fault must land: home-relative.
        QStringList paths;
        QString target;
    } rows[] = {
        { { "--json", "--prometheus", "prom/ostrel.prom" }, { "write", ENOSPC, 1 }, { "out.json" }, "out.json" },
        { { "--json" }, { "fsync", EIO, 1 }, {}, "config/ostrel/.ostrel.conf." },
        { { "--json" },
          { "pwrite64", ENOSPC, 1 },
          { "data/ostrel/history.sqlite", "data/ostrel/history.sqlite-wal" },
          "data/ostrel/history.sqlite" },
        { { "--prometheus", "prom/ostrel.prom" }, { "renameat", EIO, 1 }, { "prom" }, "prom" },
    };
    const QByteArray oldSettings = "[General]\nint=50.5\nlastTime=1796707200\n";
    const QByteArray oldPrometheus = "an older file\n";
    for (const auto& row : rows) {
        SCOPED_TRACE(qPrintable(row.arguments.join(' ') + QLatin1Char(' ') + platform::testing::faultText(row.fault)));
        // A home of its own, and the program beside it, so that the disk test's scratch file is its own too.
        QTemporaryDir home;
        QDir(home.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir(home.path()).mkpath(QStringLiteral("prom"));
        const QString program = home.filePath(QStringLiteral("ostrel-cli"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(OSTREL_CLI), program));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));

        const QString settings = home.filePath(QStringLiteral("config/ostrel/ostrel.conf"));
        const QString database = home.filePath(QStringLiteral("data/ostrel/history.sqlite"));
        const QString prometheus = home.filePath(QStringLiteral("prom/ostrel.prom"));
        put(settings, oldSettings);
        put(prometheus, oldPrometheus);
        QDir(home.path()).mkpath(QStringLiteral("data/ostrel"));
        const QList<history::RunRecord> oldRuns { history::testing::sampleRun(history::testing::kSampleTime),
                                                  history::testing::sampleRun(history::testing::kSampleTime - 60.0) };
        ASSERT_TRUE(history::HistoryStore(database).append(oldRuns));

        QStringList arguments;
        for (const QString& argument : row.arguments)
            arguments << (argument.contains(QLatin1Char('/')) ? home.filePath(argument) : argument);
        TracedCommand command { program, arguments, environment, home.filePath(QStringLiteral("out.json")), {} };
        for (const QString& path : row.paths)
            command.paths << home.filePath(path);
        const TracedRun run = platform::testing::runTraced(command, row.fault);

        const QList<TracedCall> hit = run.injected();
        ASSERT_FALSE(hit.isEmpty()) << run.err.constData();
        for (const TracedCall& call : hit)
            EXPECT_TRUE(call.path.startsWith(home.filePath(row.target))) << "failed instead: " << qPrintable(call.path);
        EXPECT_EQ(run.exitCode, cli::kExitProblem) << run.err.constData();
        const QByteArray out = contents(command.outputFile);
        if (row.arguments.contains(QStringLiteral("--json")) && row.fault.call != QLatin1String("write")) {
            EXPECT_FALSE(QJsonDocument::fromJson(out).isNull()) << out.constData();
        }
        expectLossSaid(run, out, out, command.outputFile);

        // The settings: the old file, or one that QSettings reads whole, every value a number.
        const QByteArray nowSettings = contents(settings);
        if (nowSettings != oldSettings) {
            QSettings read(settings, QSettings::IniFormat);
            EXPECT_EQ(read.status(), QSettings::NoError);
            EXPECT_GE(read.allKeys().size(), 2) << nowSettings.constData();
            for (const QString& key : read.allKeys()) {
                bool number = false;
                read.value(key).toString().toDouble(&number);
                EXPECT_TRUE(number) << qPrintable(key) << '\n' << nowSettings.constData();
            }
        }
        EXPECT_EQ(strays(QFileInfo(settings).path(), { QStringLiteral("ostrel.conf") }), "");

        // The history: the old runs, and the new one or none, as a connection of its own reads them.
        {
            history::HistoryStore store(database);
            const auto runs = store.runs();
            ASSERT_TRUE(runs) << qPrintable(runs.error().message);
            EXPECT_TRUE(runs->size() == 2 || runs->size() == 3) << runs->size();
            for (const history::RunRecord& old : oldRuns)
                EXPECT_TRUE(std::any_of(runs->begin(), runs->end(), [&](const history::RunRecord& run) {
                    return run.finishedAt == old.finishedAt;
                }));
        }
        EXPECT_EQ(strays(QFileInfo(database).path(), { QStringLiteral("history.sqlite") }), "");

        const QByteArray nowPrometheus = contents(prometheus);
        EXPECT_TRUE(nowPrometheus == oldPrometheus || wholePrometheusText(nowPrometheus)) << nowPrometheus.constData();
        EXPECT_EQ(strays(QFileInfo(prometheus).path(), { QStringLiteral("ostrel.prom") }), "");
    }
}
