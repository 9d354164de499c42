// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/engine/BareWorkloads.h"

#include "ostrel/engine/PayloadText.h"

#include <QByteArray>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Built with the workloads' code generation flags, aligned the same way.
#define BARE_WORKLOAD __attribute__((noinline, aligned(64)))

namespace bare {

BARE_WORKLOAD void integerStep()
{
    volatile std::uint32_t counter = 0;
    while (counter < 85899345u)
        counter = counter + 1;
}

BARE_WORKLOAD void floatingPointStep()
{
    volatile double x = 0.0;
    while (x < 85899.345)
        x = x + 0.001;
}

BARE_WORKLOAD void piComputation()
{
    volatile double sum = 0.0;
    volatile std::uint32_t k = 1;
    while (k < 2147483647u) {
        sum = sum + 1.0 / k;
        k = k + 2;
        sum = sum - 1.0 / k;
        k = k + 2;
    }
}

BARE_WORKLOAD void memoryStep()
{
    for (std::uint32_t counter = 1; counter < 5000000u; counter += 2) {
        const QString text(reinterpret_cast<const QChar*>(ostrel::kPayloadText), qsizetype(ostrel::kPayloadLength));
    }
}

BARE_WORKLOAD void diskStep(const char* path)
{
    for (std::uint32_t counter = 1; counter < 1000u; counter += 2) {
        ::unlink(path);
        const QByteArray bytes
            = QString(reinterpret_cast<const QChar*>(ostrel::kPayloadText), qsizetype(ostrel::kPayloadLength)).toUtf8();
        int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            [[maybe_unused]] ssize_t n = ::write(fd, bytes.constData(), size_t(bytes.size()));
            ::close(fd);
        }
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            struct stat info
            {
            };
            ::fstat(fd, &info);
            QByteArray contents(qsizetype(info.st_size), Qt::Uninitialized);
            [[maybe_unused]] ssize_t n = ::read(fd, contents.data(), size_t(contents.size()));
            ::close(fd);
        }
    }
}

} // namespace bare
