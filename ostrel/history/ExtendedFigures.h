// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/history/RunRecord.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace ostrel::history {

// The numbers of the extended results, one row each: the CSV columns, the history window's columns and the
// comparison of two runs all follow this table.
struct ExtendedFigure
{
    enum class Group { Multicore, Disk };
    enum class Better { Higher, Lower, Neither };

    Group group;
    // Its CSV column: "multicore_speedup_int", "disk_seqRead_mbps".
    QString key;
    // On screen: "多核加速", "顺序读 MB/s".
    QString title;
    int decimals;
    Better better;
    // A column of its own in the history window's list of runs.
    bool listed;
    // Empty for a run without that test.
    std::function<std::optional<double>(const RunRecord&)> value;

    // The value with this figure's decimals.
    QString text(double figure) const;
};

// The multi-core figures, then the disk ones, in the order of kMulticoreWorkloads and kDiskJobs.
const QList<ExtendedFigure>& extendedFigures();

// One figure of two runs side by side; a value is empty where that run lacks the test.
struct ExtendedComparisonRow
{
    const ExtendedFigure* figure;
    std::optional<double> a;
    std::optional<double> b;
};

// The multi-core figures when either run has a multi-core result, then the disk figures when either has a disk
// result; nothing when neither run had the extended tests.
QList<ExtendedComparisonRow> compareExtended(const RunRecord& a, const RunRecord& b);

} // namespace ostrel::history
