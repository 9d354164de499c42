// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/app/WindowSettings.h"

#include "platform/IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace ostrel {

namespace {

const QString kExtendedTests = QStringLiteral("extendedTests");
const QString kDiskFolder = QStringLiteral("diskFolder");

// The window's choices, or nothing from a file QSettings must not read (platform::settingsFileProblem()): the
// choices then stay the defaults, and the file is left as it is.
QVariant storedValue(const QString& path, const QString& key)
{
    return platform::settingsFileProblem(path) ? QVariant() : QSettings(path, QSettings::IniFormat).value(key);
}

// Merged with every other key the file holds, and written whole or not at all.
platform::Status<platform::FileWriteError> storeValue(const QString& path, const QString& key, const QVariant& value)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return platform::setIniValue(path, key, value);
}

} // namespace

WindowSettings::WindowSettings(QString path)
    : m_path(std::move(path))
{
}

QString WindowSettings::pathBeside(const QString& savedResultsPath)
{
    return QFileInfo(savedResultsPath).dir().filePath(QStringLiteral("window.conf"));
}

bool WindowSettings::extendedTests() const
{
    const QVariant value = storedValue(m_path, kExtendedTests);
    const QString text = value.toString();
    return text == QLatin1String("true") || text == QLatin1String("1");
}

platform::Status<platform::FileWriteError> WindowSettings::setExtendedTests(bool on)
{
    return storeValue(m_path, kExtendedTests, on);
}

QString WindowSettings::diskFolder() const
{
    const QString folder = storedValue(m_path, kDiskFolder).toString();
    // Only a folder that is still there: otherwise the default.
    return !folder.isEmpty() && QFileInfo(folder).isAbsolute() && QFileInfo(folder).isDir() ? folder : QString();
}

platform::Status<platform::FileWriteError> WindowSettings::setDiskFolder(const QString& folder)
{
    return storeValue(m_path, kDiskFolder, folder);
}

} // namespace ostrel
