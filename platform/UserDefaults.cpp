// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/UserDefaults.h"

#include "platform/ErrorText.h"
#include "platform/IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// flock() on the folder that holds the store, for the lifetime of the object.
// A folder needs no lock file of its own and is there before the store is.
class FolderLock
{
public:
    enum class Mode { Shared = LOCK_SH, Exclusive = LOCK_EX };

    FolderLock(const QString& folder, Mode mode)
        : m_fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (m_fd < 0)
            return;
        int result;
        do {
            result = ::flock(m_fd, static_cast<int>(mode));
        } while (result < 0 && errno == EINTR);
        if (result < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~FolderLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool isHeld() const { return m_fd >= 0; }

private:
    int m_fd;
};

QString folderOf(const QString& filePath)
{
    return QFileInfo(filePath).absolutePath();
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

double UserDefaults::fallbackFor(const QString& key) const
{
    const auto fallback = m_fallbacks.find(key);
    return fallback == m_fallbacks.end() ? 0.0 : fallback->second;
}

double UserDefaults::doubleForKey(const QString& key) const
{
    std::lock_guard lock(m_mutex);
    QVariant stored;
    {
        // Without the folder there is no store to read and nothing to lock.
        const FolderLock folderLock(folderOf(m_filePath), FolderLock::Mode::Shared);
        if (settingsFileProblem(m_filePath))
            return fallbackFor(key);
        // A QSettings object per call: it rereads the file when another
        // process changed it, and none outlives the locks (QSettings is not
        // thread-safe).
        const QSettings settings(m_filePath, QSettings::IniFormat);
        stored = settings.value(key);
    }
    if (!stored.isValid())
        return fallbackFor(key);
    bool isNumber = false;
    const double value = stored.toDouble(&isNumber);
    return isNumber ? value : 0.0;
}

bool UserDefaults::setDouble(const QString& key, double value)
{
    std::lock_guard lock(m_mutex);
    errno = 0;
    const bool written = write(key, value);
    // Each step below fails with errno set by the call that failed; a
    // failure that leaves none is still one.
    m_lastWriteError = written ? 0 : (errno != 0 ? errno : EIO);
    return written;
}

int UserDefaults::lastWriteError() const
{
    std::lock_guard lock(m_mutex);
    return m_lastWriteError;
}

QString UserDefaults::readProblem() const
{
    std::lock_guard lock(m_mutex);
    const QByteArray path = QFile::encodeName(m_filePath);
    struct stat info
    {
    };
    if (::stat(path.constData(), &info) != 0)
        return errno == ENOENT ? QString() : errorText(errno);
    if (S_ISDIR(info.st_mode))
        return errorText(EISDIR);
    const FolderLock folderLock(folderOf(m_filePath), FolderLock::Mode::Shared);
    if (const std::optional<FileReadError> problem = settingsFileProblem(m_filePath))
        return problem->reason;
    const QSettings settings(m_filePath, QSettings::IniFormat);
    if (settings.status() == QSettings::FormatError)
        return QStringLiteral("文件格式有误");
    return {};
}

bool UserDefaults::write(const QString& key, double value)
{
    const QString folder = folderOf(m_filePath);
    if (!QDir().mkpath(folder)) {
        // mkpath() leaves EEXIST for a file where the folder should be.
        if (QFileInfo(folder).exists())
            errno = ENOTDIR;
        return false;
    }
    const FolderLock folderLock(folder, FolderLock::Mode::Exclusive);
    if (!folderLock.isHeld())
        return false;
    // Merged with every key the file holds, this store's or not, as QSettings reads them.
    const Status<FileWriteError> written = setIniValue(m_filePath, key, value);
    errno = written ? 0 : written.error().error;
    return bool(written);
}

} // namespace platform
