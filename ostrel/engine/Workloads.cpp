// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/engine/Workloads.h"

#include "ostrel/engine/WorkloadLoops.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// This file is built with -falign-functions=64 -falign-loops=64
// -ffp-contract=off -fno-tree-vectorize (see CMakeLists.txt).
#define OSTREL_WORKLOAD __attribute__((noinline, aligned(64)))

namespace ostrel {

namespace workloads {

OSTREL_WORKLOAD std::uint32_t integerStep()
{
    loops::NoProbe probe;
    return loops::integerLoop(probe);
}

OSTREL_WORKLOAD double floatingPointStep(const std::atomic<bool>& stop)
{
    loops::NoProbe probe;
    return loops::floatingPointLoop(stop, probe).sum;
}

OSTREL_WORKLOAD bool piComputation(const std::atomic<bool>& stop)
{
    loops::NoProbe probe;
    return loops::piLoop(stop, probe).completed;
}

OSTREL_WORKLOAD bool memoryStep(const std::atomic<bool>& stop)
{
    loops::NoProbe probe;
    return loops::memoryLoop(stop, probe);
}

OSTREL_WORKLOAD int diskStep(const char* scratchPath)
{
    loops::NoProbe probe;
    return loops::diskLoop(scratchPath, probe);
}

} // namespace workloads

namespace {

const QString kScratchFileName = QStringLiteral("temp.txt");

bool mayCreateFilesIn(const QString& dir)
{
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        return false;
    const QByteArray path = QFile::encodeName(dir);
    return ::faccessat(AT_FDCWD, path.constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

// A package's folders: what is written there belongs to the package manager.
bool isInstalledIn(const QString& dir)
{
    for (const QString& path :
         { QDir::cleanPath(QFileInfo(dir).absoluteFilePath()), QFileInfo(dir).canonicalFilePath() }) {
        for (const QLatin1StringView prefix : { QLatin1StringView("/usr"), QLatin1StringView("/opt") }) {
            if (path == prefix || path.startsWith(prefix + QLatin1Char('/')))
                return true;
        }
    }
    return false;
}

} // namespace

QString scratchPath(const QString& executableDir, const QString& cacheDir)
{
    if (!isInstalledIn(executableDir) && mayCreateFilesIn(executableDir))
        return QDir(executableDir).filePath(kScratchFileName);
    QDir().mkpath(cacheDir);
    return QDir(cacheDir).filePath(kScratchFileName);
}

bool changedBefore(const struct stat& info, std::chrono::system_clock::time_point before)
{
    const auto since1970 = [](const timespec& time) {
        return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec)));
    };
    return std::max(since1970(info.st_mtim), since1970(info.st_ctim)) < before;
}

void removeLeftScratchFile(const QString& folder, std::chrono::system_clock::time_point before)
{
    const QByteArray path = QFile::encodeName(QDir(folder).filePath(kScratchFileName));
    struct stat info
    {
    };
    if (::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()
        && changedBefore(info, before))
        ::unlink(path.constData());
}

MachineWorkloads::MachineWorkloads(QString executableDir, QString cacheDir)
    : m_executableDir(std::move(executableDir))
    , m_cacheDir(std::move(cacheDir))
{
}

MachineWorkloads MachineWorkloads::forThisApplication()
{
    return MachineWorkloads(QCoreApplication::applicationDirPath(),
                            QStandardPaths::writableLocation(QStandardPaths::CacheLocation));
}

void MachineWorkloads::integerStep()
{
    workloads::integerStep();
}

bool MachineWorkloads::floatingPointStep(const std::atomic<bool>& stop)
{
    return workloads::floatingPointStep(stop) >= loops::kFloatingPointBound;
}

bool MachineWorkloads::piComputation(const std::atomic<bool>& stop)
{
    return workloads::piComputation(stop);
}

bool MachineWorkloads::memoryStep(const std::atomic<bool>& stop)
{
    return workloads::memoryStep(stop);
}

QString MachineWorkloads::diskPreparation()
{
    return scratchPath(m_executableDir, m_cacheDir);
}

DiskStatus MachineWorkloads::diskStep(const QString& path)
{
    return diskStatus(workloads::diskStep(QFile::encodeName(path).constData()));
}

QString MachineWorkloads::scratchFolder() const
{
    return QFileInfo(scratchPath(m_executableDir, m_cacheDir)).absolutePath();
}

void MachineWorkloads::diskCleanup(const QString& path)
{
    ::unlink(QFile::encodeName(path).constData());
}

} // namespace ostrel
