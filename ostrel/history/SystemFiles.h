// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace ostrel::history {

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

// A kernel file (/proc, /sys) or a small system file, whole up to the bound;
// empty when it cannot be read, which callers take as "not there".
inline QByteArray readSystemFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(kMostSystemFileBytes);
}

} // namespace ostrel::history
