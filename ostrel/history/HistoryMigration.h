// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace ostrel::history {

// The statements that take the history's schema from version `fromVersion` to the next; from 0 they create the
// first schema. HistoryStore runs all the steps a file needs in one transaction.
QStringList migrationStep(int fromVersion);

} // namespace ostrel::history
