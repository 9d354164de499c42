// SPDX-License-Identifier: GPL-3.0-or-later
// vantor-cli's answers from a local database with each call on standard output failing in turn (strace --inject):
// an answer list cut short always ends in exit status 141 and says so, and what did get out is the start of the
// whole list.
#include "platform/testing/SyscallFaults.h"
#include "vantor/cli/ExitStatus.h"
#include "vantor/testing/TestDatabases.h"

#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>

using platform::testing::contents;
using platform::testing::Fault;
using platform::testing::TracedCall;
using platform::testing::TracedCommand;
using platform::testing::TracedRun;

TEST(VantorOutputFaults, AnswersCutShortAreSaid)
{
    const vantor::testing::TestDatabases databases;
    ASSERT_TRUE(databases.written());
    QTemporaryDir dir;
    // Long enough for several of the answer writer's 64 KiB writes in each format.
    const QString list = dir.filePath(QStringLiteral("list.txt"));
    {
        QFile file(list);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 4000; ++i)
            file.write(i % 3 == 0 ? "142.250.7.7\n" : i % 3 == 1 ? "151.101.65.9\n" : "2001:67c::1\n");
    }
    const QString out = dir.filePath(QStringLiteral("out.txt"));
    const QStringList mmdb { QStringLiteral("--ip-info-format"),
                             QStringLiteral("mmdb"),
                             QStringLiteral("--ip-info-database"),
                             databases.city(),
                             QStringLiteral("--asn-database"),
                             databases.asn(),
                             QStringLiteral("-f"),
                             list };
    int runs = 0;
    for (const QString& format : { QString(), QStringLiteral("--csv"), QStringLiteral("--json") }) {
        SCOPED_TRACE(qPrintable(format));
        const TracedCommand command { QStringLiteral(VANTOR_CLI),
                                      format.isEmpty() ? mmdb : mmdb + QStringList { format },
                                      QProcessEnvironment::systemEnvironment(),
                                      out,
                                      { out } };
        const TracedRun reference = platform::testing::runTraced(command);
        ASSERT_EQ(reference.exitCode, 0) << reference.err.constData();
        const QByteArray whole = contents(out);
        const QList<Fault> faults = platform::testing::faultsOnOutputs(
            reference, { ENOSPC, EIO }, [&](const QString& path) { return path == out; });
        EXPECT_GE(faults.size(), 4);
        for (const Fault& fault : faults) {
            SCOPED_TRACE(qPrintable(platform::testing::faultText(fault)));
            const TracedRun run = platform::testing::runTraced(command, fault);
            ++runs;
            const QList<TracedCall> hit = run.injected();
            ASSERT_FALSE(hit.isEmpty()) << "the run made fewer calls than the fault-free one";
            const QByteArray cut = contents(out);
            EXPECT_TRUE(whole.startsWith(cut)) << cut.size() << " of " << whole.size() << " bytes";
            EXPECT_EQ(run.exitCode, vantor::cli::kExitOutputClosed) << run.err.constData();
            EXPECT_TRUE(run.err.contains("vantor-cli: standard output cannot be written: ")
                        && run.err.contains("; stopping"))
                << run.err.constData();
        }
        std::printf("%s: %d calls on standard output\n", qPrintable(format), int(faults.size() / 2));
    }
    std::printf("%d runs, each with one call failing\n", runs);
}
