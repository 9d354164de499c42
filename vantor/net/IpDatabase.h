// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/BundledDatabases.h"
#include "vantor/net/IpInfo.h"
#include "vantor/net/VantorError.h"

#include <QDate>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

struct MMDB_s;

namespace vantor {

// One MaxMind DB file as it was when opened, for as long as the object lives. Lookups only read it, so one open file
// serves any number of them, from any thread.
//
// The bytes are copied into sealed memory of this process's own, and the copy is what is mapped: a file mapped
// where it lies would give a lookup whatever is written into it later (an update copied over it) and kill the
// process with SIGBUS once it is cut short. The copy costs the file's size in memory, once per process, as each
// file is opened once (sharedIpDatabases()); so before a byte is copied the file must be a regular one, no larger
// than largestDatabaseBytes(), with a MaxMind DB's metadata marker in its last 128 KiB.
class MmdbFile
{
public:
    // The file opened, or why not (naming the file). A file that is not a regular one, or that changes while it is
    // copied, is refused. `whileCopying`, when given, runs after the file's size is taken and before its bytes are
    // read.
    static Result<std::unique_ptr<MmdbFile>> open(const QString& path, const std::function<void()>& whileCopying = {});
    ~MmdbFile();
    MmdbFile(const MmdbFile&) = delete;
    MmdbFile& operator=(const MmdbFile&) = delete;

    const MMDB_s* handle() const { return m_mmdb.get(); }
    // When the database was built (its metadata's build_epoch), in seconds since 1970.
    std::uint64_t buildEpoch() const;

    // How a City database's records hold the place: MaxMind's maps of names (country.names.en, subdivisions,
    // city), or flat texts (country_code, state1, city) as DB-IP's data is also published and the bundled country
    // database holds it. Told from the metadata's database_type where that names MaxMind's or DB-IP's own
    // databases, else from the first records that hold either; City when none does.
    enum class Layout { City, Flat };
    Layout layout() const { return m_layout; }
    // Whether IPv4 addresses can be found in it: an IPv4 database, or an IPv6 one with networks below ::/96, where
    // libmaxminddb looks an IPv4 address up.
    bool holdsIpv4() const { return m_holdsIpv4; }
    bool holdsIpv6() const;

private:
    MmdbFile();
    std::unique_ptr<MMDB_s> m_mmdb;
    Layout m_layout = Layout::City;
    bool m_holdsIpv4 = false;
};

// The largest database file opened: half the memory this process may take (platform::memoryRoom(), which counts
// its control group's limit), else 2 GiB.
qint64 largestDatabaseBytes();

// A City database and an optional ASN database, as the mmdb format reads them; a second City database when IPv6
// addresses are in another file than IPv4 ones.
struct IpDatabases
{
    std::shared_ptr<const MmdbFile> city; // for IPv4 addresses, and IPv6 ones unless cityIpv6 is set
    std::shared_ptr<const MmdbFile> asn; // null when none is configured
    std::shared_ptr<const MmdbFile> cityIpv6 = nullptr; // null: `city`
};

// What the databases hold for an address, as bytes that live as long as the databases: what a caller that formats
// many answers reads without making texts of them first.
struct DatabaseRecord
{
    enum class Kind { Found, Rejected, NotFound, Unreadable };
    Kind kind = Kind::Unreadable;
    // The country, first subdivision and city names (zh-CN, else en; in the flat layout the country's name from
    // iso-codes, the region and the city as they are) and the ASN organisation; empty when absent.
    std::array<std::string_view, 4> texts;
    // The network the City database holds the address in, as "142.250.7.0/24"; for Found.
    std::array<char, 64> network {};
    // The ASN database's autonomous_system_number, when it has one for the address.
    std::optional<std::uint32_t> asn;
};

// The texts of the City database's records last read, by where they lie: many networks share a record (a city's),
// and reading its texts again costs more than the lookup. For one thread and one set of databases.
class RecordTexts
{
public:
    struct Texts
    {
        // None until a record's texts are kept: every offset is a record's, 0 the data section's first.
        std::optional<std::uint32_t> offset;
        const MmdbFile* file = nullptr; // whose record, as two City files may share offsets
        std::array<std::string_view, 3> names;
    };
    Texts& slot(std::uint32_t offset) { return m_slots[offset % m_slots.size()]; }

private:
    std::array<Texts, 1024> m_slots {};
};

// The record for the address, given as UTF-8 ending in a zero; with `cache`, the City texts are taken from it or
// kept in it.
DatabaseRecord findInDatabases(const IpDatabases& databases, const char* address, RecordTexts* cache = nullptr);

// The record as the answer for the address it was found for.
IpInfoAnswer answerOf(const DatabaseRecord& record, const QString& address);

// The answer for the address: IP is the address as given; country, region and city come from the City database's
// names in zh-CN, else en; the carrier is the ASN database's autonomous_system_organization; the network is the City
// database's. A text that is not an address is rejected; an address the City database has no entry for is NotFound.
IpInfoAnswer lookUpInDatabases(const IpDatabases& databases, const QString& address);

// The configured databases, each opened once per process and shared by every later call, or why one cannot be used
// (naming the file). A failure is remembered too: the file is not tried again. Of several City databases, an
// address is looked up in the first that holds its family; one that holds neither is not used.
Result<IpDatabases> sharedIpDatabases(const ServiceConfig& services);

// When a configured local database was built, for saying that its answers may be out of date.
struct DatabaseAge
{
    QString path;
    QDate built; // in UTC
    bool bundled = false; // one of bundledDatabases()
    bool stale = false; // bundled and built more than kBundledDataFreshDays days before `now`
};

// The configured City and ASN databases that open, in the order configured; `now` in seconds since 1970.
std::vector<DatabaseAge> databaseAges(const ServiceConfig& services, qint64 now);

// The mmdb format's lookup: lookUpInDatabases() on the shared databases, or Kind::Unavailable.
IpInfoAnswer lookUpInIpDatabase(const ServiceConfig& services, const QString& address);

} // namespace vantor
