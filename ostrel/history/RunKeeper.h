// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/history/HistoryError.h"
#include "ostrel/history/RunRecord.h"
#include "ostrel/machine/MachineFacts.h"
#include "ostrel/machine/SkewProbe.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace ostrel {
struct FinishedRun;
}

namespace ostrel::history {

// Everything a benchmark run needs to be kept in the history, for the window
// and ostrel-cli alike: before the run, the machine facts and the skew
// conditions; after it, the record written to the store.
//
// Use it on the thread that runs the benchmark: the store's connection is
// opened, used and closed inside keep().
class RunKeeper
{
public:
    explicit RunKeeper(QString historyPath);

    // Reads the machine facts and looks for skew conditions, which takes the
    // probe's measuring window (half a second), both from the probe's roots.
    // scratchFolder holds the disk test's scratch file.
    void prepare(const QString& scratchFolder, const machine::SkewProbe& probe = {});

    // The lines of the conditions found, one each, as the user reads them.
    QStringList conditionTexts() const;

    // What other work took of a test, by its interference key; goes into the record with the run (or its extended
    // results) when it is kept. Only the shares of wait, steal and frequency are kept.
    void measured(const QString& key, const machine::Interference& interference);

    // Adds the finished run to the history in one transaction, as soon as its
    // five tests end; the record written is kept in lastKept().
    Status keep(const FinishedRun& finished);
    // Sets the record keep() wrote to hold the finished run's extended results
    // so far, in one transaction: called as each extended test ends.
    // lastKept() has them even when they could not be written. Done also
    // when keep() failed: it has said why.
    Status keepExtended(const FinishedRun& finished);
    const RunRecord& lastKept() const { return m_lastKept; }

    const QString& historyPath() const { return m_historyPath; }

private:
    QString m_historyPath;
    machine::MachineFacts m_machine;
    QStringList m_conditions;
    QMap<QString, machine::Interference> m_interference;
    RunRecord m_lastKept;
    // The row keep() wrote.
    std::optional<qint64> m_keptRow;
};

// The record of a finished run, with the facts and conditions of its machine.
RunRecord recordOf(const FinishedRun& finished, const machine::MachineFacts& machine, const QStringList& conditions);

} // namespace ostrel::history
