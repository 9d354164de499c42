// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PrintableText.h"

#include <algorithm>

namespace platform {

namespace {

// Characters a terminal acts on, or that change how the rest of a line is shown.
bool needsEscape(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x200e || c == 0x200f || c == 0x2028
        || c == 0x2029 || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

void appendEscaped(QString& to, char32_t c)
{
    switch (c) {
    case '\n':
        to += QLatin1String("\\n");
        return;
    case '\r':
        to += QLatin1String("\\r");
        return;
    case '\t':
        to += QLatin1String("\\t");
        return;
    default:
        break;
    }
    if (c <= 0xff)
        to += QLatin1String("\\x") + QString::number(uint(c), 16).toUpper().rightJustified(2, QLatin1Char('0'));
    else
        to += QLatin1String("\\u{") + QString::number(uint(c), 16).toUpper() + QLatin1Char('}');
}

} // namespace

QString printable(const QString& text, qsizetype maxChars)
{
    maxChars = std::max<qsizetype>(maxChars, 1);
    QString result;
    result.reserve(std::min(text.size(), maxChars) + 8);
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size();) {
        char32_t c = text[i++].unicode();
        if (QChar::isHighSurrogate(c) && i < text.size() && text[i].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), text[i++].unicode());
        if (count == maxChars - 1 && i < text.size()) {
            result += QChar(0x2026);
            break;
        }
        ++count;
        if (needsEscape(c))
            appendEscaped(result, c);
        else
            result += QString::fromUcs4(&c, 1);
    }
    return result;
}

QString printable(QByteArrayView bytes, qsizetype maxChars)
{
    // A character is at most four bytes of UTF-8, so this prefix holds more characters than are shown: the text
    // is still cut, and a huge one is never decoded whole.
    const qsizetype enough = std::max<qsizetype>(maxChars, 1) * 4 + 4;
    return printable(QString::fromUtf8(bytes.first(std::min(bytes.size(), enough))), maxChars);
}

} // namespace platform
