// SPDX-License-Identifier: GPL-3.0-or-later
// A child process for the run lock tests:
//   run_lock_holder FILE   takes the lock, says "locked", then waits to be killed
#include "ostrel/engine/RunLock.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2)
        return 2;
    ostrel::RunLock lock(args[1]);
    if (!lock.tryLock())
        return 1;
    std::puts("locked");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
