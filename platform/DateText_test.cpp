// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DateText.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

using platform::mediumDateShortTime;
using platform::userTimeLocaleName;

namespace {

double secondsAt(const char* isoLocal, const char* zone)
{
    QDateTime when = QDateTime::fromString(QString::fromLatin1(isoLocal), Qt::ISODate);
    when.setTimeZone(QTimeZone(zone));
    return when.toMSecsSinceEpoch() / 1000.0;
}

// ICU puts a narrow no-break space before AM/PM in English.
QString plainSpaces(QString text)
{
    return text.replace(QChar(0x202F), QLatin1Char(' ')).replace(QChar(0x00A0), QLatin1Char(' '));
}

class ScopedEnv
{
public:
    ScopedEnv(const char* name, const char* value)
        : m_name(name)
        , m_old(qgetenv(name))
        , m_had(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

} // namespace

TEST(DateText, MediumDateAndShortTimeInTheGivenLocaleAndZone)
{
    const double instant = secondsAt("2026-12-08T13:20:00", "Asia/Shanghai");
    EXPECT_EQ(mediumDateShortTime(instant, "zh_CN.UTF-8", "Asia/Shanghai"), QStringLiteral("2026年12月8日 13:20"));
    EXPECT_EQ(plainSpaces(mediumDateShortTime(instant, "en_US", "Asia/Shanghai")),
        QStringLiteral("Dec 8, 2026, 1:20 PM"));
    // The same instant seen from another zone.
    EXPECT_EQ(plainSpaces(mediumDateShortTime(instant, "en_US.UTF-8", "America/New_York")),
        QStringLiteral("Dec 8, 2026, 12:20 AM"));
}

TEST(DateText, LocaleComesFromLcAllThenLcTimeThenLang)
{
    ScopedEnv lang("LANG", "en_US.UTF-8");
    {
        ScopedEnv all("LC_ALL", "");
        ScopedEnv time("LC_TIME", "");
        EXPECT_EQ(userTimeLocaleName(), QByteArray("en_US"));
    }
    {
        ScopedEnv all("LC_ALL", "");
        ScopedEnv time("LC_TIME", "zh_CN.UTF-8");
        EXPECT_EQ(userTimeLocaleName(), QByteArray("zh_CN"));
    }
    {
        ScopedEnv all("LC_ALL", "de_DE.UTF-8@euro");
        ScopedEnv time("LC_TIME", "zh_CN.UTF-8");
        EXPECT_EQ(userTimeLocaleName(), QByteArray("de_DE"));
    }
    {
        ScopedEnv all("LC_ALL", "C");
        EXPECT_EQ(userTimeLocaleName(), QByteArray("en_US_POSIX"));
    }
}

TEST(DateText, UsesTheUserLocaleAndHostZone)
{
    ScopedEnv all("LC_ALL", "zh_CN.UTF-8");
    ScopedEnv tz("TZ", "Asia/Shanghai");
    const double instant = secondsAt("2026-12-08T13:20:00", "Asia/Shanghai");
    EXPECT_EQ(mediumDateShortTime(instant), QStringLiteral("2026年12月8日 13:20"));
}

TEST(DateText, OddInstantsStillGiveAText)
{
    const double inf = std::numeric_limits<double>::infinity();
    for (double seconds : { -1.0, -86400.0 * 365 * 3000, std::nan(""), inf, -inf, 1e300 }) {
        const QString text = mediumDateShortTime(seconds, "zh_CN", "Asia/Shanghai");
        EXPECT_FALSE(text.isEmpty()) << seconds;
    }
    EXPECT_EQ(mediumDateShortTime(std::nan(""), "zh_CN", "UTC"), mediumDateShortTime(0.0, "zh_CN", "UTC"));
    EXPECT_EQ(mediumDateShortTime(-1.0, "zh_CN", "UTC"), QStringLiteral("1969年12月31日 23:59"));
}
