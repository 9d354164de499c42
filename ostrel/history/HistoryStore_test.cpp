// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/HistoryStore.h"
#include "ostrel/testing/SampleRuns.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

using namespace ostrel::history;
using namespace std::chrono_literals;
using ostrel::history::testing::kSampleTime;
using ostrel::history::testing::sampleExtendedRun;
using ostrel::history::testing::sampleRun;

namespace {

// A plain SQLite connection beside the store, for making and inspecting files by hand.
class RawConnection
{
public:
    explicit RawConnection(const QString& path)
        : m_name(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    }
    ~RawConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }

    void exec(const QString& statement)
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        EXPECT_TRUE(query.exec(statement)) << statement.toStdString() << ": " << query.lastError().text().toStdString();
    }
    QVariant scalar(const QString& statement)
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        EXPECT_TRUE(query.exec(statement) && query.next()) << statement.toStdString();
        return query.value(0);
    }

private:
    QString m_name;
};

const char* kChildDatabase = "OSTREL_HISTORY_CHILD_DB";
constexpr int kRunsPerWriter = 40;

QString message(const Status& status)
{
    return status ? QString() : status.error().message;
}

} // namespace

TEST(HistoryStore, WritesAndReadsBackNewestFirst)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nested/folder/history.sqlite"));
    {
        HistoryStore store(path);
        const Result<std::optional<RunRecord>> none = store.latest();
        ASSERT_TRUE(none) << none.error().message.toStdString();
        EXPECT_FALSE(none.value().has_value());

        ASSERT_TRUE(store.append(sampleRun(kSampleTime + 200, 70)));
        ASSERT_TRUE(store.append(sampleRun(kSampleTime + 500, 90)));
        ASSERT_TRUE(store.append(QList<RunRecord> { sampleRun(kSampleTime + 100, 60), sampleRun(kSampleTime + 400, 85),
                                                    sampleRun(kSampleTime + 300, 75) }));

        const Result<QList<RunRecord>> runs = store.runs();
        ASSERT_TRUE(runs);
        ASSERT_EQ(runs->size(), 5);
        const double order[] = { 500, 400, 300, 200, 100 };
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(runs.value()[i].finishedAt, kSampleTime + order[i]);
        EXPECT_EQ(runs.value()[0], sampleRun(kSampleTime + 500, 90)) << "every field, every double exactly";
        EXPECT_EQ(store.runs(2)->size(), 2);
        EXPECT_EQ(store.latest()->value(), sampleRun(kSampleTime + 500, 90));
    }
    // Another connection, as the next launch would make, sees the same runs.
    HistoryStore again(path);
    ASSERT_EQ(again.runs()->size(), 5);
    EXPECT_EQ(again.runs()->last(), sampleRun(kSampleTime + 100, 60));

    RawConnection raw(path);
    EXPECT_EQ(raw.scalar("PRAGMA user_version").toInt(), HistoryStore::kSchemaVersion);
    EXPECT_EQ(raw.scalar("PRAGMA journal_mode").toString(), "wal");
}

// A value no run could have written comes back as no value; the rest of its run as stored.
TEST(HistoryStore, GivesBackImpossibleValuesAsNoValue)
{
    class FixedClock final : public platform::Clock
    {
    public:
        double now() const override { return kSampleTime - 2 * 86400.0; }
    } clock;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    RunRecord impossible = sampleRun(kSampleTime - 86400.0);
    impossible.scores[3] = 100.5;
    impossible.elapsed[2] = -1.0;
    impossible.machine.kernel = QString(1025, QLatin1Char('k'));
    ASSERT_TRUE(HistoryStore(path).append({ impossible, sampleRun(kSampleTime) }));

    HistoryStore store(path, HistoryStore::Options { 5000ms, &clock });
    const Result<QList<RunRecord>> runs = store.runs();
    ASSERT_TRUE(runs);
    ASSERT_EQ(runs->size(), 2);
    EXPECT_TRUE(std::isnan(runs->at(0).finishedAt)) << "more than a day after the clock's now";
    RunRecord expected = sampleRun(kSampleTime);
    expected.finishedAt = runs->at(0).finishedAt;
    EXPECT_EQ(runs->at(0).scores, expected.scores);
    const RunRecord& kept = runs->at(1);
    EXPECT_EQ(kept.finishedAt, kSampleTime - 86400.0);
    EXPECT_TRUE(std::isnan(kept.scores[3]));
    EXPECT_FALSE(kept.elapsed[2].has_value());
    EXPECT_EQ(kept.scores[2], impossible.scores[2]) << "no elapsed time left to bound it";
    EXPECT_TRUE(kept.machine.kernel.isEmpty());
    EXPECT_EQ(kept.machine.cpuModel, impossible.machine.cpuModel);
}

TEST(HistoryStore, DefaultPathIsInTheUsersDataFolder)
{
    EXPECT_EQ(HistoryStore::defaultPath(), qEnvironmentVariable("XDG_DATA_HOME") + "/ostrel/history.sqlite");
    HistoryStore store;
    ASSERT_TRUE(store.append(sampleRun(1)));
    EXPECT_TRUE(QFile::exists(HistoryStore::defaultPath()));
}

TEST(HistoryStore, MigratesAVersion1Database)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    {
        // The first schema as the first release wrote it.
        RawConnection raw(path);
        raw.exec("CREATE TABLE runs (id INTEGER PRIMARY KEY, finished_at REAL NOT NULL, score_int REAL NOT NULL, "
                 "score_double REAL NOT NULL, score_pi REAL NOT NULL, score_memory REAL NOT NULL, "
                 "score_disk REAL NOT NULL, overall REAL NOT NULL, version TEXT NOT NULL, machine TEXT NOT NULL)");
        raw.exec("INSERT INTO runs (finished_at, score_int, score_double, score_pi, score_memory, score_disk, overall, "
                 "version, machine) VALUES (1700000000.5, 81.5, 82, 83, 84, 85, 83.1, '0.9.0', "
                 "'{\"cpuModel\": \"Old CPU\", \"logicalCpus\": 4, \"memoryBytes\": 8589934592}')");
        raw.exec("PRAGMA user_version = 1");
    }

    HistoryStore store(path);
    ASSERT_TRUE(store.open()) << message(store.open()).toStdString();
    ASSERT_TRUE(store.append(sampleRun(kSampleTime + 1000)));
    const Result<QList<RunRecord>> runs = store.runs();
    ASSERT_TRUE(runs);
    ASSERT_EQ(runs->size(), 2);
    EXPECT_EQ(runs.value()[0], sampleRun(kSampleTime + 1000));
    const RunRecord& old = runs.value()[1];
    EXPECT_EQ(old.finishedAt, 1700000000.5);
    EXPECT_EQ(old.scores, (std::array<double, 5> { 81.5, 82, 83, 84, 85 }));
    EXPECT_EQ(old.overall, 83.1);
    EXPECT_EQ(old.version, "0.9.0");
    EXPECT_EQ(old.machine.cpuModel, "Old CPU");
    EXPECT_EQ(old.machine.memoryBytes, 8589934592);
    for (const auto& elapsed : old.elapsed)
        EXPECT_FALSE(elapsed.has_value()) << "version 1 kept no stage times";
    EXPECT_TRUE(old.conditions.isEmpty());

    RawConnection raw(path);
    EXPECT_EQ(raw.scalar("PRAGMA user_version").toInt(), HistoryStore::kSchemaVersion);
}

TEST(HistoryStore, MigratesAVersion2DatabaseAndKeepsExtendedResults)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    {
        // The second schema as version 2 left it.
        RawConnection raw(path);
        raw.exec("CREATE TABLE runs (id INTEGER PRIMARY KEY, finished_at REAL NOT NULL, score_int REAL NOT NULL, "
                 "score_double REAL NOT NULL, score_pi REAL NOT NULL, score_memory REAL NOT NULL, "
                 "score_disk REAL NOT NULL, overall REAL NOT NULL, version TEXT NOT NULL, machine TEXT NOT NULL, "
                 "elapsed_int REAL, elapsed_double REAL, elapsed_pi REAL, elapsed_memory REAL, elapsed_disk REAL, "
                 "conditions TEXT NOT NULL DEFAULT '[]')");
        raw.exec("CREATE INDEX runs_by_time ON runs (finished_at)");
        raw.exec("INSERT INTO runs (finished_at, score_int, score_double, score_pi, score_memory, score_disk, overall, "
                 "version, machine, elapsed_int, conditions) VALUES (1750000000.25, 81.5, 82, 83, 84, 85, 83.1, "
                 "'1.0.0', '{\"cpuModel\": \"Old CPU\"}', 3.5, '[\"busy\"]')");
        raw.exec("PRAGMA user_version = 2");
    }

    HistoryStore store(path);
    ASSERT_TRUE(store.open()) << message(store.open()).toStdString();
    RunRecord onlyDisk = sampleExtendedRun(1796000100);
    onlyDisk.extended.remove(QStringLiteral("multicore"));
    ASSERT_TRUE(store.append({ sampleExtendedRun(1796000000), onlyDisk }));
    const Result<QList<RunRecord>> runs = store.runs();
    ASSERT_TRUE(runs);
    ASSERT_EQ(runs->size(), 3);
    EXPECT_EQ(runs.value()[0], onlyDisk);
    EXPECT_EQ(runs.value()[1], sampleExtendedRun(1796000000)) << "both results, every double exactly";
    const RunRecord& old = runs.value()[2];
    EXPECT_EQ(old.finishedAt, 1750000000.25);
    EXPECT_EQ(old.elapsed[0], 3.5);
    EXPECT_EQ(old.conditions, QStringList { "busy" });
    EXPECT_FALSE(old.extended.find(QStringLiteral("multicore")));
    EXPECT_FALSE(old.extended.find(QStringLiteral("disk")));

    // The figures can be reached from SQL, and a run without them has no row there.
    RawConnection raw(path);
    EXPECT_EQ(raw.scalar("PRAGMA user_version").toInt(), HistoryStore::kSchemaVersion);
    EXPECT_EQ(raw.scalar("SELECT json_extract(json, '$.randRead.iops') FROM extended JOIN runs ON run_id = id "
                         "WHERE test = 'disk' AND finished_at = 1796000000")
                  .toDouble(),
              18096.75);
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM runs WHERE id NOT IN "
                         "(SELECT run_id FROM extended WHERE test = 'multicore')")
                  .toInt(),
              2);

    // A row damaged by hand reads as a run without that test, not as a broken history.
    raw.exec("UPDATE extended SET json = '{\"folder\": 7}' WHERE test = 'disk' AND run_id = "
             "(SELECT id FROM runs WHERE finished_at = 1796000000)");
    const Result<QList<RunRecord>> again = store.runs();
    ASSERT_TRUE(again);
    EXPECT_FALSE(again.value()[1].extended.find(QStringLiteral("disk")));
    const RunRecord written = sampleExtendedRun(1796000000);
    const ostrel::MulticoreResult* multicore = again.value()[1].extended.find<ostrel::MulticoreResult>();
    ASSERT_TRUE(multicore);
    EXPECT_EQ(*multicore, *written.extended.find<ostrel::MulticoreResult>());
}

// Version 3 kept the two extended results in columns of their own: they move to the extended table in the
// migration's one transaction and read back the same, and a test this version does not know keeps its row.
TEST(HistoryStore, MigratesAVersion3DatabaseWithBothColumnsFilled)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    // The results a version-3 database could hold.
    RunRecord both = sampleExtendedRun(1796000000);
    both.extended.remove(QStringLiteral("memoryBandwidth"));
    both.extended.remove(QStringLiteral("memoryLatency"));
    both.interference.clear();
    RunRecord onlyDisk = sampleExtendedRun(1796000100, 75.0);
    onlyDisk.extended.remove(QStringLiteral("multicore"));
    onlyDisk.extended.remove(QStringLiteral("memoryBandwidth"));
    onlyDisk.extended.remove(QStringLiteral("memoryLatency"));
    onlyDisk.interference.clear();
    const RunRecord plain = sampleRun(1796000200, 70.0);
    {
        // Written by this version, then taken back to the version-3 schema as version 3 left it.
        HistoryStore store(path);
        ASSERT_TRUE(store.append({ both, onlyDisk, plain }));
    }
    {
        RawConnection raw(path);
        raw.exec("ALTER TABLE runs ADD COLUMN multicore TEXT");
        raw.exec("ALTER TABLE runs ADD COLUMN disk TEXT");
        for (const char* test : { "multicore", "disk" })
            raw.exec(QStringLiteral("UPDATE runs SET %1 = (SELECT json FROM extended WHERE run_id = runs.id "
                                    "AND test = '%1')")
                         .arg(QLatin1String(test)));
        raw.exec("DROP TABLE extended");
        raw.exec("DROP TABLE interference");
        raw.exec("PRAGMA user_version = 3");
        EXPECT_EQ(raw.scalar("SELECT count(*) FROM runs WHERE multicore IS NOT NULL AND disk IS NOT NULL").toInt(), 1);
    }
    {
        HistoryStore store(path);
        const Result<QList<RunRecord>> runs = store.runs();
        ASSERT_TRUE(runs) << runs.error().message.toStdString();
        EXPECT_EQ(runs.value(), (QList<RunRecord> { plain, onlyDisk, both }));
    }
    RawConnection raw(path);
    EXPECT_EQ(raw.scalar("PRAGMA user_version").toInt(), HistoryStore::kSchemaVersion);
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM pragma_table_info('runs') WHERE name IN ('multicore', 'disk')").toInt(),
              0);
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM extended").toInt(), 3);

    // Another version's test: kept through reads and through setting this version's results, and never shown.
    raw.exec("INSERT INTO extended (run_id, test, json) SELECT id, 'futureTest', '{\"x\": 1}' FROM runs "
             "WHERE finished_at = 1796000000");
    HistoryStore store(path);
    const Result<QList<RunRecord>> runs = store.runs();
    ASSERT_TRUE(runs);
    EXPECT_EQ(runs->last(), both);
    const qint64 id = raw.scalar("SELECT id FROM runs WHERE finished_at = 1796000000").toLongLong();
    ASSERT_TRUE(store.setExtended(id, plain));
    EXPECT_EQ(store.runs()->last(), sampleRun(1796000000)) << "this version's results gone";
    EXPECT_EQ(raw.scalar("SELECT json FROM extended WHERE test = 'futureTest'").toString(),
              QStringLiteral("{\"x\": 1}"));
}

// Version 4 kept no interference: its runs read back the same, without it, and a run kept after the migration has
// it, also when its extended results come later.
TEST(HistoryStore, MigratesAVersion4DatabaseAndKeepsInterferenceFromThenOn)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    RunRecord old = sampleExtendedRun(1796000000);
    old.interference.clear();
    {
        HistoryStore store(path);
        ASSERT_TRUE(store.append(old));
    }
    {
        RawConnection raw(path);
        raw.exec("DROP TABLE interference");
        raw.exec("PRAGMA user_version = 4");
    }
    HistoryStore store(path);
    const Result<qint64> kept = store.appendRun(sampleRun(1796000100));
    ASSERT_TRUE(kept) << kept.error().message.toStdString();
    ASSERT_TRUE(store.setExtended(*kept, sampleExtendedRun(1796000100)));
    const Result<QList<RunRecord>> runs = store.runs();
    ASSERT_TRUE(runs) << runs.error().message.toStdString();
    EXPECT_EQ(runs.value(), (QList<RunRecord> { sampleExtendedRun(1796000100), old }));
    RawConnection raw(path);
    EXPECT_EQ(raw.scalar("PRAGMA user_version").toInt(), HistoryStore::kSchemaVersion);
    EXPECT_EQ(raw.scalar("SELECT cpu_wait FROM interference WHERE test = 'double'").toDouble(), 0.5);
    EXPECT_TRUE(raw.scalar("SELECT frequency FROM interference WHERE test = 'memory'").isNull())
        << "a figure the machine could not give";
}

TEST(HistoryStore, RefusesADamagedFileOrOneFromANewerVersionAndLeavesItAlone)
{
    QTemporaryDir dir;
    const QString corrupt = dir.filePath(QStringLiteral("corrupt.sqlite"));
    QByteArray garbage;
    for (int i = 0; i < 200; ++i)
        garbage += "this is not an SQLite database, just text. ";
    {
        QFile file(corrupt);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    // A schema version no version of this program wrote: one from the future, or one below 0, which only
    // damage makes (migrating from there would walk the steps up from it).
    const auto withVersion = [&](int version) {
        const QString path = dir.filePath(QStringLiteral("version%1.sqlite").arg(version));
        RawConnection raw(path);
        raw.exec("CREATE TABLE runs (id INTEGER PRIMARY KEY, shape_of_the_future BLOB)");
        raw.exec(QStringLiteral("PRAGMA user_version = %1").arg(version));
        return path;
    };

    const struct
    {
        QString path;
        HistoryError::Kind kind;
        // The file's schema version, which stays; 0 for no database.
        int version = 0;
    } cases[] = {
        { corrupt, HistoryError::Kind::Corrupt },
        { withVersion(HistoryStore::kSchemaVersion + 1), HistoryError::Kind::NewerVersion,
          HistoryStore::kSchemaVersion + 1 },
        { withVersion(-1), HistoryError::Kind::Corrupt, -1 },
        { withVersion(-1123417008), HistoryError::Kind::Corrupt, -1123417008 },
        { withVersion(-2147483647), HistoryError::Kind::Corrupt, -2147483647 },
        // Its folder would have to be made inside a file.
        { corrupt + QStringLiteral("/history.sqlite"), HistoryError::Kind::CannotOpen },
    };
    for (const auto& c : cases) {
        HistoryStore store(c.path);
        const Status opened = store.open();
        ASSERT_FALSE(opened) << c.path.toStdString();
        EXPECT_EQ(opened.error().kind, c.kind) << opened.error().message.toStdString();
        const QString name = QFileInfo(c.kind == HistoryError::Kind::CannotOpen ? corrupt : c.path).fileName();
        EXPECT_TRUE(opened.error().message.contains(name)) << opened.error().message.toStdString();
        const Status appended = store.append(sampleRun(1));
        ASSERT_FALSE(appended);
        EXPECT_EQ(appended.error().kind, c.kind);
        EXPECT_FALSE(store.runs());
        if (c.version != 0) {
            // Nothing migrated or written.
            RawConnection raw(c.path);
            EXPECT_EQ(raw.scalar("PRAGMA user_version").toInt(), c.version);
            EXPECT_EQ(raw.scalar("PRAGMA journal_mode").toString(), "delete");
            EXPECT_EQ(raw.scalar("SELECT count(*) FROM runs").toInt(), 0);
        }
    }
    EXPECT_EQ(HistoryStore(dir.filePath(QStringLiteral("version-1.sqlite"))).open().error().message,
              QStringLiteral("历史记录文件已损坏：") + dir.filePath(QStringLiteral("version-1.sqlite")));

    QFile file(corrupt);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), garbage);
}

// A run is kept as soon as its five tests end; its extended results are added later, to that run only, and a
// window following the database sees them come.
TEST(HistoryStore, ExtendedResultsAreAddedToAKeptRun)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    HistoryStore writer(path);
    const Result<qint64> kept = writer.appendRun(sampleRun(kSampleTime));
    ASSERT_TRUE(kept) << kept.error().message.toStdString();
    ASSERT_TRUE(writer.append(sampleRun(kSampleTime + 60)));

    HistoryStore window(path);
    ASSERT_EQ(window.runs()->size(), 2);
    const std::optional<qint64> seen = window.dataVersion();
    ASSERT_TRUE(seen);
    ASSERT_TRUE(writer.setExtended(*kept, sampleExtendedRun(kSampleTime)));
    EXPECT_NE(window.dataVersion(), seen);
    const Result<QList<RunRecord>> runs = window.runs();
    ASSERT_TRUE(runs);
    EXPECT_EQ(runs->last(), sampleExtendedRun(kSampleTime)) << "the five tests as kept, the extended results added";
    EXPECT_EQ(runs->first(), sampleRun(kSampleTime + 60)) << "another run untouched";

    // A run removed meanwhile stays removed.
    ASSERT_TRUE(writer.setExtended(*kept + 100, sampleExtendedRun(kSampleTime)));
    EXPECT_EQ(window.runs()->size(), 2);
}

TEST(HistoryStore, LockedPastTheTimeoutIsReportedAndReadersGoOn)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    {
        HistoryStore first(path);
        ASSERT_TRUE(first.append(sampleRun(1)));
    }
    RawConnection holder(path);
    holder.exec("BEGIN EXCLUSIVE");
    holder.exec("INSERT INTO runs (finished_at, score_int, score_double, score_pi, score_memory, score_disk, "
                "overall, version, machine) VALUES (2, 0, 0, 0, 0, 0, 0, '', '{}')");

    HistoryStore store(path, HistoryStore::Options { 100ms });
    const Status appended = store.append(sampleRun(3));
    ASSERT_FALSE(appended);
    EXPECT_EQ(appended.error().kind, HistoryError::Kind::Locked) << appended.error().message.toStdString();
    // WAL lets a reader see the last committed state meanwhile.
    ASSERT_TRUE(store.runs());
    EXPECT_EQ(store.runs()->size(), 1);

    holder.exec("COMMIT");
    ASSERT_TRUE(store.append(sampleRun(3))) << "the same connection works once the lock is gone";
    EXPECT_EQ(store.runs()->size(), 3);
}

// Run as a second process by TwoWritersAtOnce; skipped otherwise.
TEST(HistoryStoreChild, AppendsAsASecondProcess)
{
    const QString path = qEnvironmentVariable(kChildDatabase);
    if (path.isEmpty())
        GTEST_SKIP() << "only as the second writer of TwoWritersAtOnce";
    HistoryStore store(path);
    for (int i = 0; i < kRunsPerWriter; ++i) {
        const Status appended = store.append(sampleRun(kSampleTime + 30000 + i));
        ASSERT_TRUE(appended) << appended.error().message.toStdString();
    }
}

TEST(HistoryStore, TwoWritersAtOnce)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kChildDatabase, path);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("--gtest_filter=HistoryStoreChild.AppendsAsASecondProcess") });
    ASSERT_TRUE(child.waitForStarted());

    // A worker thread with its own connection, and this thread, both on the file the child creates.
    bool workerOk = true;
    QString workerError;
    std::thread worker([&] {
        HistoryStore store(path);
        for (int i = 0; i < kRunsPerWriter && workerOk; ++i) {
            const Status appended = store.append(sampleRun(kSampleTime + 10000 + i));
            workerOk = bool(appended);
            workerError = message(appended);
        }
    });
    {
        HistoryStore store(path);
        for (int i = 0; i < kRunsPerWriter; ++i) {
            const Status appended = store.append(sampleRun(kSampleTime + 20000 + i));
            ASSERT_TRUE(appended) << appended.error().message.toStdString();
        }
    }
    worker.join();
    EXPECT_TRUE(workerOk) << workerError.toStdString();
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().toStdString();

    HistoryStore reader(path);
    const Result<QList<RunRecord>> runs = reader.runs();
    ASSERT_TRUE(runs);
    EXPECT_EQ(runs->size(), 3 * kRunsPerWriter);
    EXPECT_EQ(runs->first().finishedAt, kSampleTime + 30000 + kRunsPerWriter - 1);
}
