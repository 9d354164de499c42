// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/cli/CommandLine.h"

#include <QString>
#include <cstdio>

class QCoreApplication;

namespace ostrel::cli {

// The benchmark, options.runs times back to back, each run saved and kept in the history; with more than one, how
// the scores spread. Runs `app`'s event loop while the tests run; returns the exit status.
int runBenchmarks(QCoreApplication& app, const Options& options, const QString& program, std::FILE* standardOutput);

} // namespace ostrel::cli
