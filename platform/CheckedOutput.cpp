// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/CheckedOutput.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

int writeAll(int fd, QByteArrayView bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.data() + done, std::size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        if (written == 0)
            return EIO;
        done += written;
    }
    return 0;
}

void holdClosedStandardDescriptors()
{
    for (const int fd : { STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO }) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // open() takes the lowest free number, which is this one.
        const int held = ::open("/dev/null", (fd == STDIN_FILENO ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
        if (held >= 0 && held != fd)
            ::close(held);
    }
}

QString outputFailureLine(const QString& program, int error)
{
    if (error == EPIPE)
        return QStringLiteral("%1: standard output was closed").arg(program);
    char buffer[256];
    return QStringLiteral("%1: standard output cannot be written: %2")
        .arg(program, QString::fromLocal8Bit(::strerror_r(error, buffer, sizeof buffer)));
}

CheckedOutput::CheckedOutput(int fd)
    : m_fd(fd)
{
    cookie_io_functions_t functions = {};
    functions.write = &CheckedOutput::writeCookie;
    m_file = ::fopencookie(this, "w", functions);
    if (m_file)
        std::setvbuf(m_file, nullptr, ::isatty(fd) ? _IOLBF : _IOFBF, BUFSIZ);
    else
        m_error = errno;
}

CheckedOutput::~CheckedOutput()
{
    if (m_file)
        std::fclose(m_file);
}

ssize_t CheckedOutput::writeCookie(void* cookie, const char* bytes, std::size_t size)
{
    auto* self = static_cast<CheckedOutput*>(cookie);
    if (self->m_error == 0) {
        self->m_wrote = true;
        self->m_error = writeAll(self->m_fd, QByteArrayView(bytes, qsizetype(size)));
    }
    if (self->m_error != 0) {
        errno = self->m_error;
        return 0; // stdio's sign of a failed write
    }
    return ssize_t(size);
}

int CheckedOutput::finish(const QString& program, int status, int failedStatus)
{
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    // Closed only once something went to it: an output closed from the start (>&-) that nothing was written to
    // lost nothing.
    if (m_error == 0 && m_wrote && ::close(m_fd) != 0 && errno != EINTR)
        m_error = errno;
    if (m_error == 0)
        return status;
    const QByteArray line = (outputFailureLine(program, m_error) + QLatin1Char('\n')).toLocal8Bit();
    writeAll(STDERR_FILENO, line);
    return m_error == EPIPE ? kExitOutputClosed : failedStatus;
}

} // namespace platform
