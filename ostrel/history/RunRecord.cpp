// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/RunRecord.h"

namespace ostrel::history {

QString skewConditionText(const QString& key)
{
    for (const SkewCondition& condition : kSkewConditions) {
        if (key == QLatin1String(condition.key))
            return QString::fromUtf16(condition.text);
    }
    return key;
}

} // namespace ostrel::history
