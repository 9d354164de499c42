// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// An instant (seconds since 1970-01-01 00:00:00 UTC) as text in ICU's medium
// date style and short time style: "2026年12月8日 13:20" in zh_CN,
// "Dec 8, 2026, 1:20 PM" in en_US.
//
// localeName is a POSIX or ICU locale name ("zh_CN.UTF-8", "en_US");
// timeZoneId an Olson id ("Asia/Shanghai"). Instants that are not finite
// format as the epoch; the text is never empty.
QString mediumDateShortTime(double secondsSince1970, const QByteArray& localeName, const QByteArray& timeZoneId);

// The same in the user's locale, as the environment sets it for dates
// (LC_ALL, then LC_TIME, then LANG), and the host's time zone.
QString mediumDateShortTime(double secondsSince1970);

// The locale name the environment sets for dates, "en_US_POSIX" for C/POSIX.
QByteArray userTimeLocaleName();

} // namespace platform
