// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/RunKeeper.h"

#include "BenchmarkRun.h"
#include "history/HistoryStore.h"
#include "platform/Version.h"

namespace ostrel::history {

RunKeeper::RunKeeper(QString historyPath)
    : m_historyPath(std::move(historyPath))
{
}

void RunKeeper::prepare(const QString& scratchFolder, const SkewProbe& probe)
{
    m_machine = readMachineFacts(scratchFolder, probe.roots);
    m_conditions = probe.probe();
}

QStringList RunKeeper::conditionTexts() const
{
    QStringList texts;
    for (const QString& key : m_conditions)
        texts << skewConditionText(key);
    return texts;
}

QString RunKeeper::keep(const FinishedRun& finished)
{
    m_lastKept = recordOf(finished, m_machine, m_conditions);
    HistoryStore store(m_historyPath);
    const Status appended = store.append(m_lastKept);
    return appended ? QString() : appended.error().message;
}

RunRecord recordOf(const FinishedRun& finished, const MachineFacts& machine, const QStringList& conditions)
{
    RunRecord record;
    record.finishedAt = finished.finishedAt;
    record.scores = finished.scores;
    record.overall = finished.overall;
    for (std::size_t i = 0; i < finished.elapsed.size(); ++i)
        record.elapsed[i] = finished.elapsed[i];
    record.version = QString::fromLatin1(platform::kVersion);
    record.machine = machine;
    record.conditions = conditions;
    record.multicore = finished.multicore;
    record.disk = finished.disk;
    return record;
}

} // namespace ostrel::history
