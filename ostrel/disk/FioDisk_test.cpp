// SPDX-License-Identifier: GPL-3.0-or-later
#include "FioDisk.h"
#include "FioReport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace ostrel;
using namespace ostrel::disk;

namespace {

QByteArray captured(const char* name)
{
    QFile file(QStringLiteral(FIO_REPORTS "/") + QString::fromLatin1(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// An executable script in dir standing in for fio.
QString fakeFio(const QTemporaryDir& dir, const QByteArray& body)
{
    const QString path = dir.filePath(QStringLiteral("fake-fio"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

FioDisk::Options shortRun(const QString& folder)
{
    FioDisk::Options options;
    options.folder = folder;
    options.runtime = std::chrono::milliseconds(100);
    options.ramp = std::chrono::milliseconds(0);
    options.fileBytes = 16 * kMiB;
    return options;
}

bool testFileLeft(const QString& folder)
{
    return QFile::exists(QDir(folder).filePath(FioDisk::fileName()));
}

} // namespace

TEST(FioReport, ReadsCapturedReportsOfEachShape)
{
    struct Case
    {
        const char* file;
        const char* version;
        int error;
        double readBytes, readIops, writeBytes, writeIops;
    };
    const Case cases[] = {
        { "fio-3.33-seq-read-direct.json", "fio-3.33", 0, 465241972, 443.68932, 0, 0 },
        { "fio-3.33-rand-write-tmpfs-buffered.json", "fio-3.33", 0, 0, 0, 470640191, 114902.390438 },
        // Only "bw" in KiB/s.
        { "fio-2.2-rand-read-old-shape.json", "fio-2.2.10", 0, 72000.0 * 1024, 18000.25, 0, 0 },
        // fio's own line before the report.
        { "fio-3.33-sigterm.json", "fio-3.33", 0, -1, -1, 0, 0 },
        // The job failed: the report still reads, its error says so.
        { "fio-3.33-error.json", "fio-3.33", 1, 0, 0, 0, 0 },
    };
    for (const Case& c : cases) {
        const FioReading reading = readFioReport(captured(c.file));
        ASSERT_TRUE(reading.report) << c.file << ": " << qPrintable(reading.problem);
        EXPECT_TRUE(reading.problem.isEmpty());
        EXPECT_EQ(reading.report->version, QString::fromLatin1(c.version)) << c.file;
        ASSERT_EQ(reading.report->jobs.size(), 1) << c.file;
        const FioJobReport& job = reading.report->jobs.constFirst();
        EXPECT_EQ(job.error, c.error) << c.file;
        if (c.readBytes >= 0) {
            EXPECT_DOUBLE_EQ(job.readBytesPerSecond, c.readBytes) << c.file;
            EXPECT_DOUBLE_EQ(job.readIops, c.readIops) << c.file;
        } else {
            EXPECT_GT(job.readBytesPerSecond, 0.0) << c.file;
        }
        EXPECT_DOUBLE_EQ(job.writeBytesPerSecond, c.writeBytes) << c.file;
        EXPECT_DOUBLE_EQ(job.writeIops, c.writeIops) << c.file;
    }
}

TEST(FioReport, SaysWhyOutputIsNoReport)
{
    const QByteArray seqRead = captured("fio-3.33-seq-read-direct.json");
    QByteArray withoutRate = seqRead;
    withoutRate.replace("\"bw_bytes\"", "\"bw_gone\"").replace("\"bw\"", "\"bw_also_gone\"");
    const QByteArray cases[] = {
        QByteArray(),
        "fio: failed to load engine\n",
        captured("fio-killed-truncated.json"),
        "{\"fio version\": \"fio-3.33\", \"jobs\": []}",
        "[1, 2]",
        withoutRate,
        "{\"jobs\": [{\"jobname\": \"x\", \"read\": {\"bw_bytes\": -5, \"iops\": 1}, \"write\": {\"bw_bytes\": 0, "
        "\"iops\": 0}}]}",
    };
    for (const QByteArray& output : cases) {
        const FioReading reading = readFioReport(output);
        EXPECT_FALSE(reading.report) << output.left(60).constData();
        EXPECT_FALSE(reading.problem.isEmpty()) << output.left(60).constData();
    }
    // Text after the report does not spoil it.
    EXPECT_TRUE(readFioReport(seqRead + "\nfio: note\n").report);
}

TEST(FioDisk, TestFileSizeFollowsFreeSpace)
{
    constexpr qint64 GiB = 1024 * kMiB;
    const std::pair<qint64, std::optional<qint64>> cases[] = {
        { 80 * GiB, GiB },   { 4 * GiB, GiB },          { 4 * GiB - 1, 1023 * kMiB }, { 2 * GiB + 3, 512 * kMiB },
        { GiB, 256 * kMiB }, { GiB - 1, std::nullopt }, { 0, std::nullopt },
    };
    for (const auto& [free, bytes] : cases)
        EXPECT_EQ(testFileBytes(free), bytes) << free;
}

TEST(FioDisk, SaysWhyItDidNotRunAndLeavesNoFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::atomic<bool> stop { false };
    const auto progress = [](std::size_t, double) {};

    FioDisk::Options tooFull = shortRun(dir.path());
    tooFull.fileBytes.reset();
    tooFull.freeSpace = [](const QString&, int&) { return std::optional<qint64>(600 * kMiB); };
    DiskTest::Outcome outcome = FioDisk(tooFull).run(stop, progress);
    EXPECT_FALSE(outcome.result);
    EXPECT_TRUE(outcome.problem.contains(QStringLiteral("可用空间只有 600 MiB"))) << qPrintable(outcome.problem);

    FioDisk::Options missing = shortRun(dir.path());
    missing.fio = QStringLiteral("ostrel-test-no-such-fio");
    outcome = FioDisk(missing).run(stop, progress);
    EXPECT_FALSE(outcome.result);
    EXPECT_TRUE(outcome.problem.contains(QStringLiteral("未找到 fio"))) << qPrintable(outcome.problem);

    // fio's first error line is the reason; never a number.
    FioDisk::Options failing = shortRun(dir.path());
    failing.fio = fakeFio(dir,
                          "echo '{\"jobs\": [{\"error\": 0, \"read\": {\"bw_bytes\": 5, \"iops\": 5}, "
                          "\"write\": {\"bw_bytes\": 5, \"iops\": 5}}]}'\n"
                          "echo 'fio: first problem' >&2\necho 'fio: second' >&2\nexit 1");
    outcome = FioDisk(failing).run(stop, progress);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.problem, QStringLiteral("fio 出错：fio: first problem"));

    FioDisk::Options unwritable = shortRun(dir.filePath(QStringLiteral("no-such-folder")));
    outcome = FioDisk(unwritable).run(stop, progress);
    EXPECT_FALSE(outcome.result);
    EXPECT_FALSE(outcome.problem.isEmpty());

    EXPECT_FALSE(testFileLeft(dir.path()));
}

TEST(FioDisk, StopEndsFioEvenWhenItIgnoresSigterm)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FioDisk::Options options = shortRun(dir.path());
    // The shell and its child both ignore SIGTERM: only SIGKILL to the group ends them.
    options.fio = fakeFio(dir, "trap '' TERM\necho started > \"$0.pid\"\nsleep 60\n");
    std::atomic<bool> stop { false };
    int ticks = 0;
    const DiskTest::Outcome outcome = FioDisk(options).run(stop, [&](std::size_t job, double) {
        EXPECT_EQ(job, 0u);
        if (QFile::exists(options.fio + QStringLiteral(".pid")) && ++ticks == 2)
            stop = true;
    });
    EXPECT_FALSE(outcome.result);
    EXPECT_TRUE(outcome.problem.isEmpty());
    EXPECT_FALSE(testFileLeft(dir.path()));
}

TEST(FioDisk, RunsTheFourJobsWithRealFio)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::vector<std::size_t> started;
    const std::atomic<bool> stop { false };
    const auto progress = [&](std::size_t job, double fraction) {
        if (fraction == 0.0)
            started.push_back(job);
    };

    const DiskTest::Outcome direct = FioDisk(shortRun(dir.path())).run(stop, progress);
    ASSERT_TRUE(direct.result) << qPrintable(direct.problem);
    EXPECT_EQ(started, (std::vector<std::size_t> { 0, 1, 2, 3 }));
    EXPECT_TRUE(direct.result->direct);
    EXPECT_EQ(direct.result->fileBytes, 16 * kMiB);
    EXPECT_EQ(direct.result->folder, dir.path());
    EXPECT_FALSE(direct.result->fileSystem.isEmpty());
    for (const DiskJobKind& job : kDiskJobs) {
        const DiskJobResult& measured = (*direct.result).*job.result;
        EXPECT_GT(measured.mbps, 0.0) << job.key;
        EXPECT_EQ(measured.iops.has_value(), job.random) << job.key;
        if (job.random) {
            EXPECT_NEAR(*measured.iops * 4096 / 1e6, measured.mbps, measured.mbps * 0.01) << job.key;
        }
    }
    EXPECT_FALSE(testFileLeft(dir.path()));
}

TEST(FioDisk, RunsBufferedWhereDirectIoIsRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FioDisk::Options refusing = shortRun(dir.path());
    refusing.open = [](const char* path, int flags) {
        if (flags & O_DIRECT) {
            errno = EINVAL;
            return -1;
        }
        return ::open(path, flags, 0600);
    };
    // Keeps its arguments and answers with a captured report.
    refusing.fio = fakeFio(dir, "echo \"$@\" >> \"$0.arguments\"\ncat '" FIO_REPORTS "/fio-3.33-seq-read-direct.json'");
    const DiskTest::Outcome buffered = FioDisk(refusing).run(std::atomic<bool> { false }, [](std::size_t, double) {});
    ASSERT_TRUE(buffered.result) << qPrintable(buffered.problem);
    EXPECT_FALSE(buffered.result->direct);
    EXPECT_DOUBLE_EQ(buffered.result->seqRead.mbps, 465.241972);
    QFile arguments(refusing.fio + QStringLiteral(".arguments"));
    ASSERT_TRUE(arguments.open(QIODevice::ReadOnly));
    const QList<QByteArray> calls = arguments.readAll().trimmed().split('\n');
    ASSERT_EQ(calls.size(), 4);
    for (const QByteArray& call : calls)
        EXPECT_TRUE(call.contains(" --direct=0 ")) << call.constData();
    EXPECT_FALSE(testFileLeft(dir.path()));
}
