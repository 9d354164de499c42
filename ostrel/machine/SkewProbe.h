// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/machine/MachineFacts.h"

#include <QStringList>
#include <chrono>
#include <functional>

namespace ostrel::machine {

// Looks, just before a run, for what would make its scores low for reasons that are not the machine's: other
// processes using the processor, running on battery, a power-saving CPU governor. Returns the keys of the
// conditions found (in the order of history::kSkewConditions). Takes the measuring window plus a few file reads;
// nothing waits longer, and a file that cannot be read counts as "not found".
struct SkewProbe
{
    // Above this many cores used by other processes, on average over the window, the machine is busy.
    static constexpr double kBusyCores = 0.1;

    SystemRoots roots;
    std::chrono::milliseconds window { 500 };
    // Waits out the window; QThread::sleep when empty. Tests swap fixture files here.
    std::function<void(std::chrono::milliseconds)> sleep;

    QStringList probe() const;

    // The single probes, for their tests.
    // Cores used by other processes between two readings of <proc>/stat and <proc>/self/stat; negative when
    // either reading is unusable.
    static double otherCores(const QByteArray& statBefore, const QByteArray& selfBefore, const QByteArray& statAfter,
                             const QByteArray& selfAfter);
    bool onBattery() const;
    bool powerSaving() const;
};

} // namespace ostrel::machine
