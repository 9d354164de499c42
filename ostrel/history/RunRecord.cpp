// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/RunRecord.h"

#include "platform/DateText.h"

#include <algorithm>
#include <cmath>

namespace ostrel::history {

bool hasEveryValue(const RunRecord& run)
{
    return !std::isnan(run.finishedAt) && !std::isnan(run.overall)
        && std::none_of(run.scores.begin(), run.scores.end(), [](double score) { return std::isnan(score); });
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
