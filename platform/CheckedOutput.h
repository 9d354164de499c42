// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>
#include <cstdio>

namespace platform {

// The exit status of a program whose standard output was closed by its reader (EPIPE): the shell's for SIGPIPE.
inline constexpr int kExitOutputClosed = 141;

// Writes every byte to the descriptor, through interruptions and short writes: the error number (errno) of the
// write that failed, 0 when all is written.
int writeAll(int fd, QByteArrayView bytes);

// The one line that says what became of standard output: "<program>: standard output was closed" for a reader
// that went away (EPIPE), else "<program>: standard output cannot be written: <reason>".
QString outputFailureLine(const QString& program, int error);

// Call first in main(): a standard descriptor (0, 1, 2) that the program was started without is held by /dev/null,
// opened so that its reads or writes fail (EBADF). Otherwise the next file the program opens, one of Qt's own
// among them, would take its number and receive what is printed.
void holdClosedStandardDescriptors();

// Standard output (or another descriptor) as a stdio stream whose every write is checked: code that prints with
// fputs() and printf() keeps doing so, and the first failure's error number is kept, so that no output is lost
// without the program saying so. After a failure nothing more is written. SIGPIPE must be ignored for a reader
// that goes away to show as EPIPE here rather than end the process.
class CheckedOutput
{
public:
    explicit CheckedOutput(int fd);
    ~CheckedOutput();
    CheckedOutput(const CheckedOutput&) = delete;
    CheckedOutput& operator=(const CheckedOutput&) = delete;

    // Buffered by lines on a terminal, by blocks elsewhere, as stdout is.
    std::FILE* file() const { return m_file; }

    // The error number of the first write that failed, 0 while none has.
    int error() const { return m_error; }

    // Writes out what is buffered and closes the descriptor, where a file system may report a write it could not
    // make. When output was lost, says so on standard error after the program's name and returns
    // kExitOutputClosed for a reader that went away or `failedStatus` for any other failure; else `status`.
    int finish(const QString& program, int status, int failedStatus);

private:
    static ssize_t writeCookie(void* cookie, const char* bytes, std::size_t size);

    int m_fd;
    int m_error = 0;
    bool m_wrote = false;
    std::FILE* m_file = nullptr;
};

} // namespace platform
