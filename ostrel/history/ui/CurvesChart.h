// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/engine/ExtendedResults.h"
#include "ostrel/extended/ResultCurve.h"

#include <QChartView>

namespace ostrel::history {

// The curves of a result, or of two runs' results, in a small chart: a logarithmic x axis labelled in its unit
// ("4 KiB", "1 MiB"), y in a readable unit ("ns"), each curve a line with its points, disturbed points hollow.
// Hidden while it has no curves.
class CurvesChart : public QChartView
{
public:
    explicit CurvesChart(QWidget* parent = nullptr);

    // Draws `curves` in place of what it drew; nothing changes when they are the ones it draws.
    void setCurves(const QList<ResultCurve>& curves);
    const QList<ResultCurve>& curves() const { return m_curves; }

private:
    void redraw();

    QList<ResultCurve> m_curves;
};

// Every curve the results give, in the table's order; each name after `label` when it is not empty
// ("2026-12-08 13:20 · 2 MiB 大页").
QList<ResultCurve> extendedCurves(const ExtendedResults& results, const QString& label = {});

} // namespace ostrel::history
