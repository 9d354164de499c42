// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/engine/Scores.h"

#include "ostrel/engine/Panel.h"
#include "ostrel/engine/Plausibility.h"
#include "platform/DateText.h"
#include "platform/UserDefaults.h"

#include <cmath>
#include <cstdint>

namespace ostrel {

namespace saved {

void registerFallbacks(platform::UserDefaults& defaults)
{
    std::map<QString, double> fallbacks { { kLastTimeKey, 0.0 } };
    for (const TestKind& kind : kTestKinds)
        fallbacks[QString::fromLatin1(kind.key)] = 0.0;
    defaults.registerDefaults(fallbacks);
}

double score(const platform::UserDefaults& defaults, const QString& key)
{
    const double stored = defaults.doubleForKey(key);
    return plausible::isScore(stored) ? stored : 0.0;
}

double lastTime(const platform::UserDefaults& defaults)
{
    const double stored = defaults.doubleForKey(kLastTimeKey);
    // -0 reads as 0 too.
    return std::isfinite(stored) && stored != 0.0 ? stored : 0.0;
}

} // namespace saved

QString scoreText(double score)
{
    const double bounded = std::isnan(score) ? 0.0 : std::fmin(255.0, std::fmax(0.0, score));
    const auto points = static_cast<std::uint8_t>(bounded);
    return QString::number(points) + QStringLiteral("分");
}

double showScore(platform::BarHolder& bar, platform::TextHolder& label, double score)
{
    bar.setValue(score);
    const double shown = bar.value();
    label.setText(scoreText(shown));
    return shown;
}

double showOverallScore(Panel& panel)
{
    const double sum
        = (((panel.diskScoreProgress.value() + panel.intScoreProgress.value()) + panel.doubleScoreProgress.value())
           + panel.piScoreProgress.value())
        + panel.memoryScoreProgress.value();
    return showScore(panel.allScoreProgress, panel.allScoreLabel, sum / 5.0);
}

void resetForRun(Panel& panel)
{
    panel.testingProgress.setHidden(false);
    panel.testingProgress.setValue(0.0);
    for (const TestKind& kind : kTestKinds) {
        (panel.*kind.scoreProgress).setValue(0.0);
        (panel.*kind.scoreLabel).setText(scoreText(0.0));
    }
    panel.allScoreProgress.setValue(0.0);
    panel.allScoreLabel.setText(scoreText(0.0));
}

QString lastRunText(double secondsSince1970)
{
    return QStringLiteral("上次性能测试：") + platform::mediumDateShortTime(secondsSince1970);
}

QString lastRunLine(double storedLastTime)
{
    if (storedLastTime == 0.0)
        return QStringLiteral("您还从未进行过性能测试。");
    return lastRunText(storedLastTime);
}

} // namespace ostrel
