// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <mutex>

namespace platform {

// A double inside a range plus a hidden flag: what a progress bar shows,
// without the bar. Any thread may set and read it; a read right after a set
// returns the bounded value. Every change is announced by a signal emitted in
// the order of the changes, so a view connected with a queued connection
// replays them in order without ever blocking the writer.
class BarHolder : public QObject
{
    Q_OBJECT

public:
    explicit BarHolder(double minimum = 0.0, double maximum = 100.0, QObject* parent = nullptr);

    double minimum() const { return m_minimum; }
    double maximum() const { return m_maximum; }

    double value() const;
    // Bounds the value to the range; NaN goes to the minimum.
    void setValue(double value);

    bool isHidden() const;
    void setHidden(bool hidden);

    double bounded(double value) const;

signals:
    void valueChanged(double value);
    void hiddenChanged(bool hidden);

private:
    const double m_minimum;
    const double m_maximum;
    // Recursive so that a directly connected slot may read the holder back.
    mutable std::recursive_mutex m_mutex;
    double m_value;
    bool m_hidden = false;
};

} // namespace platform
