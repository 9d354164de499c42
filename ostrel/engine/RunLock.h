// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QString>
#include <chrono>

namespace ostrel {

// Why the run lock was not taken.
struct RunLockError
{
    enum class Kind {
        // Another holder has it.
        Busy,
        // The lock file cannot be made or locked; the message says why.
        CannotMake,
    };

    Kind kind = Kind::Busy;
    // "<path>：<reason>" for CannotMake; empty for Busy.
    QString message;
};

// One benchmark at a time for a user: two runs at once share the processor
// and the disk test's scratch file, and spoil each other's scores.
//
// An advisory lock (flock) on a file of its own. The kernel drops it when the
// holder closes the file or dies, so a crashed run never leaves it stuck. The
// holder writes its PID and program name into the file, so that a run that
// is refused can say who is running.
class RunLock
{
public:
    // $XDG_RUNTIME_DIR/ostrel-run.lock; where that is unset or no folder,
    // ostrel-run.lock in $XDG_CACHE_HOME/ostrel.
    static QString defaultPath();

    explicit RunLock(QString path = defaultPath());
    // Releases the lock if held.
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    const QString& path() const { return m_path; }

    // Takes the lock without waiting; done at once when already held.
    platform::Status<RunLockError> tryLock();
    bool isLocked() const { return m_fd >= 0; }
    void unlock();
    // When tryLock() took the lock. What runs left behind before then, no run
    // of this user's is still using: the holder may remove it.
    std::chrono::system_clock::time_point lockedAt() const { return m_lockedAt; }

    // Who holds the lock, as "ostrel-cli (PID 1234)", from what the holder
    // wrote into the file; empty when that is not known or no longer true
    // (the process it names is gone).
    QString holder() const;
    // The same from the lock file's content, "1234 ostrel-cli\n".
    static QString holderFrom(const QByteArray& content);

private:
    const QString m_path;
    int m_fd = -1;
    std::chrono::system_clock::time_point m_lockedAt;
};

} // namespace ostrel
