// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace vantor::testing {

// city.mmdb and asn.mmdb as write-test-mmdb.pl writes them, in a folder that goes away with the object:
//   203.0.113.0/24   中国 / 上海 / 上海, ASN "China Telecom"
//   198.51.100.0/24  English names only: United States / California / San Francisco, "SF", ASN "Example, Inc."
//   2001:db8::/32    日本 / no region / 东京, no ASN entry
//   192.0.2.128/25   德国 and nothing else; the rest of 192.0.2.0/24 is in neither database
// Both are IPv6 databases, the IPv4 networks below ::/96. city-ipv4.mmdb is an IPv4 database:
//   203.0.113.0/24   中国, nothing else
//   198.51.100.9/32  United States, nothing else
class TestDatabases
{
public:
    TestDatabases()
    {
        QProcess writer;
        writer.setProcessChannelMode(QProcess::ForwardedChannels);
        writer.start(QStringLiteral("perl"), { QStringLiteral(VANTOR_TEST_MMDB_WRITER), m_directory.path() });
        m_written
            = writer.waitForFinished(60000) && writer.exitStatus() == QProcess::NormalExit && writer.exitCode() == 0;
    }

    bool written() const { return m_written; }
    QString city() const { return m_directory.filePath(QStringLiteral("city.mmdb")); }
    QString asn() const { return m_directory.filePath(QStringLiteral("asn.mmdb")); }
    QString cityIpv4() const { return m_directory.filePath(QStringLiteral("city-ipv4.mmdb")); }
    QString folder() const { return m_directory.path(); }

private:
    QTemporaryDir m_directory;
    bool m_written = false;
};

} // namespace vantor::testing
