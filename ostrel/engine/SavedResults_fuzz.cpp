// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as the saved results file, read back the way the window fills its panel at launch.
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/Scores.h"
#include "platform/UserDefaults.h"
#include "platform/testing/FuzzedFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = platform::testing::writeFuzzedFile("ostrel-fuzz", data, size);
    if (path.isEmpty())
        return 0;
    {
        platform::UserDefaults defaults(path);
        ostrel::saved::registerFallbacks(defaults);
        (void)defaults.readProblem();
        ostrel::Panel panel;
        for (const ostrel::TestKind& kind : ostrel::kTestKinds)
            ostrel::showScore(panel.*kind.scoreProgress, panel.*kind.scoreLabel,
                              defaults.doubleForKey(QString::fromLatin1(kind.key)));
        ostrel::showOverallScore(panel);
        (void)ostrel::lastRunLine(defaults.doubleForKey(ostrel::saved::kLastTimeKey));
    }
    return 0;
}
