// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/disk/FioDisk.h"

#include "ostrel/engine/Workloads.h"
#include "ostrel/extended/disk/DiskTest.h"
#include "ostrel/extended/disk/FioReport.h"
#include "ostrel/machine/MachineFacts.h"
#include "ostrel/machine/SystemFiles.h"
#include "platform/ErrorText.h"
#include "platform/FileDescriptor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
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

constexpr char kTestFileName[] = "ostrel-disk-test.tmp";
constexpr char kFolderPrefix[] = "ostrel-disk-";
constexpr int kFolderSuffixLength = 6;
constexpr char kReportName[] = "report.json";
constexpr char kErrorsName[] = "errors.txt";
// Everything the test puts into its folder, and so all that is removed there.
constexpr std::array<const char*, 3> kFilesOfTheTest { kTestFileName, kReportName, kErrorsName };

// Removes the test's files from its folder, then the folder: anything else
// in it, which the test never put there, keeps the folder.
void removeFolder(int parent, const char* name, int folder)
{
    for (const char* file : kFilesOfTheTest)
        ::unlinkat(folder, file, 0);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

// The test's folder, made by mkdtemp inside `parent` and opened once: fio
// and every file of the test are reached through the descriptor.
class PrivateFolder
{
public:
    explicit PrivateFolder(const QString& parent)
        : m_parent(::open(QFile::encodeName(parent).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        QByteArray path = QFile::encodeName(QDir(parent).filePath(FioDisk::folderPrefix() + QLatin1String("XXXXXX")));
        if (!m_parent.isOpen() || !::mkdtemp(path.data())) {
            m_error = errno;
            return;
        }
        m_name = path.mid(path.lastIndexOf('/') + 1);
        m_fd.reset(::openat(m_parent.get(), m_name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!m_fd.isOpen()) {
            m_error = errno;
            ::unlinkat(m_parent.get(), m_name.constData(), AT_REMOVEDIR);
        }
    }
    ~PrivateFolder()
    {
        if (m_fd.isOpen())
            removeFolder(m_parent.get(), m_name.constData(), m_fd.get());
    }

    // -1 when it could not be made; error() says why.
    int fd() const { return m_fd.get(); }
    int error() const { return m_error; }

private:
    platform::FileDescriptor m_parent;
    platform::FileDescriptor m_fd;
    QByteArray m_name;
    int m_error = 0;
};

// An empty file of the test's folder for fio's output, read back when fio
// has ended.
class OutputFile
{
public:
    OutputFile(int folder, const char* name)
        : m_fd(::openat(folder, name, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600))
    {
    }

    int fd() const { return m_fd.get(); }
    QByteArray readAll() const
    {
        QByteArray bytes;
        char buffer[65536];
        for (;;) {
            const ssize_t got = ::pread(m_fd.get(), buffer, sizeof buffer, off_t(bytes.size()));
            if (got <= 0)
                return bytes;
            bytes.append(buffer, got);
        }
    }

private:
    platform::FileDescriptor m_fd;
};

struct Finished
{
    bool stopped = false;
    // Why fio did not start (an errno), 0 when it did.
    int spawnError = 0;
    // waitpid's status.
    int status = 0;
};

// Starts fio in `folder`, in a process group of its own, its output into
// `out` and `err`. The kernel kills fio when the thread that started it ends,
// as when this process is killed, so fio never runs on alone. Returns its
// PID, or -1 with the reason in `error`.
pid_t startFio(const QByteArray& program, char* const argv[], int folder, int out, int err, int& error)
{
    int exec[2];
    if (::pipe2(exec, O_CLOEXEC) != 0) {
        error = errno;
        return -1;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The parent went before the line above took hold: nothing would kill this one.
        if (::getppid() != parent)
            ::_exit(127);
        ::setpgid(0, 0);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (in >= 0 && ::dup2(in, STDIN_FILENO) >= 0 && ::dup2(out, STDOUT_FILENO) >= 0
            && ::dup2(err, STDERR_FILENO) >= 0 && ::fchdir(folder) == 0)
            ::execve(program.constData(), argv, environ);
        // The reason goes to the parent; an exec that worked closes the pipe.
        const int reason = errno;
        [[maybe_unused]] const ssize_t written = ::write(exec[1], &reason, sizeof reason);
        ::_exit(127);
    }
    ::close(exec[1]);
    if (pid < 0) {
        error = errno;
        ::close(exec[0]);
        return -1;
    }
    // Here too, so that a Stop at once finds the group.
    ::setpgid(pid, pid);
    int reason = 0;
    ssize_t got = 0;
    do
        got = ::read(exec[0], &reason, sizeof reason);
    while (got < 0 && errno == EINTR);
    ::close(exec[0]);
    if (got == ssize_t(sizeof reason)) {
        ::waitpid(pid, nullptr, 0);
        error = reason;
        return -1;
    }
    return pid;
}

// Runs fio until it ends or a stop is requested; then the whole group goes.
Finished runFio(const QByteArray& program, const QStringList& arguments, int folder, int out, int err,
                const std::atomic<bool>& stop, const std::function<void(double seconds)>& tick)
{
    std::vector<QByteArray> bytes { program };
    for (const QString& argument : arguments)
        bytes.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    Finished finished;
    const pid_t pid = startFio(program, argv.data(), folder, out, err, finished.spawnError);
    if (pid < 0)
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
            // Anything fio started goes with it.
            ::kill(-pid, SIGKILL);
            return finished;
        }
        tick(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        std::this_thread::sleep_for(kPollInterval);
    }
    return finished;
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

// "ostrel-disk-" and what mkdtemp adds: letters and digits.
bool isFolderName(const QString& name)
{
    const QString prefix = FioDisk::folderPrefix();
    if (name.size() != prefix.size() + kFolderSuffixLength || !name.startsWith(prefix))
        return false;
    return std::all_of(name.cbegin() + prefix.size(), name.cend(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    });
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

platform::Result<qint64, SystemError> freeBytesIn(const QString& folder)
{
    struct statvfs info
    {
    };
    if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0)
        return SystemError { errno };
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
        // No process of fio's but the one that dies with this one.
        QStringLiteral("--thread"),
    };
}

void removeLeftFolders(const QString& folder, std::chrono::system_clock::time_point before)
{
    const platform::FileDescriptor parent(
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.isOpen())
        return;
    const QStringList names = QDir(folder).entryList({ FioDisk::folderPrefix() + QLatin1Char('*') },
                                                     QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        if (!isFolderName(name))
            continue;
        const QByteArray bytes = QFile::encodeName(name);
        struct stat info
        {
        };
        if (::fstatat(parent.get(), bytes.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode)
            || info.st_uid != ::geteuid() || !changedBefore(info, before))
            continue;
        const platform::FileDescriptor left(
            ::openat(parent.get(), bytes.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!left.isOpen())
            continue;
        struct stat opened
        {
        };
        // Still the folder looked at above.
        if (::fstat(left.get(), &opened) == 0 && opened.st_dev == info.st_dev && opened.st_ino == info.st_ino)
            removeFolder(parent.get(), bytes.constData(), left.get());
    }
}

void removeLeftovers(const QString& scratchFolder, const QString& diskFolder,
                     std::chrono::system_clock::time_point before)
{
    if (!scratchFolder.isEmpty()) {
        removeLeftScratchFile(scratchFolder, before);
        removeLeftFolders(scratchFolder, before);
    }
    if (!diskFolder.isEmpty() && QFileInfo(diskFolder) != QFileInfo(scratchFolder))
        removeLeftFolders(diskFolder, before);
}

FioDisk::FioDisk(Options options)
    : m_(std::move(options))
{
    if (!m_.freeSpace)
        m_.freeSpace = &freeBytesIn;
    if (!m_.open)
        m_.open = [](int folder, const char* name, int flags) { return ::openat(folder, name, flags, 0600); };
}

QString FioDisk::fileName()
{
    return QString::fromLatin1(kTestFileName);
}

QString FioDisk::folderPrefix()
{
    return QString::fromLatin1(kFolderPrefix);
}

ExtendedResult<DiskResult> FioDisk::run(const FinishedRun&, const std::atomic<bool>& stop, ExtendedProgress& progress)
{
    const auto problem = [](const QString& text) { return ExtendedError { ExtendedError::Kind::Failed, text }; };
    const QString folder = QFileInfo(m_.folder).absoluteFilePath();
    QString fio = QStandardPaths::findExecutable(m_.fio);
    if (fio.isEmpty() && QFileInfo(m_.fio).isExecutable())
        fio = QFileInfo(m_.fio).absoluteFilePath();
    if (fio.isEmpty())
        return problem(QStringLiteral("未找到 fio（Debian 软件包 fio）"));

    const platform::Result<qint64, SystemError> freeBytes = m_.freeSpace(folder);
    if (!freeBytes)
        return problem(
            QStringLiteral("无法得知 %1 的可用空间：%2").arg(folder, platform::errorText(freeBytes.error().number)));
    const std::optional<qint64> fileBytes = m_.fileBytes ? m_.fileBytes : testFileBytes(*freeBytes);
    if (!fileBytes) {
        return problem(QStringLiteral("%1 的可用空间只有 %2 MiB，至少需要 %3 MiB")
                           .arg(folder)
                           .arg(*freeBytes / kMiB)
                           .arg(4 * kSmallestTestFile / kMiB));
    }

    // The folder exists from here on; whatever happens next, it goes with all in it.
    const PrivateFolder own(folder);
    if (own.fd() < 0)
        return problem(QStringLiteral("无法在 %1 中创建测试文件：%2").arg(folder, platform::errorText(own.error())));
    const int createFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    bool direct = true;
    int fd = m_.open(own.fd(), kTestFileName, createFlags | O_DIRECT);
    if (fd < 0 && errno == EINVAL) {
        direct = false;
        fd = m_.open(own.fd(), kTestFileName, createFlags);
    }
    if (fd < 0)
        return problem(QStringLiteral("无法在 %1 中创建测试文件：%2").arg(folder, platform::errorText(errno)));
    ::close(fd);

    const double jobSeconds = std::chrono::duration<double>(m_.runtime + m_.ramp).count();
    DiskResult result;
    result.folder = folder;
    result.fileSystem = machine::fileSystemOf(QFileInfo(folder).canonicalFilePath(),
                                              machine::readSystemFile(QStringLiteral("/proc/self/mountinfo")));
    result.direct = direct;
    result.fileBytes = *fileBytes;
    for (std::size_t job = 0; job < kDiskJobs.size(); ++job) {
        progress.showState(state(job));
        progress.showStep(job, 0.0);
        const OutputFile out(own.fd(), kReportName);
        const OutputFile err(own.fd(), kErrorsName);
        if (out.fd() < 0 || err.fd() < 0)
            return problem(QStringLiteral("无法在 %1 中创建测试文件：%2").arg(folder, platform::errorText(errno)));
        // fio runs in the test's folder, on a name only this user can replace there.
        const Finished finished = runFio(
            QFile::encodeName(fio), fioJobArguments(job, fileName(), *fileBytes, direct, m_.runtime, m_.ramp), own.fd(),
            out.fd(), err.fd(), stop, [&](double seconds) { progress.showStep(job, seconds / jobSeconds); });
        if (finished.stopped)
            return ExtendedError { ExtendedError::Kind::Stopped, {} };
        if (finished.spawnError != 0)
            return problem(QStringLiteral("fio 无法启动：%1").arg(platform::errorText(finished.spawnError)));
        const QString errorLine = firstErrorLine(err.readAll());
        const platform::Result<FioReport, FioReportError> reading = readFioReport(out.readAll());
        const bool exited = WIFEXITED(finished.status) && WEXITSTATUS(finished.status) == 0;
        const int jobError = reading ? reading->jobs.constFirst().error : 0;
        if (!exited || !reading || jobError != 0) {
            if (!errorLine.isEmpty())
                return problem(QStringLiteral("fio 出错：%1").arg(errorLine));
            if (jobError != 0)
                return problem(QStringLiteral("fio 出错：%1").arg(platform::errorText(jobError)));
            if (!exited) {
                return problem(WIFSIGNALED(finished.status)
                                   ? QStringLiteral("fio 被信号 %1 终止").arg(WTERMSIG(finished.status))
                                   : QStringLiteral("fio 以状态 %1 退出").arg(WEXITSTATUS(finished.status)));
            }
            return problem(reading.error().reason);
        }
        const FioJobReport& report = reading->jobs.constFirst();
        const bool reads = QByteArrayView(kFioJobs[job].rw).endsWith("read");
        DiskJobResult& measured = result.*kDiskJobs[job].result;
        measured.mbps = (reads ? report.readBytesPerSecond : report.writeBytesPerSecond) / 1e6;
        if (kDiskJobs[job].random)
            measured.iops = reads ? report.readIops : report.writeIops;
        progress.showStep(job, 1.0);
    }
    return result;
}

} // namespace ostrel::disk
