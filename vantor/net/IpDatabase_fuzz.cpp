// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as the MaxMind DB file of the setting ipInfoDatabase: opened the way Vantor opens it, then asked for an
// IPv4 and an IPv6 address, also as the ASN database.
#include "vantor/net/IpDatabase.h"

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A file in memory, so a run is not slowed down by the disk.
    const int fd = memfd_create("mmdb", 0);
    if (fd < 0)
        return 0;
    if (write(fd, data, size) != ssize_t(size)) {
        close(fd);
        return 0;
    }
    auto opened = vantor::MmdbFile::open(QStringLiteral("/proc/self/fd/%1").arg(fd));
    close(fd);
    if (!opened)
        return 0;
    const std::shared_ptr<const vantor::MmdbFile> file = std::move(opened).value();
    const vantor::IpDatabases databases { file, file };
    for (const char* address : { "142.250.7.7", "2001:67c::1", "::", "255.255.255.255" })
        (void)vantor::lookUpInDatabases(databases, QString::fromLatin1(address));
    return 0;
}
