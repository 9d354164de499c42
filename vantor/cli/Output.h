// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

namespace vantor::cli {

// A file name or a reason from outside is shown up to this many characters; an address or a list's line up to
// platform::kLongestEchoedText.
inline constexpr qsizetype kLongestShownName = 1024;

// Writes at once, so a reader of a pipe sees each answer while the next one is on its way. A file's descriptor is
// written directly, so that a failure's errno is the write's own. Returns that errno, 0 when all is written.
int write(QIODevice& device, const QByteArray& bytes);
// The text as UTF-8, whatever becomes of it.
void write(QIODevice& device, const QString& text);

} // namespace vantor::cli
