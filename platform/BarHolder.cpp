// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/BarHolder.h"

#include <algorithm>
#include <cmath>

namespace platform {

BarHolder::BarHolder(double minimum, double maximum, QObject* parent)
    : QObject(parent)
    , m_minimum(minimum)
    , m_maximum(std::max(minimum, maximum))
    , m_value(minimum)
{
}

double BarHolder::bounded(double value) const
{
    if (std::isnan(value))
        return m_minimum;
    return std::clamp(value, m_minimum, m_maximum);
}

double BarHolder::value() const
{
    std::lock_guard lock(m_mutex);
    return m_value;
}

void BarHolder::setValue(double value)
{
    // The signal is emitted under the lock so that writers on different
    // threads announce their changes in the order they made them.
    std::lock_guard lock(m_mutex);
    m_value = bounded(value);
    emit valueChanged(m_value);
}

bool BarHolder::isHidden() const
{
    std::lock_guard lock(m_mutex);
    return m_hidden;
}

void BarHolder::setHidden(bool hidden)
{
    std::lock_guard lock(m_mutex);
    m_hidden = hidden;
    emit hiddenChanged(hidden);
}

} // namespace platform
