// SPDX-License-Identifier: GPL-3.0-or-later
// Runs as CSV.
#include "ostrel/engine/Panel.h"
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/history/DocumentText.h"
#include "ostrel/history/ResultsDocument.h"
#include "platform/Csv.h"

namespace ostrel::history {

using document::number;

namespace {

// The five tests, then the extended ones.
QStringList interferenceColumnKeys()
{
    QStringList keys;
    for (const TestKind& kind : kTestKinds)
        keys << QLatin1String(kind.key);
    for (const ExtendedKind& kind : extendedTests())
        keys << extendedInterferenceKey(kind.key);
    return keys;
}

} // namespace

QString runsToCsv(const QList<RunRecord>& runs)
{
    QStringList header { QStringLiteral("finishedAt") };
    for (const TestKind& kind : kTestKinds)
        header << QLatin1String(kind.key);
    header << QStringLiteral("overall");
    for (const TestKind& kind : kTestKinds)
        header << QStringLiteral("elapsed_") + QLatin1String(kind.key);
    header << QStringLiteral("version") << QStringLiteral("cpuModel") << QStringLiteral("logicalCpus")
           << QStringLiteral("memoryBytes") << QStringLiteral("kernel") << QStringLiteral("os")
           << QStringLiteral("architecture") << QStringLiteral("governor") << QStringLiteral("fileSystem")
           << QStringLiteral("conditions");
    // The extended results last, so the columns before them stay where they were: each test's texts, then its
    // figures.
    const std::deque<ExtendedKind>& tests = extendedTests();
    for (const ExtendedKind& kind : tests) {
        header << kind.textColumns;
        for (const ExtendedFigure& figure : kind.figures)
            header << figure.key;
    }
    // Then the disturbed tests, and each measured figure of each test.
    header << QStringLiteral("disturbed");
    for (const char* figure : { "cpuWait_", "steal_" }) {
        for (const QString& key : interferenceColumnKeys())
            header << QLatin1String(figure) + key;
    }

    QString csv = platform::csvRecord(header, platform::CsvLineEnd::Lf);
    for (const RunRecord& run : runs) {
        QStringList row { number(run.finishedAt) };
        for (double score : run.scores)
            row << number(score);
        row << number(run.overall);
        for (const std::optional<double>& elapsed : run.elapsed)
            row << (elapsed ? number(*elapsed) : QString());
        const machine::MachineFacts& m = run.machine;
        row << run.version << m.cpuModel << QString::number(m.logicalCpus) << QString::number(m.memoryBytes) << m.kernel
            << m.os << m.architecture << m.governor << m.fileSystem << run.conditions.join(QLatin1Char(';'));
        for (const ExtendedKind& kind : tests) {
            const ExtendedResults::Entry* result = run.extended.find(kind.key);
            row << (result ? kind.texts(*result) : QStringList(kind.textColumns.size(), QString()));
            for (const ExtendedFigure& figure : kind.figures) {
                const std::optional<double> value = result ? figure.value(*result) : std::nullopt;
                row << (value ? number(*value) : QString());
            }
        }
        row << disturbedTests(run).join(QLatin1Char(';'));
        for (std::optional<double> machine::Interference::*figure :
             { &machine::Interference::cpuWait, &machine::Interference::steal }) {
            for (const QString& key : interferenceColumnKeys()) {
                const std::optional<double> value = run.interference.value(key).*figure;
                row << (value ? number(*value) : QString());
            }
        }
        csv += platform::csvRecord(row, platform::CsvLineEnd::Lf);
    }
    return csv;
}

} // namespace ostrel::history
