// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/HistoryStore.h"

#include "ostrel/engine/Panel.h"
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/history/HistoryMigration.h"
#include "ostrel/history/ResultsDocument.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <atomic>

namespace ostrel::history {

namespace {

// SQLite's primary result codes, as QSQLITE reports them in QSqlError::nativeErrorCode().
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteCantOpen = 14;
constexpr int kSqliteNotADatabase = 26;

QString scoreColumn(const TestKind& kind)
{
    return QStringLiteral("score_") + QLatin1String(kind.key);
}

QString elapsedColumn(const TestKind& kind)
{
    return QStringLiteral("elapsed_") + QLatin1String(kind.key);
}

HistoryError corruptError(const QString& path)
{
    return { HistoryError::Kind::Corrupt,
             QStringLiteral("历史记录文件已损坏：%1").arg(QDir::toNativeSeparators(path)) };
}

HistoryError newerVersionError(int version, const QString& path)
{
    return { HistoryError::Kind::NewerVersion,
             QStringLiteral("历史记录文件由更新版本的 Ostrel 写入（格式 %1，本版本只认识到 %2），本版本不能读写它：%3")
                 .arg(version)
                 .arg(HistoryStore::kSchemaVersion)
                 .arg(QDir::toNativeSeparators(path)) };
}

// The columns of a run, in the order they are written and read.
QStringList runColumns()
{
    QStringList columns { QStringLiteral("finished_at") };
    for (const TestKind& kind : kTestKinds)
        columns << scoreColumn(kind);
    columns << QStringLiteral("overall");
    for (const TestKind& kind : kTestKinds)
        columns << elapsedColumn(kind);
    columns << QStringLiteral("version") << QStringLiteral("machine") << QStringLiteral("conditions");
    return columns;
}

QString nextConnectionName()
{
    static std::atomic<int> counter { 0 };
    return QStringLiteral("ostrel-history-%1").arg(counter.fetch_add(1));
}

QVariant optionalValue(const std::optional<double>& value)
{
    return value ? QVariant(*value) : QVariant();
}

// A share from 0 to 1, as measured; anything else (edited by hand) reads as no figure.
std::optional<double> shareValue(const QVariant& value)
{
    bool ok = false;
    const double share = value.toDouble(&ok);
    return !value.isNull() && ok && share >= 0.0 && share <= 1.0 ? std::optional<double>(share) : std::nullopt;
}

QString compactJson(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// A row that does not read as its test's result (edited by hand, say) is taken as a run without that test; a row
// of a test this version does not know is left as it is.
void readExtended(const QString& test, const QString& json, ExtendedResults& into)
{
    const ExtendedKind* kind = findExtendedTest(test);
    if (!kind)
        return;
    const QJsonDocument parsed = QJsonDocument::fromJson(json.toUtf8());
    if (!parsed.isObject())
        return;
    ExtendedResult<ExtendedResults::Entry> result = kind->fromJson(parsed.object());
    if (result)
        into.set(std::move(result).value());
}

} // namespace

QString HistoryStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/ostrel/history.sqlite");
}

HistoryStore::HistoryStore(QString path)
    : HistoryStore(std::move(path), Options {})
{
}

HistoryStore::HistoryStore(QString path, Options options)
    : m_path(std::move(path))
    , m_options(options)
    , m_connectionName(nextConnectionName())
{
}

HistoryStore::~HistoryStore()
{
    if (!m_db.isValid())
        return;
    m_db.close();
    // The connection can only be removed once no handle to it is left.
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

HistoryError HistoryStore::errorFrom(const QSqlError& error, const QString& what) const
{
    const int code = error.nativeErrorCode().toInt() & 0xff;
    const QString path = QDir::toNativeSeparators(m_path);
    switch (code) {
    case kSqliteBusy:
    case kSqliteLocked:
        return { HistoryError::Kind::Locked,
                 QStringLiteral("历史记录文件被其他程序占用，等了 %1 秒仍未释放：%2")
                     .arg(double(m_options.busyTimeout.count()) / 1000.0)
                     .arg(path) };
    case kSqliteCorrupt:
    case kSqliteNotADatabase:
        return corruptError(m_path);
    case kSqliteCantOpen:
        return { HistoryError::Kind::CannotOpen,
                 QStringLiteral("无法打开历史记录文件：%1（%2）").arg(path, error.databaseText()) };
    default:
        return { HistoryError::Kind::Failed,
                 QStringLiteral("历史记录文件%1失败：%2（%3）").arg(what, path, error.text()) };
    }
}

Status HistoryStore::execute(const QString& statement)
{
    QSqlQuery query(m_db);
    if (!query.exec(statement))
        return errorFrom(query.lastError(), QStringLiteral("写入"));
    return Done {};
}

Status HistoryStore::open()
{
    return ensureOpen();
}

Status HistoryStore::whileLocked(const std::function<Status()>& step)
{
    // SQLite answers some contention at once instead of in its busy handler: a lock it cannot wait for without
    // risking a deadlock, or a file another program is just creating or turning into WAL. Those are tried again,
    // so that "locked" always means locked for the whole busy time-out.
    const QDeadlineTimer deadline(m_options.busyTimeout);
    for (;;) {
        Status done = step();
        if (done || done.error().kind != HistoryError::Kind::Locked || deadline.hasExpired())
            return done;
        QThread::msleep(10);
    }
}

Status HistoryStore::ensureOpen()
{
    if (m_ready)
        return Done {};
    return whileLocked([this] { return openOnce(); });
}

Status HistoryStore::openOnce()
{
    const QString path = QDir::toNativeSeparators(m_path);
    if (!m_db.isValid()) {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        if (!m_db.isValid())
            return HistoryError { HistoryError::Kind::CannotOpen,
                                  QStringLiteral("无法打开历史记录文件：%1（缺少 Qt 的 SQLite 驱动）").arg(path) };
        m_db.setDatabaseName(m_path);
        m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_options.busyTimeout.count()));
    }
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath()))
        return HistoryError {
            HistoryError::Kind::CannotOpen,
            QStringLiteral("无法创建历史记录文件夹：%1").arg(QDir::toNativeSeparators(QFileInfo(m_path).absolutePath()))
        };
    if (!m_db.isOpen() && !m_db.open())
        return errorFrom(m_db.lastError(), QStringLiteral("打开"));

    // SQLite opens any file lazily: the first read tells whether it is a database at all.
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return errorFrom(query.lastError(), QStringLiteral("读取"));
    const int version = query.value(0).toInt();
    query.finish();
    if (Status known = knownVersion(version); !known)
        return known;

    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
        return errorFrom(query.lastError(), QStringLiteral("设置"));
    query.finish();
    // In WAL mode NORMAL keeps the database consistent through crashes and saves a sync per run.
    if (Status set = execute(QStringLiteral("PRAGMA synchronous=NORMAL")); !set)
        return set;
    if (version < kSchemaVersion) {
        if (Status migrated = migrate(); !migrated)
            return migrated;
    }
    m_ready = true;
    return Done {};
}

Status HistoryStore::knownVersion(int version) const
{
    // No version of this program wrote one below 0: the file was damaged, and migrating it would walk the
    // steps from there.
    if (version < 0)
        return corruptError(m_path);
    if (version > kSchemaVersion)
        return newerVersionError(version, m_path);
    return Done {};
}

Status HistoryStore::migrate()
{
    // The version is read again under the write lock, so two programs opening the same old file at once migrate
    // it once; all steps go in one transaction, so a failed step leaves the file as it was.
    if (Status begun = execute(QStringLiteral("BEGIN IMMEDIATE")); !begun)
        return begun;
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) {
        const HistoryError error = errorFrom(query.lastError(), QStringLiteral("读取"));
        static_cast<void>(execute(QStringLiteral("ROLLBACK")));
        return error;
    }
    const int version = query.value(0).toInt();
    query.finish();
    if (version == kSchemaVersion || !knownVersion(version)) {
        static_cast<void>(execute(QStringLiteral("ROLLBACK")));
        return knownVersion(version);
    }
    QStringList statements;
    for (int step = version; step < kSchemaVersion; ++step)
        statements << migrationStep(step);
    statements << QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion) << QStringLiteral("COMMIT");
    for (const QString& statement : statements) {
        if (Status done = execute(statement); !done) {
            static_cast<void>(execute(QStringLiteral("ROLLBACK")));
            return done;
        }
    }
    return Done {};
}

Status HistoryStore::append(const RunRecord& run)
{
    return append(QList<RunRecord> { run });
}

Status HistoryStore::append(const QList<RunRecord>& runs)
{
    return write([&] { return insert(runs, nullptr); });
}

Result<qint64> HistoryStore::appendRun(const RunRecord& run)
{
    qint64 id = 0;
    if (Status appended = write([&] { return insert({ run }, &id); }); !appended)
        return appended.error();
    return id;
}

Status HistoryStore::setExtended(qint64 id, const RunRecord& run)
{
    return write([&]() -> Status {
        if (Status extended = writeExtended(id, run.extended); !extended)
            return extended;
        return writeInterference(id, run.interference);
    });
}

Status HistoryStore::writeInterference(qint64 id, const QMap<QString, machine::Interference>& interference)
{
    QSqlQuery keep(m_db);
    if (!keep.prepare(QStringLiteral("INSERT OR REPLACE INTO interference (run_id, test, cpu_wait, steal, frequency) "
                                     "SELECT id, ?, ?, ?, ? FROM runs WHERE id = ?")))
        return errorFrom(keep.lastError(), QStringLiteral("写入"));
    for (auto it = interference.begin(); it != interference.end(); ++it) {
        const QVariantList values { it.key(), optionalValue(it->cpuWait), optionalValue(it->steal),
                                    optionalValue(it->frequency), id };
        for (int i = 0; i < values.size(); ++i)
            keep.bindValue(i, values[i]);
        if (!keep.exec())
            return errorFrom(keep.lastError(), QStringLiteral("写入"));
    }
    return Done {};
}

Status HistoryStore::writeExtended(qint64 id, const ExtendedResults& results)
{
    // Only the tests this version knows: another version's rows stay.
    QSqlQuery remove(m_db);
    QSqlQuery keep(m_db);
    if (!remove.prepare(QStringLiteral("DELETE FROM extended WHERE run_id = ? AND test = ?"))
        || !keep.prepare(QStringLiteral("INSERT OR REPLACE INTO extended (run_id, test, json) "
                                        "SELECT id, ?, ? FROM runs WHERE id = ?")))
        return errorFrom(remove.lastError().isValid() ? remove.lastError() : keep.lastError(), QStringLiteral("写入"));
    for (const ExtendedKind& kind : extendedTests()) {
        const ExtendedResults::Entry* result = results.find(kind.key);
        QSqlQuery& query = result ? keep : remove;
        if (result) {
            // A row no longer there stays gone.
            query.bindValue(0, kind.key);
            query.bindValue(1, compactJson(kind.toJson(*result)));
            query.bindValue(2, id);
        } else {
            query.bindValue(0, id);
            query.bindValue(1, kind.key);
        }
        if (!query.exec())
            return errorFrom(query.lastError(), QStringLiteral("写入"));
    }
    return Done {};
}

Status HistoryStore::write(const std::function<Status()>& statements)
{
    if (Status opened = ensureOpen(); !opened)
        return opened;
    return whileLocked([&]() -> Status {
        // IMMEDIATE takes the write lock at once, so a second writer waits in the busy handler instead of failing
        // when it would upgrade a read lock.
        if (Status begun = execute(QStringLiteral("BEGIN IMMEDIATE")); !begun)
            return begun;
        if (Status done = statements(); !done) {
            static_cast<void>(execute(QStringLiteral("ROLLBACK")));
            return done;
        }
        if (Status committed = execute(QStringLiteral("COMMIT")); !committed) {
            static_cast<void>(execute(QStringLiteral("ROLLBACK")));
            return committed;
        }
        return Done {};
    });
}

Status HistoryStore::insert(const QList<RunRecord>& runs, qint64* lastId)
{
    const QStringList columns = runColumns();
    const QString statement = QStringLiteral("INSERT INTO runs (%1) VALUES (%2)")
                                  .arg(columns.join(QStringLiteral(", ")),
                                       QStringList(columns.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
    QSqlQuery insert(m_db);
    if (!insert.prepare(statement))
        return errorFrom(insert.lastError(), QStringLiteral("写入"));
    for (const RunRecord& run : runs) {
        QVariantList values { run.finishedAt };
        for (double score : run.scores)
            values << score;
        values << run.overall;
        for (const std::optional<double>& elapsed : run.elapsed)
            values << optionalValue(elapsed);
        // A null text would bind as NULL, which the column refuses.
        values << (run.version.isNull() ? QStringLiteral("") : run.version) << compactJson(machineToJson(run.machine))
               << QString::fromUtf8(
                      QJsonDocument(QJsonArray::fromStringList(run.conditions)).toJson(QJsonDocument::Compact));
        for (int i = 0; i < values.size(); ++i)
            insert.bindValue(i, values[i]);
        if (!insert.exec())
            return errorFrom(insert.lastError(), QStringLiteral("写入"));
        const qint64 id = insert.lastInsertId().toLongLong();
        if (!run.extended.isEmpty()) {
            if (Status kept = writeExtended(id, run.extended); !kept)
                return kept;
        }
        if (Status kept = writeInterference(id, run.interference); !kept)
            return kept;
        if (lastId)
            *lastId = id;
    }
    return Done {};
}

Result<QList<RunRecord>> HistoryStore::runs(int limit)
{
    if (Status opened = ensureOpen(); !opened)
        return opened.error();

    const QString order = QStringLiteral(" ORDER BY finished_at DESC, id DESC LIMIT %1").arg(std::max(limit, -1));
    // The extended results first, so that a result added between the two reads is never lost: at worst it shows
    // at the next read.
    QHash<qint64, ExtendedResults> extended;
    {
        QSqlQuery rows(m_db);
        rows.setForwardOnly(true);
        if (!rows.exec(QStringLiteral("SELECT run_id, test, json FROM extended WHERE run_id IN (SELECT id FROM runs%1)")
                           .arg(order)))
            return errorFrom(rows.lastError(), QStringLiteral("读取"));
        while (rows.next())
            readExtended(rows.value(1).toString(), rows.value(2).toString(), extended[rows.value(0).toLongLong()]);
        if (rows.lastError().isValid())
            return errorFrom(rows.lastError(), QStringLiteral("读取"));
    }
    QHash<qint64, QMap<QString, machine::Interference>> interference;
    {
        QSqlQuery rows(m_db);
        rows.setForwardOnly(true);
        if (!rows.exec(QStringLiteral("SELECT run_id, test, cpu_wait, steal, frequency FROM interference "
                                      "WHERE run_id IN (SELECT id FROM runs%1)")
                           .arg(order)))
            return errorFrom(rows.lastError(), QStringLiteral("读取"));
        while (rows.next()) {
            machine::Interference& figures = interference[rows.value(0).toLongLong()][rows.value(1).toString()];
            figures.cpuWait = shareValue(rows.value(2));
            figures.steal = shareValue(rows.value(3));
            figures.frequency = shareValue(rows.value(4));
        }
        if (rows.lastError().isValid())
            return errorFrom(rows.lastError(), QStringLiteral("读取"));
    }

    const QString statement
        = QStringLiteral("SELECT id, %1 FROM runs").arg(runColumns().join(QStringLiteral(", "))) + order;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(statement))
        return errorFrom(query.lastError(), QStringLiteral("读取"));

    // Runs of one machine repeat the same facts and mostly the same conditions: parse each text once.
    QHash<QString, machine::MachineFacts> machines;
    QHash<QString, QStringList> conditionLists;
    const double now = m_options.clock ? m_options.clock->now() : platform::WallClock().now();
    QList<RunRecord> runs;
    while (query.next()) {
        RunRecord run;
        run.extended = extended.value(query.value(0).toLongLong());
        run.interference = interference.value(query.value(0).toLongLong());
        int column = 1;
        run.finishedAt = query.value(column++).toDouble();
        for (double& score : run.scores)
            score = query.value(column++).toDouble();
        run.overall = query.value(column++).toDouble();
        for (std::optional<double>& elapsed : run.elapsed) {
            const QVariant value = query.value(column++);
            if (!value.isNull())
                elapsed = value.toDouble();
        }
        run.version = query.value(column++).toString();
        const QString machine = query.value(column++).toString();
        auto known = machines.constFind(machine);
        if (known == machines.constEnd())
            known = machines.insert(machine, machineFromJson(QJsonDocument::fromJson(machine.toUtf8()).object()));
        run.machine = *known;
        const QString conditions = query.value(column++).toString();
        auto list = conditionLists.constFind(conditions);
        if (list == conditionLists.constEnd()) {
            QStringList keys;
            for (const QJsonValue& key : QJsonDocument::fromJson(conditions.toUtf8()).array())
                keys << key.toString();
            list = conditionLists.insert(conditions, keys);
        }
        run.conditions = *list;
        runs.append(withoutImplausibleValues(std::move(run), now));
    }
    if (query.lastError().isValid())
        return errorFrom(query.lastError(), QStringLiteral("读取"));
    return runs;
}

Result<std::optional<RunRecord>> HistoryStore::latest()
{
    Result<QList<RunRecord>> newest = runs(1);
    if (!newest)
        return newest.error();
    if (newest->isEmpty())
        return std::optional<RunRecord> {};
    return std::optional<RunRecord> { newest->first() };
}

std::optional<qint64> HistoryStore::dataVersion()
{
    if (!ensureOpen())
        return std::nullopt;
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("PRAGMA data_version")) || !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

} // namespace ostrel::history
