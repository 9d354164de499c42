// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// `text` broken at its spaces into lines of at most `width` characters where the words allow, for a terminal's
// help text: the first line starts with `first`, the others with `indent`; lines end in "\n" but the last.
inline QString wrappedText(const QString& text, qsizetype width, const QString& first = {}, const QString& indent = {})
{
    QStringList lines;
    QString line = first;
    bool hasWord = false;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (hasWord && line.size() + 1 + word.size() > width) {
            lines << line;
            line = indent + word;
        } else {
            line += (hasWord ? QStringLiteral(" ") : QString()) + word;
        }
        hasWord = true;
    }
    lines << line;
    return lines.join(QLatin1Char('\n'));
}

} // namespace platform
