// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

namespace vantor {

// One line of the lookup table. A new row is made for every query; rows are never edited in place.
struct InfoRow
{
    QString key;
    QString value;

    friend bool operator==(const InfoRow&, const InfoRow&) = default;
};

} // namespace vantor
