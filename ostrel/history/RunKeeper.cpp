// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/RunKeeper.h"

#include "ostrel/engine/FiveTests.h"
#include "ostrel/history/HistoryStore.h"
#include "platform/Version.h"

namespace ostrel::history {

RunKeeper::RunKeeper(QString historyPath)
    : m_historyPath(std::move(historyPath))
{
}

void RunKeeper::prepare(const QString& scratchFolder, const machine::SkewProbe& probe)
{
    m_machine = machine::readMachineFacts(scratchFolder, probe.roots);
    m_conditions = probe.probe();
}

QStringList RunKeeper::conditionTexts() const
{
    QStringList texts;
    for (const QString& key : m_conditions)
        texts << skewConditionText(key);
    return texts;
}

void RunKeeper::measured(const QString& key, const machine::Interference& interference)
{
    machine::Interference& kept = m_interference[key];
    kept.cpuWait = interference.cpuWait;
    kept.steal = interference.steal;
    kept.frequency = interference.frequency;
}

Status RunKeeper::keep(const FinishedRun& finished)
{
    m_lastKept = recordOf(finished, m_machine, m_conditions);
    m_lastKept.interference = m_interference;
    m_keptRow.reset();
    HistoryStore store(m_historyPath);
    const Result<qint64> row = store.appendRun(m_lastKept);
    if (!row)
        return row.error();
    m_keptRow = *row;
    return Done {};
}

Status RunKeeper::keepExtended(const FinishedRun& finished)
{
    m_lastKept.extended = finished.extended;
    m_lastKept.interference = m_interference;
    if (!m_keptRow)
        return Done {};
    return HistoryStore(m_historyPath).setExtended(*m_keptRow, m_lastKept);
}

RunRecord recordOf(const FinishedRun& finished, const machine::MachineFacts& machine, const QStringList& conditions)
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
    record.extended = finished.extended;
    return record;
}

} // namespace ostrel::history
