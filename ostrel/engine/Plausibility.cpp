// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/engine/Plausibility.h"

#include "ostrel/engine/Scores.h"

#include <cmath>

namespace ostrel::plausible {

bool isScore(double score)
{
    return std::isfinite(score) && score >= 0.0 && score <= kScoreCeiling;
}

bool isElapsed(double seconds)
{
    return std::isfinite(seconds) && seconds >= 0.0;
}

bool fitsElapsed(double score, double seconds)
{
    return score == 0.0 || score <= stageScore(seconds) + kScoreAllowance;
}

bool isFinishTime(double secondsSince1970, double now)
{
    return std::isfinite(secondsSince1970) && secondsSince1970 >= kEarliestFinish
        && secondsSince1970 <= now + kLatestAheadSeconds;
}

bool isText(const QString& text)
{
    // Two or three UTF-8 bytes a UTF-16 unit at most: most texts need no count.
    return text.size() * 3 <= kLongestText || text.toUtf8().size() <= kLongestText;
}

} // namespace ostrel::plausible
