// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Result.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <system_error>

struct stat;

namespace ostrel {

// How the disk workload's step ended: done, or the system's error of its first cycle that failed.
using DiskStatus = platform::Status<std::error_code>;

// The status of an error number (errno): done for 0.
inline DiskStatus diskStatus(int error)
{
    if (error == 0)
        return platform::Done {};
    return std::error_code(error, std::generic_category());
}

// The five workloads as the run calls them. The run is written against this
// interface so that tests can drive it with workloads that take no time.
class Workloads
{
public:
    virtual ~Workloads() = default;

    virtual void integerStep() = 0;
    // These three return false when they ended early because a stop was
    // requested; each takes long enough that waiting for its end would not do.
    virtual bool floatingPointStep(const std::atomic<bool>& stop) = 0;
    virtual bool piComputation(const std::atomic<bool>& stop) = 0;
    virtual bool memoryStep(const std::atomic<bool>& stop) = 0;
    // Yields the scratch file's path.
    virtual QString diskPreparation() = 0;
    // Done when every cycle wrote the whole text and read it all back, else
    // the system's error of the first cycle that did not.
    virtual DiskStatus diskStep(const QString& scratchPath) = 0;
    virtual void diskCleanup(const QString& scratchPath) = 0;

    // The folder the disk test writes in, for telling where it measured;
    // empty when it writes nowhere real.
    virtual QString scratchFolder() const { return {}; }
};

// The real work, every iteration performed.
class MachineWorkloads final : public Workloads
{
public:
    // The scratch file goes into executableDir, or into cacheDir (created
    // when missing) when executableDir cannot be written.
    MachineWorkloads(QString executableDir, QString cacheDir);

    // The folders of the running application.
    static MachineWorkloads forThisApplication();

    void integerStep() override;
    bool floatingPointStep(const std::atomic<bool>& stop) override;
    bool piComputation(const std::atomic<bool>& stop) override;
    bool memoryStep(const std::atomic<bool>& stop) override;
    QString diskPreparation() override;
    DiskStatus diskStep(const QString& scratchPath) override;
    void diskCleanup(const QString& scratchPath) override;
    QString scratchFolder() const override;

private:
    QString m_executableDir;
    QString m_cacheDir;
};

// Where the scratch file "temp.txt" goes: directly in executableDir when this
// process may create files there and it is no installed program's (under
// /usr or /opt: never beside it, not even as root), else in cacheDir,
// created when missing.
QString scratchPath(const QString& executableDir, const QString& cacheDir);

// Removes the scratch file that a run killed before `before` left in
// `folder`: only a regular file of this user's, never through a link. For
// the next run, while it holds the run lock.
void removeLeftScratchFile(const QString& folder, std::chrono::system_clock::time_point before);

// Whether the file lstat() described was last changed before `before`.
bool changedBefore(const struct stat& info, std::chrono::system_clock::time_point before);

namespace workloads {

// The shipped loops, each in a function of its own aligned to a cache line
// with its loop aligned too, so that their speed does not depend on what
// else is linked into the program. Each returns its final value so that the
// work cannot be dropped and can be checked.
std::uint32_t integerStep();
double floatingPointStep(const std::atomic<bool>& stop);
bool piComputation(const std::atomic<bool>& stop);
bool memoryStep(const std::atomic<bool>& stop);
int diskStep(const char* scratchPath);

} // namespace workloads

} // namespace ostrel
