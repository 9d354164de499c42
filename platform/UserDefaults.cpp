#include "UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// A rename reaches the disk only once the folder holding it is synced.
void syncFolderOf(const QString& filePath)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(filePath).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

UserDefaults::UserDefaults(QString filePath)
    : m_filePath(std::move(filePath))
{
}

QString UserDefaults::pathFor(const QString& application)
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config + QLatin1Char('/') + application + QLatin1Char('/') + application + QStringLiteral(".conf");
}

void UserDefaults::registerDefaults(const std::map<QString, double>& fallbacks)
{
    std::lock_guard lock(m_mutex);
    for (const auto& [key, value] : fallbacks)
        m_fallbacks[key] = value;
}

double UserDefaults::doubleForKey(const QString& key) const
{
    std::lock_guard lock(m_mutex);
    // A QSettings object per call: it rereads the file when another process
    // changed it, and none outlives the lock (QSettings is not thread-safe).
    const QSettings settings(m_filePath, QSettings::IniFormat);
    const QVariant stored = settings.value(key);
    if (!stored.isValid()) {
        const auto fallback = m_fallbacks.find(key);
        return fallback == m_fallbacks.end() ? 0.0 : fallback->second;
    }
    bool isNumber = false;
    const double value = stored.toDouble(&isNumber);
    return isNumber ? value : 0.0;
}

bool UserDefaults::setDouble(const QString& key, double value)
{
    std::lock_guard lock(m_mutex);
    QSettings settings(m_filePath, QSettings::IniFormat);
    settings.setAtomicSyncRequired(true);
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        return false;
    syncFolderOf(m_filePath);
    return true;
}

} // namespace platform
