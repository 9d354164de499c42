// SPDX-License-Identifier: GPL-3.0-or-later
#include "FioDisk.h"

#include "FioReport.h"
#include "history/MachineFacts.h"
#include "history/SystemFiles.h"
#include "platform/ErrorText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ostrel::disk {

namespace {

struct FioJob
{
    const char* rw;
    const char* blockSize;
    int ioDepth;
};

// In the order of kDiskJobs.
constexpr std::array<FioJob, 4> kFioJobs { {
    { "read", "1M", 8 },
    { "write", "1M", 8 },
    { "randread", "4k", 1 },
    { "randwrite", "4k", 1 },
} };

constexpr auto kPollInterval = std::chrono::milliseconds(20);
// A Stop sends SIGTERM, and SIGKILL if fio is still there after this.
constexpr auto kTermGrace = std::chrono::milliseconds(500);

struct Finished
{
    bool stopped = false;
    // posix_spawn's error, 0 when fio started.
    int spawnError = 0;
    // waitpid's status.
    int status = 0;
};

// Runs fio in a process group of its own, its output into files, until it
// ends or a stop is requested; then the whole group goes.
Finished runFio(const QString& fio, const QStringList& arguments, const QString& out, const QString& err,
                const std::atomic<bool>& stop, const std::function<void(double seconds)>& tick)
{
    std::vector<QByteArray> bytes { QFile::encodeName(fio) };
    for (const QString& argument : arguments)
        bytes.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const QByteArray outPath = QFile::encodeName(out);
    const QByteArray errPath = QFile::encodeName(err);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);

    Finished finished;
    pid_t pid = -1;
    finished.spawnError = ::posix_spawnp(&pid, argv.front(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (finished.spawnError != 0)
        return finished;

    const auto start = std::chrono::steady_clock::now();
    while (::waitpid(pid, &finished.status, WNOHANG) == 0) {
        if (stop.load(std::memory_order_relaxed)) {
            finished.stopped = true;
            ::kill(-pid, SIGTERM);
            const auto deadline = std::chrono::steady_clock::now() + kTermGrace;
            while (::waitpid(pid, &finished.status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() >= deadline) {
                    ::kill(-pid, SIGKILL);
                    ::waitpid(pid, &finished.status, 0);
                    break;
                }
                std::this_thread::sleep_for(kPollInterval);
            }
            // fio's job processes go with it.
            ::kill(-pid, SIGKILL);
            return finished;
        }
        tick(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        std::this_thread::sleep_for(kPollInterval);
    }
    return finished;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What fio said first about what went wrong.
QString firstErrorLine(const QByteArray& errors)
{
    for (const QByteArray& line : errors.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (!text.isEmpty())
            return text;
    }
    return {};
}

// fio reads ':' in a file name as a separator of several names.
QString fioFileName(QString path)
{
    return path.replace(QLatin1Char(':'), QStringLiteral("\\:"));
}

} // namespace

std::optional<qint64> testFileBytes(qint64 freeBytes)
{
    if (freeBytes >= kRoomForLargestFile)
        return kLargestTestFile;
    const qint64 quarter = freeBytes / 4 / kMiB * kMiB;
    if (quarter < kSmallestTestFile)
        return std::nullopt;
    return std::min(quarter, kLargestTestFile);
}

std::optional<qint64> freeBytesIn(const QString& folder, int& error)
{
    struct statvfs info
    {
    };
    if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0) {
        error = errno;
        return std::nullopt;
    }
    return qint64(info.f_bavail) * qint64(info.f_frsize);
}

QStringList fioJobArguments(std::size_t job, const QString& file, qint64 fileBytes, bool direct,
                            std::chrono::milliseconds runtime, std::chrono::milliseconds ramp)
{
    const FioJob& fio = kFioJobs[job];
    return {
        QStringLiteral("--output-format=json"),
        QStringLiteral("--name=%1").arg(QString::fromLatin1(kDiskJobs[job].key)),
        QStringLiteral("--filename=%1").arg(fioFileName(file)),
        QStringLiteral("--size=%1").arg(fileBytes),
        QStringLiteral("--rw=%1").arg(QString::fromLatin1(fio.rw)),
        QStringLiteral("--bs=%1").arg(QString::fromLatin1(fio.blockSize)),
        QStringLiteral("--iodepth=%1").arg(fio.ioDepth),
        QStringLiteral("--ioengine=libaio"),
        QStringLiteral("--direct=%1").arg(direct ? 1 : 0),
        QStringLiteral("--end_fsync=1"),
        QStringLiteral("--time_based"),
        QStringLiteral("--runtime=%1ms").arg(runtime.count()),
        QStringLiteral("--ramp_time=%1ms").arg(ramp.count()),
    };
}

FioDisk::FioDisk(Options options)
    : m_(std::move(options))
{
    if (!m_.freeSpace)
        m_.freeSpace = &freeBytesIn;
    if (!m_.open)
        m_.open = [](const char* path, int flags) { return ::open(path, flags, 0600); };
}

QString FioDisk::fileName()
{
    return QStringLiteral("ostrel-disk-test.tmp");
}

DiskTest::Outcome FioDisk::run(const std::atomic<bool>& stop, const Progress& progress)
{
    const auto problem = [](const QString& text) { return Outcome { std::nullopt, text }; };
    const QString folder = QFileInfo(m_.folder).absoluteFilePath();
    if (QStandardPaths::findExecutable(m_.fio).isEmpty() && !QFileInfo(m_.fio).isExecutable())
        return problem(QStringLiteral("未找到 fio（Debian 软件包 fio）"));

    int error = 0;
    const std::optional<qint64> freeBytes = m_.freeSpace(folder, error);
    if (!freeBytes)
        return problem(QStringLiteral("无法得知 %1 的可用空间：%2").arg(folder, platform::errorText(error)));
    const std::optional<qint64> fileBytes = m_.fileBytes ? m_.fileBytes : testFileBytes(*freeBytes);
    if (!fileBytes) {
        return problem(QStringLiteral("%1 的可用空间只有 %2 MiB，至少需要 %3 MiB")
                           .arg(folder)
                           .arg(*freeBytes / kMiB)
                           .arg(4 * kSmallestTestFile / kMiB));
    }

    // The file exists from here on; whatever happens next, it goes.
    const QString file = QDir(folder).filePath(fileName());
    const QByteArray filePath = QFile::encodeName(file);
    const auto removeFile = qScopeGuard([&] { ::unlink(filePath.constData()); });
    const int createFlags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;
    bool direct = true;
    int fd = m_.open(filePath.constData(), createFlags | O_DIRECT);
    if (fd < 0 && errno == EINVAL) {
        direct = false;
        fd = m_.open(filePath.constData(), createFlags);
    }
    if (fd < 0)
        return problem(QStringLiteral("无法在 %1 中创建测试文件：%2").arg(folder, platform::errorText(errno)));
    ::close(fd);

    QTemporaryDir reports;
    if (!reports.isValid())
        return problem(QStringLiteral("无法为 fio 的报告建立临时文件夹：%1").arg(reports.errorString()));
    const QString out = reports.filePath(QStringLiteral("report.json"));
    const QString err = reports.filePath(QStringLiteral("errors.txt"));
    const double jobSeconds = std::chrono::duration<double>(m_.runtime + m_.ramp).count();

    DiskResult result;
    result.folder = folder;
    result.fileSystem = history::fileSystemOf(QFileInfo(folder).canonicalFilePath(),
                                              history::readSystemFile(QStringLiteral("/proc/self/mountinfo")));
    result.direct = direct;
    result.fileBytes = *fileBytes;
    for (std::size_t job = 0; job < kDiskJobs.size(); ++job) {
        progress(job, 0.0);
        const Finished finished = runFio(m_.fio, fioJobArguments(job, file, *fileBytes, direct, m_.runtime, m_.ramp),
                                         out, err, stop, [&](double seconds) { progress(job, seconds / jobSeconds); });
        if (finished.stopped)
            return {};
        if (finished.spawnError != 0)
            return problem(QStringLiteral("fio 无法启动：%1").arg(platform::errorText(finished.spawnError)));
        const QString errorLine = firstErrorLine(readAll(err));
        const FioReading reading = readFioReport(readAll(out));
        const bool exited = WIFEXITED(finished.status) && WEXITSTATUS(finished.status) == 0;
        const int jobError = reading.report ? reading.report->jobs.constFirst().error : 0;
        if (!exited || !reading.report || jobError != 0) {
            if (!errorLine.isEmpty())
                return problem(QStringLiteral("fio 出错：%1").arg(errorLine));
            if (jobError != 0)
                return problem(QStringLiteral("fio 出错：%1").arg(platform::errorText(jobError)));
            if (!exited) {
                return problem(WIFSIGNALED(finished.status)
                                   ? QStringLiteral("fio 被信号 %1 终止").arg(WTERMSIG(finished.status))
                                   : QStringLiteral("fio 以状态 %1 退出").arg(WEXITSTATUS(finished.status)));
            }
            return problem(reading.problem);
        }
        const FioJobReport& report = reading.report->jobs.constFirst();
        const bool reads = QByteArrayView(kFioJobs[job].rw).endsWith("read");
        DiskJobResult& measured = result.*kDiskJobs[job].result;
        measured.mbps = (reads ? report.readBytesPerSecond : report.writeBytesPerSecond) / 1e6;
        if (kDiskJobs[job].random)
            measured.iops = reads ? report.readIops : report.writeIops;
        progress(job, 1.0);
    }
    return { result, {} };
}

} // namespace ostrel::disk
