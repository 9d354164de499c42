// SPDX-License-Identifier: GPL-3.0-or-later
// An address's texts as libmaxminddb's own generic reading gives them, for tests that hold Vantor's reader against
// it: the whole record walked from MMDB_get_entry_data_list() into a tree, the texts then picked from the tree.
#pragma once

#include "vantor/net/CountryNames.h"

#include <arpa/inet.h>
#include <array>
#include <cstring>
#include <maxminddb.h>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vantor::testing {

// A value of a record: a text, a map or an array; any other type is none of them.
struct MmdbValue
{
    std::optional<std::string> text;
    // A map's members: names and values side by side (a pair would need the type complete here).
    std::vector<std::string> names;
    std::vector<MmdbValue> members;
    std::vector<MmdbValue> items;

    // The first member of that name, as a map's lookup finds it.
    const MmdbValue* member(const std::string& name) const
    {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i] == name)
                return &members[i];
        }
        return nullptr;
    }
};

// The value that starts at `at`, leaving `at` after it. A map is followed by its keys and values, an array by its
// items; a list cut short gives what came before the cut.
inline MmdbValue mmdbValue(MMDB_entry_data_list_s*& at)
{
    MmdbValue value;
    if (!at)
        return value;
    const MMDB_entry_data_s data = at->entry_data;
    at = at->next;
    if (data.type == MMDB_DATA_TYPE_UTF8_STRING) {
        value.text = std::string(data.utf8_string, data.data_size);
    } else if (data.type == MMDB_DATA_TYPE_MAP) {
        for (std::uint32_t i = 0; i < data.data_size && at; ++i) {
            const MMDB_entry_data_s key = at->entry_data;
            at = at->next;
            MmdbValue member = mmdbValue(at);
            if (key.type == MMDB_DATA_TYPE_UTF8_STRING) {
                value.names.emplace_back(key.utf8_string, key.data_size);
                value.members.push_back(std::move(member));
            }
        }
    } else if (data.type == MMDB_DATA_TYPE_ARRAY) {
        for (std::uint32_t i = 0; i < data.data_size && at; ++i)
            value.items.push_back(mmdbValue(at));
    }
    return value;
}

// What the generic reading finds for an address.
struct MmdbReading
{
    bool found = false;
    bool rejected = false; // not an address getaddrinfo() reads
    std::uint32_t offset = 0; // of the record in the data section, when found
    // Country, first subdivision and city (zh-CN, else en; of a flat record the country's name for its code, state1
    // and city), then the ASN organisation; empty when absent.
    std::array<std::string, 4> texts;
    std::string network; // "142.250.7.0/24"
};

// The text at the path below the value, empty when there is none.
inline std::string textAt(const MmdbValue& value, std::initializer_list<const char*> path)
{
    const MmdbValue* at = &value;
    for (const char* step : path) {
        if (!at)
            return {};
        if (std::strcmp(step, "0") == 0)
            at = at->items.empty() ? nullptr : &at->items.front();
        else
            at = at->member(step);
    }
    return at && at->text ? *at->text : std::string();
}

inline MmdbValue wholeRecord(MMDB_entry_s& entry)
{
    MMDB_entry_data_list_s* list = nullptr;
    if (MMDB_get_entry_data_list(&entry, &list) != MMDB_SUCCESS) {
        MMDB_free_entry_data_list(list);
        return {};
    }
    MMDB_entry_data_list_s* at = list;
    MmdbValue value = mmdbValue(at);
    MMDB_free_entry_data_list(list);
    return value;
}

// The network of `prefix` bits holding the address, as inet_ntop() writes its first address. An IPv4 address in an
// IPv6 database lies below ::/96, whose 96 bits the prefix counts.
inline std::string networkOf(const char* address, int prefix, const MMDB_s& database)
{
    unsigned char bytes[16] = {};
    int family = AF_INET;
    int bits = 32;
    if (::inet_pton(AF_INET, address, bytes) == 1) {
        if (database.metadata.ip_version == 6)
            prefix -= 96;
    } else if (::inet_pton(AF_INET6, address, bytes) == 1) {
        family = AF_INET6;
        bits = 128;
    } else {
        return {};
    }
    for (int bit = prefix; bit < bits; ++bit)
        bytes[bit / 8] &= static_cast<unsigned char>(~(0x80u >> (bit % 8)));
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(family, bytes, text, sizeof text);
    return std::string(text) + '/' + std::to_string(prefix);
}

// The address looked up in the City and (when given) the ASN database, every text through the generic reading.
inline MmdbReading readGenerically(const MMDB_s& city, const MMDB_s* asn, const char* address)
{
    MmdbReading reading;
    int addressError = 0;
    int databaseError = MMDB_SUCCESS;
    MMDB_lookup_result_s found = MMDB_lookup_string(&city, address, &addressError, &databaseError);
    if (addressError != 0) {
        reading.rejected = true;
        return reading;
    }
    if (databaseError != MMDB_SUCCESS || !found.found_entry)
        return reading;
    reading.found = true;
    reading.offset = found.entry.offset;
    const MmdbValue record = wholeRecord(found.entry);
    const MmdbValue* code = record.member("country_code");
    const MmdbValue* state = record.member("state1");
    const MmdbValue* cityName = record.member("city");
    const bool flat = (code && code->text) || (state && state->text) || (cityName && cityName->text);
    int t = 0;
    for (const char* place : { "country", "subdivisions", "city" }) {
        if (flat)
            break;
        const bool array = std::strcmp(place, "subdivisions") == 0;
        for (const char* language : { "zh-CN", "en" }) {
            reading.texts[t] = array ? textAt(record, { place, "0", "names", language })
                                     : textAt(record, { place, "names", language });
            if (!reading.texts[t].empty())
                break;
        }
        ++t;
    }
    if (flat) {
        const std::string country = textAt(record, { "country_code" });
        reading.texts[0] = country.empty() ? country : std::string(vantor::isoCountryNames().name(country));
        reading.texts[1] = textAt(record, { "state1" });
        reading.texts[2] = textAt(record, { "city" });
    }
    reading.network = networkOf(address, found.netmask, city);
    if (asn) {
        MMDB_lookup_result_s organisation = MMDB_lookup_string(asn, address, &addressError, &databaseError);
        if (databaseError == MMDB_SUCCESS && organisation.found_entry)
            reading.texts[3] = textAt(wholeRecord(organisation.entry), { "autonomous_system_organization" });
    }
    return reading;
}

} // namespace vantor::testing

namespace vantor::testing {

// The metadata's build_epoch as libmaxminddb reads it.
inline std::optional<std::uint64_t> mmdbBuildEpoch(const char* path)
{
    MMDB_s mmdb {};
    if (MMDB_open(path, MMDB_MODE_MMAP, &mmdb) != MMDB_SUCCESS)
        return std::nullopt;
    const std::uint64_t epoch = mmdb.metadata.build_epoch;
    MMDB_close(&mmdb);
    return epoch;
}

} // namespace vantor::testing
