// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ExtendedTest.h"

#include <QJsonValue>
#include <cmath>
#include <optional>

// What the tests' fromJson() share: the numbers a result may hold, and the refusal that names a member.
namespace ostrel::json {

// A finite number of at least zero.
inline std::optional<double> nonNegative(const QJsonValue& value)
{
    if (!value.isDouble() || !std::isfinite(value.toDouble()) || value.toDouble() < 0.0)
        return std::nullopt;
    return value.toDouble();
}

// A whole number from `least` up to 2^53, the largest a JSON number holds exactly.
inline std::optional<qint64> wholeNumber(const QJsonValue& value, double least)
{
    const std::optional<double> number = nonNegative(value);
    if (!number || *number < least || *number != std::floor(*number) || *number > 9007199254740992.0)
        return std::nullopt;
    return qint64(*number);
}

// The member ("elapsed.pi") that does not read as a value of its kind.
inline ExtendedError badMember(const QString& member)
{
    return { ExtendedError::Kind::BadMember, member };
}

} // namespace ostrel::json
