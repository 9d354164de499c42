// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/RunRecord.h"

#include "ostrel/engine/Panel.h"
#include "ostrel/extended/ExtendedTests.h"
#include "platform/DateText.h"

#include <algorithm>
#include <cmath>

namespace ostrel::history {

bool hasEveryValue(const RunRecord& run)
{
    return !std::isnan(run.finishedAt) && !std::isnan(run.overall)
        && std::none_of(run.scores.begin(), run.scores.end(), [](double score) { return std::isnan(score); });
}

namespace {

const QString kExtendedPrefix = QStringLiteral("extended.");

} // namespace

QString extendedInterferenceKey(const QString& testKey)
{
    return kExtendedPrefix + testKey;
}

QString interferenceTitle(const QString& key)
{
    for (const TestKind& kind : kTestKinds) {
        if (key == QLatin1String(kind.key))
            return QString::fromUtf16(kind.title);
    }
    if (key.startsWith(kExtendedPrefix)) {
        if (const ExtendedKind* kind = findExtendedTest(key.mid(kExtendedPrefix.size())))
            return kind->name + QStringLiteral("测试");
    }
    return key;
}

QStringList interferenceLines(const RunRecord& run)
{
    QStringList lines;
    for (const QString& key : disturbedTests(run))
        lines << machine::interferenceLine(interferenceTitle(key), run.interference.value(key));
    return lines;
}

QStringList disturbedTests(const RunRecord& run)
{
    QStringList five;
    for (const TestKind& kind : kTestKinds) {
        const QString key = QLatin1String(kind.key);
        if (run.interference.value(key).disturbed())
            five << key;
    }
    QStringList others;
    for (auto it = run.interference.begin(); it != run.interference.end(); ++it) {
        if (it->disturbed() && !five.contains(it.key()))
            others << it.key();
    }
    return five + others;
}

bool fiveTestsDisturbed(const RunRecord& run)
{
    return std::any_of(kTestKinds.begin(), kTestKinds.end(), [&](const TestKind& kind) {
        return run.interference.value(QLatin1String(kind.key)).disturbed();
    });
}

QString finishedAtText(double finishedAt)
{
    return std::isnan(finishedAt) ? QString() : platform::mediumDateShortTime(finishedAt);
}

QString skewConditionText(const QString& key)
{
    for (const SkewCondition& condition : kSkewConditions) {
        if (key == QLatin1String(condition.key))
            return QString::fromUtf16(condition.text);
    }
    return key;
}

} // namespace ostrel::history
