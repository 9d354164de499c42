// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/engine/ExtendedResults.h"
#include "ostrel/machine/Interference.h"
#include "ostrel/machine/MachineFacts.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace ostrel::history {

// One finished run. Arrays follow the order of ostrel::kTestKinds.
//
// A time, score or overall score that the history held but no run could have written reads as NaN: no value, shown
// as empty text (JSON null), never as a number (withoutImplausibleValues()).
struct RunRecord
{
    static constexpr int kStageCount = 5;

    // Wall-clock end of the run, seconds since 1970 (the saved "lastTime").
    double finishedAt = 0.0;
    // Scores as stored, and their mean as shown.
    std::array<double, kStageCount> scores {};
    double overall = 0.0;
    // Each stage's stopwatch reading in seconds; empty for runs recorded before times were kept.
    std::array<std::optional<double>, kStageCount> elapsed {};
    QString version;
    machine::MachineFacts machine;
    // Keys of the skew conditions found before the run (kSkewConditions).
    QStringList conditions;
    // The extended tests, for runs that had them (ostrel/extended/ExtendedTests.h).
    ExtendedResults extended;
    // What other work took of each test, by test key ("int", "disk", an extended test's key); none for a test
    // that was not measured. Only the shares of wait, steal and frequency are kept.
    QMap<QString, machine::Interference> interference;

    friend bool operator==(const RunRecord&, const RunRecord&) = default;
};

// Something that makes a score low for reasons that are not the machine's: a stable key kept with a run and the
// line shown to the user.
struct SkewCondition
{
    const char* key;
    const char16_t* text;
};

inline constexpr std::array<SkewCondition, 3> kSkewConditions { {
    { "busy", u"其他程序正在占用处理器，成绩可能偏低。" },
    { "battery", u"正在使用电池供电，成绩可能偏低。" },
    { "powersave", u"处理器处于节能模式，成绩可能偏低。" },
} };

// The run has its time, all five scores and the overall score.
bool hasEveryValue(const RunRecord& run);

// The interference key of an extended test: "extended.disk", apart from the five tests' "disk".
QString extendedInterferenceKey(const QString& testKey);
// What a test of an interference key is called on screen: "浮点运算", "磁盘测试"; the key for one not known.
QString interferenceTitle(const QString& key);
// "干扰：浮点运算 等待处理器 23%" for each disturbed test, in the order of disturbedTests().
QStringList interferenceLines(const RunRecord& run);

// The keys of the tests that other work disturbed, the five in run order, then the extended ones.
QStringList disturbedTests(const RunRecord& run);
// Any of the five tests disturbed: the run's scores are left out of the figures of repeated runs.
bool fiveTestsDisturbed(const RunRecord& run);

// A run's finishing time in the user's medium date and short time; empty for no value.
QString finishedAtText(double finishedAt);

// The line for a condition key; the key itself for one this version does not know.
QString skewConditionText(const QString& key);

} // namespace ostrel::history
