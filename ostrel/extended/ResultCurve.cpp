// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/ResultCurve.h"

#include <QJsonArray>

namespace ostrel {

QJsonObject curveJson(const ResultCurve& curve)
{
    QJsonArray points;
    QJsonArray disturbed;
    for (qsizetype i = 0; i < curve.points.size(); ++i) {
        const CurvePoint& point = curve.points[i];
        points.append(QJsonArray { point.x, point.y });
        if (point.disturbed)
            disturbed.append(qint64(i));
    }
    return {
        { QStringLiteral("name"), curve.name },   { QStringLiteral("xTitle"), curve.xTitle },
        { QStringLiteral("xUnit"), curve.xUnit }, { QStringLiteral("yTitle"), curve.yTitle },
        { QStringLiteral("yUnit"), curve.yUnit }, { QStringLiteral("logarithmicX"), curve.logarithmicX },
        { QStringLiteral("points"), points },     { QStringLiteral("disturbed"), disturbed },
    };
}

} // namespace ostrel
