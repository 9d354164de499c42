// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace ostrel {

namespace {

const QString kExtendedTests = QStringLiteral("extendedTests");
const QString kDiskFolder = QStringLiteral("diskFolder");

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
    const QVariant value = QSettings(m_path, QSettings::IniFormat).value(kExtendedTests);
    const QString text = value.toString();
    return text == QLatin1String("true") || text == QLatin1String("1");
}

void WindowSettings::setExtendedTests(bool on)
{
    QSettings(m_path, QSettings::IniFormat).setValue(kExtendedTests, on);
}

QString WindowSettings::diskFolder() const
{
    const QString folder = QSettings(m_path, QSettings::IniFormat).value(kDiskFolder).toString();
    // Only a folder that is still there: otherwise the default.
    return !folder.isEmpty() && QFileInfo(folder).isAbsolute() && QFileInfo(folder).isDir() ? folder : QString();
}

void WindowSettings::setDiskFolder(const QString& folder)
{
    QSettings(m_path, QSettings::IniFormat).setValue(kDiskFolder, folder);
}

} // namespace ostrel
