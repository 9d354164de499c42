// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <map>
#include <mutex>

namespace platform {

// A per-user, per-application store of doubles under text keys, kept across
// launches in an INI file. Fallbacks registered at run time serve every key
// that has no stored value and are never written.
//
// Each setDouble() is on disk before it returns: the file is rewritten
// atomically (temporary file, fsync, rename, fsync of the folder; see
// writeWholeFile()) and merges with what other processes stored meanwhile,
// so no key is lost, not even one this store does not know.
//
// Every access holds a lock on the store's folder (shared to read, exclusive
// to write) for as long as its QSettings object lives. QSettings caches a
// file's contents per process and trusts the cache while the file's size and
// modification time (in milliseconds) match it; a read racing another
// process's rename can cache older contents under the newer file's stamp, and
// the next write then drops what that process stored. Under the lock no file
// is replaced during a read, and each write leaves a modification time later
// than the one before, so two versions never share a stamp.
class UserDefaults
{
public:
    // The store kept in filePath.
    explicit UserDefaults(QString filePath);
    virtual ~UserDefaults() = default;

    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The store of an application in the user's configuration directory:
    // $XDG_CONFIG_HOME/<application>/<application>.conf.
    static QString pathFor(const QString& application);

    QString fileName() const { return m_filePath; }

    void registerDefaults(const std::map<QString, double>& fallbacks);

    // The stored double, else the registered fallback, else 0. A stored value
    // that is not a number reads as 0.
    virtual double doubleForKey(const QString& key) const;

    // Returns false when the value could not be written; lastWriteError()
    // then says why.
    virtual bool setDouble(const QString& key, double value);

    // The error number (errno) of the latest setDouble() that failed, 0 when
    // the latest one succeeded.
    int lastWriteError() const;

    // Why the stored values cannot be read (a folder where the file should
    // be, no permission), as errorText() gives it; empty when they can, or
    // when nothing was ever stored. Unreadable values read as fallbacks.
    QString readProblem() const;

private:
    bool write(const QString& key, double value);
    double fallbackFor(const QString& key) const;

    const QString m_filePath;
    mutable std::mutex m_mutex;
    std::map<QString, double> m_fallbacks;
    int m_lastWriteError = 0;
};

} // namespace platform
