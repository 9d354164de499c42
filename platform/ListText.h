// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace platform {

// The items as a list in a sentence: `separator` between them but `lastSeparator` before the last, so
// "a, b and c" (", ", " and "), "a, b, and c" (", ", ", and ") or "甲、乙和丙" ("、", "和"). One item is itself; none
// is empty.
QString joinedList(QStringList items, QStringView separator, QStringView lastSeparator);

} // namespace platform
