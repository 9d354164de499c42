// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ListText.h"

namespace platform {

QString joinedList(QStringList items, QStringView separator, QStringView lastSeparator)
{
    const QString last = items.isEmpty() ? QString() : items.takeLast();
    if (items.isEmpty())
        return last;
    QString list = items.join(separator);
    list += lastSeparator;
    list += last;
    return list;
}

} // namespace platform
