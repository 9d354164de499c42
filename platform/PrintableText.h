// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace platform {

// The longest text from outside (a list's line, a file's value, a service's answer) that goes into one message.
inline constexpr qsizetype kLongestEchoedText = 80;

// Text from outside, safe to write to a terminal or a log: control characters (C0, DEL, C1), the line and
// paragraph separators and the bidirectional overrides and isolates are written as escapes ("\n", "\t", "\r",
// "\x1B", "\u{202E}"), so no crafted text can move the cursor, retitle or clear a terminal or reorder what follows.
// A text of more than maxChars characters (code points, before escaping) is cut after maxChars - 1 of them and ends
// in "…".
QString printable(const QString& text, qsizetype maxChars = kLongestEchoedText);

// The same for bytes that should be UTF-8; malformed sequences read as U+FFFD.
QString printable(QByteArrayView bytes, qsizetype maxChars = kLongestEchoedText);

} // namespace platform
