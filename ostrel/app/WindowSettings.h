// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/WholeFile.h"

#include <QString>

namespace ostrel {

// The window's own choices, in a file beside the saved results and never
// among their six keys: whether the extended tests run and where the disk
// test writes. A value that cannot be used reads as its fallback.
class WindowSettings
{
public:
    explicit WindowSettings(QString path);

    // "window.conf" in the folder of the saved results' file.
    static QString pathBeside(const QString& savedResultsPath);

    bool extendedTests() const;
    // A setter's write says why it failed; the file is then as it was.
    platform::Status<platform::FileWriteError> setExtendedTests(bool on);

    // Empty: the folder of the disk test's scratch file.
    QString diskFolder() const;
    platform::Status<platform::FileWriteError> setDiskFolder(const QString& folder);

    const QString& fileName() const { return m_path; }

private:
    QString m_path;
};

} // namespace ostrel
