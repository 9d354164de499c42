// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/engine/FiveTests.h"
#include "ostrel/history/HistoryError.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {
class UserDefaults;
}

namespace ostrel::run {

// Something a benchmark or one of its runs could not do. Each is worded here
// once, with the window's alerts for it; the window and ostrel-cli only choose
// where to show it.
struct RunProblem
{
    enum class Kind {
        // Another benchmark holds the run lock: nothing runs.
        Busy,
        // The run lock could not be made: the benchmark runs without it.
        LockUnavailable,
        // The saved results could not be read: they show as none.
        SavedResultsUnreadable,
        // A stage's work failed and scored 0.
        StageFailed,
        // A result could not be written to the saved results.
        NotSaved,
        // The run could not be added to the history.
        NotKept,
        // An extended test asked for could not be done.
        Extended,
    };

    Kind kind = Kind::StageFailed;
    // One line for standard error, after the program's name.
    QString message = {};
    // Busy: who holds the lock, as "ostrel-cli (PID 1234)", empty when not
    // known. NotSaved, SavedResultsUnreadable, NotKept: the file.
    QString subject = {};
    // NotSaved: the error number of the first write that failed.
    int error = 0;
};

using RunProblems = QList<RunProblem>;

// "另一个测试正在进行": what Busy says, the window's alert title and the start of ostrel-cli's line.
QString busyText();
// "另一个测试正在进行：ostrel-cli (PID 1234)"
RunProblem busyProblem(const QString& holder);
// The window's alert for NotSaved: "成绩未能保存", and "无法写入 FILE：REASON".
QString notSavedTitle();
QString notSavedText(const RunProblem& problem);
// The run lock could not be made, for the reason given.
RunProblem lockUnavailableProblem(const QString& reason);
// Why the saved results cannot be read; none when they can.
std::optional<RunProblem> savedResultsProblem(const platform::UserDefaults& defaults);

// What the end of a run says went wrong, in the order it is told: a failed
// stage (only when the run finished), results that could not be saved to
// storeFile, a history at historyFile that could not take the run.
RunProblems runProblems(bool finished, const FiveTests::Problems& found, const QString& storeFile,
                        const std::optional<history::HistoryError>& unkept = {}, const QString& historyFile = {});

QStringList messages(const RunProblems& problems);
bool contains(const RunProblems& problems, RunProblem::Kind kind);

} // namespace ostrel::run
