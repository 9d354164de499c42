// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/OutsideFile.h"

#include <QByteArray>
#include <QString>

namespace ostrel::machine {

// Where the kernel's files are read from. Tests point these at fixture trees.
struct SystemRoots
{
    QString proc = QStringLiteral("/proc");
    QString sys = QStringLiteral("/sys");
    QString etc = QStringLiteral("/etc");
};

// Far more than any of these files holds, even /proc/self/mountinfo with
// thousands of mounts; a device or a huge file in a file's place is read no
// further.
inline constexpr qint64 kMostSystemFileBytes = 16 << 20;

// A kernel file (/proc, /sys) or a small system file, whole; empty when it
// cannot be read or is no regular file of at most the bound (a FIFO bound
// over a kernel file must not hold the run up), which callers take as "not
// there".
inline QByteArray readSystemFile(const QString& path)
{
    return platform::readOutsideFile(path, kMostSystemFileBytes).value_or(QByteArray());
}

} // namespace ostrel::machine
