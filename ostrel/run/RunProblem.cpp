// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/run/RunProblem.h"

#include "platform/ErrorText.h"
#include "platform/UserDefaults.h"

#include <algorithm>

namespace ostrel::run {

QString busyText()
{
    return QStringLiteral("另一个测试正在进行");
}

RunProblem busyProblem(const QString& holder)
{
    const QString message = busyText();
    return { .kind = RunProblem::Kind::Busy,
             .message = holder.isEmpty() ? message : message + QStringLiteral("：") + holder,
             .subject = holder };
}

QString notSavedTitle()
{
    return QStringLiteral("成绩未能保存");
}

QString notSavedText(const RunProblem& problem)
{
    return QStringLiteral("无法写入 %1：%2").arg(problem.subject, platform::errorText(problem.error));
}

RunProblem lockUnavailableProblem(const QString& reason)
{
    return { .kind = RunProblem::Kind::LockUnavailable,
             .message
             = QStringLiteral("the run lock could not be taken, so another benchmark may run at the same time: ")
                 + reason };
}

std::optional<RunProblem> savedResultsProblem(const platform::UserDefaults& defaults)
{
    const QString problem = defaults.readProblem();
    if (problem.isEmpty())
        return std::nullopt;
    return RunProblem {
        .kind = RunProblem::Kind::SavedResultsUnreadable,
        .message = QStringLiteral("the saved results could not be read from %1: %2").arg(defaults.fileName(), problem),
        .subject = defaults.fileName()
    };
}

RunProblems runProblems(bool finished, const FiveTests::Problems& found, const QString& storeFile,
                        const std::optional<history::HistoryError>& unkept, const QString& historyFile)
{
    RunProblems problems;
    if (finished && found.failedStage)
        problems << RunProblem { .kind = RunProblem::Kind::StageFailed, .message = found.failedStage->text() };
    if (const std::optional<int> error = found.saveError) {
        problems << RunProblem {
            .kind = RunProblem::Kind::NotSaved,
            .message
            = QStringLiteral("the results could not be saved to %1: %2").arg(storeFile, platform::errorText(*error)),
            .subject = storeFile,
            .error = *error
        };
    }
    if (unkept) {
        problems << RunProblem {
            .kind = RunProblem::Kind::NotKept,
            .message
            = QStringLiteral("the run could not be added to the history in %1: %2").arg(historyFile, unkept->message),
            .subject = historyFile
        };
    }
    return problems;
}

QStringList messages(const RunProblems& problems)
{
    QStringList lines;
    for (const RunProblem& problem : problems)
        lines << problem.message;
    return lines;
}

bool contains(const RunProblems& problems, RunProblem::Kind kind)
{
    return std::any_of(problems.begin(), problems.end(), [kind](const RunProblem& p) { return p.kind == kind; });
}

} // namespace ostrel::run
