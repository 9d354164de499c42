// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

namespace ostrel {

// A point of a curve in the curve's own units.
struct CurvePoint
{
    double x = 0.0;
    double y = 0.0;
    // Measured while other work took the CPU: drawn hollow, named on the result's line.
    bool disturbed = false;

    friend bool operator==(const CurvePoint&, const CurvePoint&) = default;
};

// A series of points a test's result gives besides its figures, as the window and the history window chart it.
struct ResultCurve
{
    QString name;
    QString xTitle;
    // The units the points are in: "B" and "s" are shown scaled ("KiB", "ns").
    QString xUnit;
    QString yTitle;
    QString yUnit;
    bool logarithmicX = false;
    // Rising in x.
    QList<CurvePoint> points;

    friend bool operator==(const ResultCurve&, const ResultCurve&) = default;
};

// {"name", "xTitle", "xUnit", "yTitle", "yUnit", "logarithmicX", "points": [[x, y], …], "disturbed": [index, …]}:
// what a test's toJson() writes for each of its curves, so that every document and the history carry them.
QJsonObject curveJson(const ResultCurve& curve);

} // namespace ostrel
