// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DateText.h"

#include <QDateTime>
#include <cmath>
#include <memory>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace platform {

namespace {

// ICU counts in milliseconds; beyond about ±10^15 s its calendars give up.
constexpr double kLargestSeconds = 1.0e15;

QString toQString(const icu::UnicodeString& text)
{
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

// "zh_CN.UTF-8@pinyin" -> "zh_CN"
QByteArray stripCodesetAndModifier(QByteArray name)
{
    const qsizetype end = name.indexOf('.') >= 0 ? name.indexOf('.') : name.indexOf('@');
    if (end >= 0)
        name.truncate(end);
    return name;
}

} // namespace

QByteArray userTimeLocaleName()
{
    for (const char* variable : { "LC_ALL", "LC_TIME", "LANG" }) {
        const QByteArray value = qgetenv(variable);
        if (value.isEmpty())
            continue;
        const QByteArray name = stripCodesetAndModifier(value);
        if (name == "C" || name == "POSIX")
            return "en_US_POSIX";
        return name;
    }
    return "en_US_POSIX";
}

QString mediumDateShortTime(double secondsSince1970, const QByteArray& localeName, const QByteArray& timeZoneId)
{
    double seconds = std::isfinite(secondsSince1970) ? secondsSince1970 : 0.0;
    seconds = std::fmax(-kLargestSeconds, std::fmin(kLargestSeconds, seconds));

    const icu::Locale locale(stripCodesetAndModifier(localeName).constData());
    std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium, icu::DateFormat::kShort, locale));
    if (!format)
        return QDateTime::fromMSecsSinceEpoch(qint64(seconds * 1000.0)).toString(Qt::ISODate);

    format->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(timeZoneId.constData())));
    icu::UnicodeString text;
    format->format(seconds * 1000.0, text);
    return toQString(text);
}

QString mediumDateShortTime(double secondsSince1970)
{
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
    icu::UnicodeString id;
    zone->getID(id);
    std::string utf8;
    id.toUTF8String(utf8);
    return mediumDateShortTime(secondsSince1970, userTimeLocaleName(), QByteArray::fromStdString(utf8));
}

} // namespace platform
