// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace platform {
class BarHolder;
class TextHolder;
class UserDefaults;
} // namespace platform

namespace ostrel {

struct Panel;

// The saved results: the five scores under their test keys and the time of
// the last finished run under "lastTime" (seconds since 1970, 0 = never).
namespace saved {
inline const QString kLastTimeKey = QStringLiteral("lastTime");
// The name of the store shared by the window and ostrel-cli.
inline const QString kApplication = QStringLiteral("ostrel");
// Registers the fallback 0 for all six keys.
void registerFallbacks(platform::UserDefaults& defaults);
// The stored score under a test's key; 0, as if never saved, when the store
// holds something no run could have saved (not a number from 0 to 100).
double score(const platform::UserDefaults& defaults, const QString& key);
// The stored "lastTime", whatever time it is (a clock may have been wrong,
// and the user sees it as a date); 0 (never) when it is no finite number.
double lastTime(const platform::UserDefaults& defaults);
} // namespace saved

inline constexpr double kScoreCeiling = 100.0;
inline constexpr double kSecondsPerPoint = 0.2;

// 100 less 5 points a second, in this order of operations.
inline double stageScore(double elapsedSeconds)
{
    return kScoreCeiling - elapsedSeconds / kSecondsPerPoint;
}

// The score as a whole number of points: 87.5 gives "87分". Values outside
// 0 to 255 (a bar never holds one) are bounded first; NaN reads as 0.
QString scoreText(double score);

// Sets the bar, reads it back and writes the label from the read-back value,
// which it returns.
double showScore(platform::BarHolder& bar, platform::TextHolder& label, double score);

// The mean of the five stage bars, (((disk + int) + double) + pi) + memory
// over 5, shown on the overall bar and label; returns the read-back value.
double showOverallScore(Panel& panel);

// What a new run starts from: the six scores at 0 with "0分", the run's
// progress shown at 0. The last-run line and the state text stay.
void resetForRun(Panel& panel);

// "上次性能测试：" and the instant in the user's medium date and short time.
QString lastRunText(double secondsSince1970);

// The last-run line for a stored "lastTime": the never-tested text for 0.
QString lastRunLine(double storedLastTime);

} // namespace ostrel
