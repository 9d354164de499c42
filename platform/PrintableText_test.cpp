// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PrintableText.h"

#include <gtest/gtest.h>

using platform::printable;

TEST(PrintableText, EscapesWhatATerminalWouldActOn)
{
    const struct
    {
        QString text;
        QString shown;
    } cases[] = {
        { QStringLiteral("198.51.100.7"), QStringLiteral("198.51.100.7") },
        { QStringLiteral("北京 ü"), QStringLiteral("北京 ü") },
        { QStringLiteral("\x1b]0;TITLE\a\x1b[2J"), QStringLiteral("\\x1B]0;TITLE\\x07\\x1B[2J") },
        { QStringLiteral("a\tb\r\nc\x7f"), QStringLiteral("a\\tb\\r\\nc\\x7F") },
        { QString(QChar(0x9b)) + QStringLiteral("31m"), QStringLiteral("\\x9B31m") },
        { QStringLiteral("abc") + QChar(0x202e) + QStringLiteral("fed") + QChar(0x2028),
          QStringLiteral("abc\\u{202E}fed\\u{2028}") },
        { QString::fromUcs4(U"\U0001F600x", 2), QString::fromUcs4(U"\U0001F600x", 2) },
    };
    for (const auto& c : cases)
        EXPECT_EQ(printable(c.text), c.shown) << qPrintable(c.shown);
}

TEST(PrintableText, CutsLongTextsWithAnEllipsis)
{
    EXPECT_EQ(printable(QStringLiteral("abcd"), 4), QStringLiteral("abcd"));
    EXPECT_EQ(printable(QStringLiteral("abcde"), 4), QStringLiteral("abc…"));
    // Counted in characters before escaping, so a surrogate pair is one.
    EXPECT_EQ(printable(QString::fromUcs4(U"\U0001F600\U0001F600\U0001F600", 3), 2),
              QString::fromUcs4(U"\U0001F600…", 2));
    EXPECT_EQ(printable(QStringLiteral("\x1b\x1b\x1b"), 2), QStringLiteral("\\x1B…"));

    const QByteArray huge(200 * 1024 * 1024 / 100, 'x');
    const QString shown = printable(QByteArrayView(huge));
    EXPECT_EQ(shown.size(), platform::kLongestEchoedText);
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
    // Malformed UTF-8 is shown, not dropped.
    EXPECT_EQ(printable(QByteArrayView("a\xff" "b")), QStringLiteral("a") + QChar(0xfffd) + QStringLiteral("b"));
}
