// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/history/RunRecord.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <array>
#include <optional>

namespace ostrel::history {

// How a set of repeated runs spread, in points.
struct Spread
{
    double median = 0.0;
    double min = 0.0;
    double max = 0.0;
    // max - min
    double spread = 0.0;
};

struct RunsSummary
{
    // Above this spread, in points, on any stage the scores are unsteady.
    static constexpr double kUnsteadySpread = 2.0;

    int runCount = 0;
    // In the order of ostrel::kTestKinds.
    std::array<Spread, RunRecord::kStageCount> stages {};
    Spread overall;
    bool unsteady = false;
    // Every skew condition seen in any of the runs, once, in kSkewConditions order (unknown keys last).
    QStringList conditions;
    // The runs that other work disturbed during any of their tests (machine::Interference::disturbed()), and the keys
    // of those tests, once each, five tests first.
    int disturbedRuns = 0;
    QStringList disturbed;
};

// The summary of repeated runs (any order). An empty list gives a summary with runCount 0.
RunsSummary summarizeRuns(const QList<RunRecord>& runs);

// {"int": {"median", "min", "max", "spread"}, ..., "disk": {...}, "overall": {...}}
QJsonObject summaryToJson(const RunsSummary& summary);

// One line of a comparison of two runs: a stage, or the overall score (key "overall").
struct ComparisonRow
{
    QString key;
    // "整数运算" ... "磁盘读写", "总分"
    QString title;
    double scoreA = 0.0;
    double scoreB = 0.0;
    // scoreA - scoreB, in points
    double difference = 0.0;
    // Seconds; for the overall row the sum of the five. Empty when a run has no times.
    std::optional<double> elapsedA;
    std::optional<double> elapsedB;
    // elapsedA / elapsedB: below 1 means run A was faster. Empty without both times or when B took no time.
    std::optional<double> elapsedRatio;
};

// The five stages in run order, then the overall score.
QList<ComparisonRow> compareRuns(const RunRecord& a, const RunRecord& b);

} // namespace ostrel::history
