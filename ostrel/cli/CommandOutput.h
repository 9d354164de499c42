// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/cli/HistoryCommands.h"

#include <QString>
#include <cstdio>
#include <optional>

// What the jobs of ostrel-cli share in what they print.
namespace ostrel::cli {

void print(std::FILE* to, const QString& text);
// The message on the error stream, after the program's name.
void fail(const Streams& streams, const QString& message);

// Empty for no value, here and in signedPoints().
QString points(double value);
// +1.20 / −3.40, with a real minus sign.
QString signedPoints(double value);
// Titles padded to a common width, counting a CJK character as two columns.
QString padded(const QString& text, int columns);

// The history's latest run; without one, says why and sets `status`.
std::optional<history::RunRecord> latestRun(history::HistoryStore& store, const Streams& streams, int& status);

} // namespace ostrel::cli
