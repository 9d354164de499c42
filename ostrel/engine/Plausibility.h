// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace ostrel::plausible {

// What this program could have written, and so what its readers accept from
// a results file, the history database or the saved scores. A value outside
// these bounds was made by something else and is never shown as a number.
// The saved "lastTime" is only shown, as a date, and is not held to them.

// 2000-01-01 00:00:00 UTC: no run finished before it.
inline constexpr double kEarliestFinish = 946684800.0;
// A clock a little ahead of this one's is a clock, not an impossible run.
inline constexpr double kLatestAheadSeconds = 24.0 * 60.0 * 60.0;
// The longest machine text (CPU model, kernel, …) or version, in UTF-8 bytes.
inline constexpr qsizetype kLongestText = 1024;
// Points a score may lie above its elapsed time's, for rounding on the way.
inline constexpr double kScoreAllowance = 1.0e-6;

// A finite number from 0 to 100.
bool isScore(double score);
// A finite number of seconds, not negative.
bool isElapsed(double seconds);
// At most what `seconds` allows, 100 less 5 points a second (with the
// allowance); 0 always fits, the score of a failed or bounded stage.
bool fitsElapsed(double score, double seconds);
// From 2000-01-01 to a day after `now`.
bool isFinishTime(double secondsSince1970, double now);
bool isText(const QString& text);

} // namespace ostrel::plausible
