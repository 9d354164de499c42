// SPDX-License-Identifier: GPL-3.0-or-later
// Addresses the input picks, looked up by findInDatabases() in databases of every record shape (write-test-mmdb.pl's
// varied ones): with one cache across the input's lookups, as a lookup thread keeps it, and without. Each answer
// must be what libmaxminddb's own generic reading of the record gives; a difference aborts.
//
// The input: one byte choosing the databases (IPv6 City and ASN, IPv4 City only, or IPv4 flat City and ASN), then
// lookups, each a byte for its kind and the bytes of its address: an address of the generated list (2 bytes: its
// index), IPv4 (4), IPv6 (16), IPv4-mapped IPv6 (4) or 6to4 (4).
#include "vantor/net/IpDatabase.h"
#include "vantor/testing/MmdbReading.h"
#include "vantor/testing/TestDatabases.h"

#include <QFile>
#include <cstdio>
#include <cstdlib>

namespace {

struct DatabaseSet
{
    vantor::IpDatabases vantor;
    MMDB_s city {};
    MMDB_s asn {};
    bool withAsn = false;
};

struct Generated
{
    vantor::testing::TestDatabases files { "varied" };
    std::vector<QByteArray> addresses;
    std::array<DatabaseSet, 3> sets;

    Generated()
    {
        QFile list(files.file("varied-addresses"));
        if (!files.written() || !list.open(QIODevice::ReadOnly))
            fail("the varied databases could not be written");
        for (const QByteArray& line : list.readAll().split('\n')) {
            if (!line.isEmpty())
                addresses.push_back(line);
        }
        if (addresses.empty())
            fail("the varied address list is empty");
        open(sets[0], "varied-city.mmdb", "varied-asn.mmdb");
        open(sets[1], "varied-city-ipv4.mmdb", nullptr);
        open(sets[2], "varied-flat-ipv4.mmdb", "varied-asn.mmdb");
    }

    ~Generated()
    {
        for (DatabaseSet& set : sets) {
            MMDB_close(&set.city);
            if (set.withAsn)
                MMDB_close(&set.asn);
        }
    }

    [[noreturn]] static void fail(const std::string& what)
    {
        std::fprintf(stderr, "ip_database_reading_fuzz: %s\n", what.c_str());
        std::abort();
    }

    void open(DatabaseSet& set, const char* city, const char* asn)
    {
        const auto both = [&](const char* name, MMDB_s& generic) {
            const QByteArray path = QFile::encodeName(files.file(name));
            auto file = vantor::MmdbFile::open(files.file(name));
            if (!file || MMDB_open(path.constData(), MMDB_MODE_MMAP, &generic) != MMDB_SUCCESS)
                fail(std::string("cannot open ") + name);
            return std::shared_ptr<const vantor::MmdbFile>(std::move(file).value());
        };
        set.vantor.city = both(city, set.city);
        set.withAsn = asn != nullptr;
        if (asn)
            set.vantor.asn = both(asn, set.asn);
    }
};

// The address the bytes at `at` make for the kind, as text; empty when the input ends first.
std::string addressAt(const Generated& generated, std::uint8_t kind, const std::uint8_t*& at, const std::uint8_t* end)
{
    static constexpr std::size_t kSizes[] = { 2, 4, 16, 4, 4 };
    const std::size_t size = kSizes[kind];
    if (std::size_t(end - at) < size)
        return {};
    const std::uint8_t* bytes = at;
    at += size;
    if (kind == 0)
        return generated.addresses[(std::size_t(bytes[0]) << 8 | bytes[1]) % generated.addresses.size()].toStdString();
    unsigned char address[16] = {};
    int family = AF_INET6;
    if (kind == 1) {
        family = AF_INET;
        std::memcpy(address, bytes, 4);
    } else if (kind == 2) {
        std::memcpy(address, bytes, 16);
    } else if (kind == 3) {
        address[10] = address[11] = 0xff;
        std::memcpy(address + 12, bytes, 4);
    } else {
        address[0] = 0x20;
        address[1] = 0x02;
        std::memcpy(address + 2, bytes, 4);
    }
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(family, address, text, sizeof text);
    return text;
}

// What differs between Vantor's record and the generic reading; empty when nothing does.
std::string difference(const vantor::DatabaseRecord& record, const vantor::testing::MmdbReading& reading)
{
    using Kind = vantor::DatabaseRecord::Kind;
    const Kind kind = reading.rejected ? Kind::Rejected : reading.found ? Kind::Found : Kind::NotFound;
    if (record.kind != kind)
        return "kind " + std::to_string(int(record.kind)) + ", generic reading " + std::to_string(int(kind));
    if (kind != Kind::Found)
        return {};
    for (std::size_t i = 0; i < reading.texts.size(); ++i) {
        if (record.texts[i] != reading.texts[i])
            return "text " + std::to_string(i) + " \"" + std::string(record.texts[i]) + "\", generic reading \""
                + reading.texts[i] + '"';
    }
    if (record.network.data() != reading.network)
        return "network " + std::string(record.network.data()) + ", generic reading " + reading.network;
    return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Generated generated;
    if (size == 0)
        return 0;
    const DatabaseSet& set = generated.sets[data[0] % generated.sets.size()];
    // One cache for the whole input, as a thread keeps one for all its lookups.
    const auto cache = std::make_unique<vantor::RecordTexts>();
    const std::uint8_t* at = data + 1;
    const std::uint8_t* end = data + size;
    while (at < end) {
        const std::uint8_t kind = *at++ % 5;
        const std::string address = addressAt(generated, kind, at, end);
        if (address.empty())
            break;
        const vantor::testing::MmdbReading reading
            = vantor::testing::readGenerically(set.city, set.withAsn ? &set.asn : nullptr, address.c_str());
        for (vantor::RecordTexts* texts : { cache.get(), static_cast<vantor::RecordTexts*>(nullptr) }) {
            const std::string differs
                = difference(vantor::findInDatabases(set.vantor, address.c_str(), texts), reading);
            if (!differs.empty())
                Generated::fail(address + (texts ? " (cached): " : ": ") + differs);
        }
    }
    return 0;
}
