// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantor::testing {

// city.mmdb and asn.mmdb as write-test-mmdb.pl writes them, in a folder that goes away with the object:
//   142.250.7.0/24   中国 / 上海 / 上海, ASN "China Telecom"
//   151.101.65.0/24  English names only: United States / California / San Francisco, "SF", ASN "Example, Inc."
//   2001:67c::/32    日本 / no region / 东京, no ASN entry
//   81.2.69.128/25   德国 and nothing else; the rest of 81.2.69.0/24 is in neither database
// Both are IPv6 databases, the IPv4 networks below ::/96. city-ipv4.mmdb is an IPv4 database:
//   142.250.7.0/24   中国, nothing else
//   151.101.65.9/32  United States, nothing else
// With a mode ("varied"), the files that mode of write-test-mmdb.pl writes instead, found by file().
class TestDatabases
{
public:
    // Spawned rather than a QProcess: QProcess starts its child with vfork semantics, and under ThreadSanitizer what
    // that child does before exec lands in the parent's thread state, which then misses later locks and atomics and
    // reports correct code as racing.
    explicit TestDatabases(const char* mode = nullptr)
    {
        const QByteArray folder = m_directory.path().toLocal8Bit();
        char perl[] = "perl";
        char script[] = VANTOR_TEST_MMDB_WRITER;
        char* const argv[] = { perl, script, const_cast<char*>(folder.constData()), const_cast<char*>(mode), nullptr };
        pid_t writer = 0;
        int status = 0;
        m_written = ::posix_spawnp(&writer, perl, nullptr, nullptr, argv, environ) == 0
            && ::waitpid(writer, &status, 0) == writer && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    bool written() const { return m_written; }
    QString city() const { return m_directory.filePath(QStringLiteral("city.mmdb")); }
    QString asn() const { return m_directory.filePath(QStringLiteral("asn.mmdb")); }
    QString cityIpv4() const { return m_directory.filePath(QStringLiteral("city-ipv4.mmdb")); }
    QString file(const char* name) const { return m_directory.filePath(QString::fromLatin1(name)); }
    QString folder() const { return m_directory.path(); }

private:
    QTemporaryDir m_directory;
    bool m_written = false;
};

} // namespace vantor::testing
