// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/ExtendedKind.h"

namespace ostrel {

std::optional<double> ExtendedFigure::of(const ExtendedResults& results) const
{
    const ExtendedResults::Entry* entry = results.find(test);
    if (!entry)
        return std::nullopt;
    return value(*entry);
}

QString ExtendedFigure::text(double figure) const
{
    return QString::number(figure, 'f', decimals);
}

QString ExtendedKind::problemLine(const QString& problem) const
{
    return name + QStringLiteral("：未能测试，") + problem;
}

} // namespace ostrel
