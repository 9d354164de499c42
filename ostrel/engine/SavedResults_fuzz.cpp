// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as the saved results file, read back the way the window fills its panel at launch.
#include "Panel.h"
#include "Scores.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A new name for every input: QSettings keeps what it read of a file by name for the process's lifetime.
    static int counter = 0;
    const QString path = QDir::temp().filePath(QStringLiteral("ostrel-fuzz-%1-%2.conf").arg(::getpid()).arg(++counter));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
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
    QFile::remove(path);
    return 0;
}
