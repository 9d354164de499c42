// SPDX-License-Identifier: GPL-3.0-or-later
// A child process for the store tests:
//   defaults_writer FILE set KEY VALUE   writes one value, says "written", then waits to be killed
//   defaults_writer FILE many PREFIX N   writes PREFIX0 .. PREFIX(N-1), one at a time
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5)
        return 2;
    platform::UserDefaults defaults(args[1]);
    if (args[2] == QLatin1String("set")) {
        if (!defaults.setDouble(args[3], args[4].toDouble()))
            return 1;
        std::puts("written");
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
    if (args[2] == QLatin1String("many")) {
        const int count = args[4].toInt();
        for (int i = 0; i < count; ++i) {
            if (!defaults.setDouble(args[3] + QString::number(i), i + 0.5))
                return 1;
        }
        return 0;
    }
    return 2;
}
