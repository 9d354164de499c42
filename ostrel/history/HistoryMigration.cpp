// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/HistoryMigration.h"

#include "ostrel/engine/Panel.h"

namespace ostrel::history {

namespace {

QString scoreColumn(const TestKind& kind)
{
    return QStringLiteral("score_") + QLatin1String(kind.key);
}

} // namespace

QStringList migrationStep(int fromVersion)
{
    QStringList statements;
    switch (fromVersion) {
    case 0: {
        QStringList columns { QStringLiteral("id INTEGER PRIMARY KEY"), QStringLiteral("finished_at REAL NOT NULL") };
        for (const TestKind& kind : kTestKinds)
            columns << scoreColumn(kind) + QStringLiteral(" REAL NOT NULL");
        columns << QStringLiteral("overall REAL NOT NULL") << QStringLiteral("version TEXT NOT NULL")
                << QStringLiteral("machine TEXT NOT NULL");
        statements << QStringLiteral("CREATE TABLE runs (%1)").arg(columns.join(QStringLiteral(", ")));
        break;
    }
    case 1:
        // Version 2 keeps each stage's stopwatch reading and the skew conditions; older runs have neither.
        for (const TestKind& kind : kTestKinds)
            statements << QStringLiteral("ALTER TABLE runs ADD COLUMN elapsed_%1 REAL").arg(QLatin1String(kind.key));
        statements << QStringLiteral("ALTER TABLE runs ADD COLUMN conditions TEXT NOT NULL DEFAULT '[]'")
                   << QStringLiteral("CREATE INDEX runs_by_time ON runs (finished_at)");
        break;
    case 2:
        // Version 3 kept the multi-core and disk results in columns of their own, as the JSON of a run's
        // "multicore" and "disk" members.
        statements << QStringLiteral("ALTER TABLE runs ADD COLUMN multicore TEXT")
                   << QStringLiteral("ALTER TABLE runs ADD COLUMN disk TEXT");
        break;
    case 3:
        // Version 4 keeps every extended result the same way, whatever its test: a row per run and test holding
        // the JSON of the run's member, so a new test needs no new schema and json_extract() reaches any figure.
        // The two columns of version 3 move there as they are.
        statements << QStringLiteral("CREATE TABLE extended (run_id INTEGER NOT NULL REFERENCES runs (id), "
                                     "test TEXT NOT NULL, json TEXT NOT NULL, PRIMARY KEY (run_id, test))");
        for (const char* test : { "multicore", "disk" }) {
            statements << QStringLiteral("INSERT INTO extended (run_id, test, json) "
                                         "SELECT id, '%1', %1 FROM runs WHERE %1 IS NOT NULL")
                              .arg(QLatin1String(test))
                       << QStringLiteral("ALTER TABLE runs DROP COLUMN %1").arg(QLatin1String(test));
        }
        break;
    case 4:
        // Version 5 keeps what other work took of each test during the run, a row per run and test (the five
        // tests' keys and the extended tests'); a figure the machine could not give is NULL. Older runs have none.
        statements << QStringLiteral("CREATE TABLE interference (run_id INTEGER NOT NULL REFERENCES runs (id), "
                                     "test TEXT NOT NULL, cpu_wait REAL, steal REAL, frequency REAL, "
                                     "PRIMARY KEY (run_id, test))");
        break;
    }
    return statements;
}

} // namespace ostrel::history
