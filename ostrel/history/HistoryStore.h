// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/history/HistoryError.h"
#include "ostrel/history/RunRecord.h"
#include "platform/Clock.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

namespace ostrel::history {

// The runs of this machine in an SQLite database (Qt's QSQLITE driver), shared by the window and ostrel-cli:
// WAL mode and a busy timeout let both write at once, every write is one transaction, and the schema carries
// its version in PRAGMA user_version and is migrated forward on open (HistoryMigration.cpp). A run is a row of the
// table runs; each of its extended results a row of the table extended (run_id, test, json), whatever its test, so a
// new test needs no new schema. What other work took of each test is a row of the table interference (run_id, test,
// cpu_wait, steal, frequency).
//
// One object is one connection, with a name of its own. Open it, use it and destroy it on one thread (a worker
// thread is fine); make one per thread that needs the history. Failures come back as values: a corrupt file, a
// database locked past the timeout or one written by a newer version is reported, never thrown.
class HistoryStore
{
public:
    // The schema version this program writes; databases from 1 up to it are migrated to it.
    static constexpr int kSchemaVersion = 5;

    struct Options
    {
        // How long a statement waits for another connection's lock before giving up.
        std::chrono::milliseconds busyTimeout { 5000 };
        // Now, for the finishing times a run could have; the wall clock when null.
        const platform::Clock* clock = nullptr;
    };

    // $XDG_DATA_HOME/ostrel/history.sqlite (QStandardPaths::GenericDataLocation).
    static QString defaultPath();

    explicit HistoryStore(QString path = defaultPath());
    HistoryStore(QString path, Options options);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    const QString& path() const { return m_path; }

    // Opens the database, creating it and its folder when missing, and migrates it to kSchemaVersion. The other
    // operations open on demand, so calling this first is only needed to learn early whether the store works.
    Status open();

    // Adds runs, all in one transaction.
    Status append(const RunRecord& run);
    Status append(const QList<RunRecord>& runs);
    // Adds one run; its row, for setExtended().
    Result<qint64> appendRun(const RunRecord& run);
    // Sets the extended results of the run in row `id` to those of `run`, and adds its interference figures, in one
    // transaction: a run is kept as soon as its five tests end, its extended results when they come. A row no
    // longer there stays gone; the results of a test this version does not know stay as they are.
    Status setExtended(qint64 id, const RunRecord& run);

    // The runs, newest first (by finishing time); at most limit of them when limit >= 0. A value no run could have
    // written comes back as no value (withoutImplausibleValues()).
    Result<QList<RunRecord>> runs(int limit = -1);
    // The newest run; an empty optional when there is none.
    Result<std::optional<RunRecord>> latest();

    // A number that changes whenever another connection (thread or process) has committed to the database since
    // the last call; lets a window follow new runs cheaply. Empty when the database cannot be read.
    std::optional<qint64> dataVersion();

private:
    Status ensureOpen();
    Status openOnce();
    // Runs the statements in one write transaction, again while the database is locked.
    Status write(const std::function<Status()>& statements);
    Status insert(const QList<RunRecord>& runs, qint64* lastId);
    // Sets the extended results of the run in row `id`, inside a write.
    Status writeExtended(qint64 id, const ExtendedResults& results);
    // Adds or replaces the interference rows of the run in row `id`, inside a write.
    Status writeInterference(qint64 id, const QMap<QString, machine::Interference>& interference);
    // Runs the step again while it fails as locked, until the busy time-out has passed.
    Status whileLocked(const std::function<Status()>& step);
    Status migrate();
    // Refuses a schema version no version of this program wrote.
    Status knownVersion(int version) const;
    Status execute(const QString& statement);
    HistoryError errorFrom(const class QSqlError& error, const QString& what) const;

    QString m_path;
    Options m_options;
    QString m_connectionName;
    QSqlDatabase m_db;
    bool m_ready = false;
};

} // namespace ostrel::history
