// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/IpDatabase.h"

#include "platform/FileDescriptor.h"
#include "platform/MemoryRoom.h"
#include "platform/OutsideFile.h"
#include "platform/PrintableText.h"
#include "vantor/net/BundledDatabases.h"
#include "vantor/net/CountryNames.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <maxminddb.h>
#include <mutex>
#include <netdb.h>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace vantor {

namespace {

// A text of the entry at the path, empty when it has none.
std::string_view textAt(MMDB_entry_s& entry, const char* const* path)
{
    MMDB_entry_data_s data {};
    if (MMDB_aget_value(&entry, &data, path) != MMDB_SUCCESS || !data.has_data
        || data.type != MMDB_DATA_TYPE_UTF8_STRING)
        return {};
    return { data.utf8_string, data.data_size };
}

// The entry's name under `names` below the path, in Chinese, else in English.
std::string_view nameAt(MMDB_entry_s& entry, std::initializer_list<const char*> path)
{
    for (const char* language : { "zh-CN", "en" }) {
        std::array<const char*, 5> full {};
        auto end = std::copy(path.begin(), path.end(), full.begin());
        *end++ = "names";
        *end = language;
        if (const std::string_view name = textAt(entry, full.data()); !name.empty())
            return name;
    }
    return {};
}

// The network of `netmask` bits that holds the address, as "142.250.7.0/24". An IPv4 address in an IPv6 database
// is found below ::/96, whose 96 bits the netmask counts too.
void writeNetwork(const MMDB_s& mmdb, const sockaddr* address, int netmask, std::array<char, 64>& text)
{
    std::array<unsigned char, 16> bytes {};
    int family = address->sa_family;
    int bits = 0;
    if (family == AF_INET) {
        std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
        bits = 32;
        if (mmdb.metadata.ip_version == 6)
            netmask -= 96;
    } else {
        std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
        bits = 128;
    }
    netmask = std::clamp(netmask, 0, bits);
    for (int bit = netmask; bit < bits; ++bit)
        bytes[std::size_t(bit / 8)] &= static_cast<unsigned char>(~(0x80u >> (bit % 8)));
    char* end = text.data();
    if (family == AF_INET) {
        // inet_ntop() would go through printf for each number.
        std::string dotted;
        for (std::size_t i = 0; i < 4; ++i) {
            if (i > 0)
                dotted += '.';
            char number[4];
            dotted.append(number, std::to_chars(number, number + sizeof number, bytes[i]).ptr);
        }
        end = std::copy(dotted.begin(), dotted.end(), end);
    } else if (::inet_ntop(family, bytes.data(), text.data(), socklen_t(text.size()))) {
        end += std::strlen(text.data());
    } else {
        text[0] = '\0';
        return;
    }
    *end++ = '/';
    *std::to_chars(end, text.data() + text.size() - 1, netmask).ptr = '\0';
}

// The layout a record tells, if any: a flat text member, or one of MaxMind's maps of names.
std::optional<MmdbFile::Layout> layoutOf(MMDB_entry_s entry)
{
    const auto type = [&](const char* member) {
        const char* const path[] = { member, nullptr };
        MMDB_entry_data_s data {};
        return MMDB_aget_value(&entry, &data, path) == MMDB_SUCCESS && data.has_data ? int(data.type) : -1;
    };
    if (type("country_code") == MMDB_DATA_TYPE_UTF8_STRING || type("state1") == MMDB_DATA_TYPE_UTF8_STRING
        || type("city") == MMDB_DATA_TYPE_UTF8_STRING)
        return MmdbFile::Layout::Flat;
    if (type("country") == MMDB_DATA_TYPE_MAP || type("city") == MMDB_DATA_TYPE_MAP
        || type("subdivisions") == MMDB_DATA_TYPE_ARRAY)
        return MmdbFile::Layout::City;
    return std::nullopt;
}

// The layout of the first records, in the order of the search tree, that tell one. The walk is bounded: a damaged
// tree may loop.
MmdbFile::Layout layoutOf(const MMDB_s& mmdb)
{
    const std::string_view type = mmdb.metadata.database_type ? mmdb.metadata.database_type : "";
    for (const std::string_view known : { "GeoIP2-", "GeoLite2-", "DBIP-" }) {
        if (type.substr(0, known.size()) == known)
            return MmdbFile::Layout::City;
    }
    constexpr int kMostNodes = 4096;
    constexpr int kMostRecords = 64;
    std::vector<std::uint32_t> nodes { 0 };
    int records = 0;
    for (int visited = 0; !nodes.empty() && visited < kMostNodes && records < kMostRecords; ++visited) {
        MMDB_search_node_s node {};
        const std::uint32_t number = nodes.back();
        nodes.pop_back();
        if (MMDB_read_node(&mmdb, number, &node) != MMDB_SUCCESS)
            continue;
        // Right pushed first: the left one, the lower addresses, is walked first.
        for (const auto& [record, recordType, entry] :
             { std::tuple { node.right_record, node.right_record_type, node.right_record_entry },
               std::tuple { node.left_record, node.left_record_type, node.left_record_entry } }) {
            if (recordType == MMDB_RECORD_TYPE_SEARCH_NODE) {
                nodes.push_back(std::uint32_t(record));
            } else if (recordType == MMDB_RECORD_TYPE_DATA) {
                ++records;
                if (const auto layout = layoutOf(entry))
                    return *layout;
            }
        }
    }
    return MmdbFile::Layout::City;
}

// Whether anything lies below ::/96 of an IPv6 database: the 96 left branches from the root lead to a node or data.
bool holdsIpv4Below96(const MMDB_s& mmdb)
{
    std::uint32_t number = 0;
    for (int bit = 0; bit < 96; ++bit) {
        MMDB_search_node_s node {};
        if (MMDB_read_node(&mmdb, number, &node) != MMDB_SUCCESS)
            return false;
        if (node.left_record_type == MMDB_RECORD_TYPE_DATA)
            return true;
        if (node.left_record_type != MMDB_RECORD_TYPE_SEARCH_NODE)
            return false;
        number = std::uint32_t(node.left_record);
    }
    return true;
}

using Opened = Result<std::shared_ptr<const MmdbFile>>;

// Every database file this process has opened or tried to, by path.
Opened openShared(const QString& path)
{
    static std::mutex mutex;
    static QHash<QString, Opened> opened;
    const std::lock_guard lock(mutex);
    const auto found = opened.constFind(path);
    if (found != opened.cend())
        return *found;
    Result<std::unique_ptr<MmdbFile>> file = MmdbFile::open(path);
    const Opened result
        = file ? Opened(std::shared_ptr<const MmdbFile>(std::move(file).value())) : Opened(file.error());
    opened.insert(path, result);
    return result;
}

bool sameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Copies the first `size` bytes of `from` to `to`, in the kernel where the file system can (sendfile), else through
// a buffer. False when not all of them could be read: the file ended early, or reading failed.
bool copyExactly(int from, int to, off_t size)
{
    constexpr off_t kStep = off_t(1) << 30;
    std::array<char, 64 * 1024> buffer;
    bool inKernel = true;
    off_t done = 0;
    while (done < size) {
        const std::size_t wanted = std::size_t(std::min(size - done, kStep));
        ssize_t count = 0;
        if (inKernel) {
            count = ::sendfile(to, from, &done, wanted);
            if (count < 0 && (errno == EINVAL || errno == ENOSYS)) {
                inKernel = false;
                continue;
            }
        } else {
            count = ::pread(from, buffer.data(), std::min(wanted, buffer.size()), done);
            for (ssize_t written = 0; count > 0 && written < count;) {
                const ssize_t step
                    = ::pwrite(to, buffer.data() + written, std::size_t(count - written), done + written);
                if (step < 0 && errno == EINTR)
                    continue;
                if (step <= 0)
                    return false;
                written += step;
            }
            if (count > 0)
                done += count;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
    }
    return true;
}

// What comes before a MaxMind DB's metadata, which lies within the file's last 128 KiB.
constexpr std::string_view kMetadataMarker("\xAB\xCD\xEFMaxMind.com", 14);
constexpr off_t kMetadataReach = 128 * 1024;

// Whether the marker lies within the last 128 KiB of the file, as libmaxminddb looks for it.
bool holdsMetadataMarker(int fd, off_t size)
{
    const off_t start = std::max<off_t>(0, size - kMetadataReach);
    std::string tail(std::size_t(size - start), '\0');
    for (std::size_t done = 0; done < tail.size();) {
        const ssize_t got = ::pread(fd, tail.data() + done, tail.size() - done, start + off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += std::size_t(got);
    }
    return tail.find(kMetadataMarker) != std::string::npos;
}

} // namespace

qint64 largestDatabaseBytes()
{
    // Without a figure for the memory, as much as one on a small machine may take.
    constexpr qint64 kWithoutFigure = qint64(2) << 30;
    const std::optional<platform::MemoryRoom> room = platform::memoryRoom();
    return room ? room->bytes / 2 : kWithoutFigure;
}

MmdbFile::MmdbFile()
    : m_mmdb(std::make_unique<MMDB_s>())
{
}

std::uint64_t MmdbFile::buildEpoch() const
{
    return m_mmdb->metadata.build_epoch;
}

bool MmdbFile::holdsIpv6() const
{
    return m_mmdb->metadata.ip_version == 6;
}

MmdbFile::~MmdbFile()
{
    MMDB_close(m_mmdb.get());
}

Result<std::unique_ptr<MmdbFile>> MmdbFile::open(const QString& path, const std::function<void()>& whileCopying)
{
    const auto refuse = [&](VantorError::Kind kind, const QString& text) -> Result<std::unique_ptr<MmdbFile>> {
        return VantorError { kind, text.arg(platform::printable(path, PATH_MAX)) };
    };
    using Kind = VantorError::Kind;
    const QString cannotOpenText = QStringLiteral("无法打开数据库文件 %1。");
    const auto cannotOpen = [&] { return refuse(Kind::CannotOpen, cannotOpenText); };

    // One descriptor for every look at the file, opened without waiting: a FIFO in its place cannot hold us up.
    platform::Result<platform::FileDescriptor, platform::FileReadError> opened = platform::openOutsideFile(path);
    // What stands there instead of a file is named; a file that is missing or may not be read is only named.
    if (!opened && (opened.error().error == EINVAL || opened.error().error == EISDIR))
        return refuse(Kind::CannotOpen, QStringLiteral("无法打开数据库文件 %1：") + opened.error().reason + u'。');
    if (!opened)
        return cannotOpen();
    const platform::FileDescriptor source = std::move(opened).value();
    struct stat before = {};
    if (::fstat(source.get(), &before) != 0)
        return cannotOpen();
    // Checked before a byte is copied: the copy takes the file's size in memory.
    if (const qint64 largest = largestDatabaseBytes(); before.st_size > largest)
        return refuse(Kind::CannotOpen,
                      QStringLiteral("数据库文件 %1 太大（%2 MiB），超过本进程可用内存的一半（%3 MiB）。")
                          .arg(before.st_size >> 20)
                          .arg(largest >> 20));
    if (!holdsMetadataMarker(source.get(), before.st_size))
        return refuse(Kind::NotADatabase, QStringLiteral("%1 不是MaxMind数据库文件。"));
    if (whileCopying)
        whileCopying();
    const platform::FileDescriptor copy(::memfd_create("vantor-mmdb", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (copy.get() < 0)
        return cannotOpen();
    const bool copied = copyExactly(source.get(), copy.get(), before.st_size);
    // A file written while it was read gives a copy of neither the old content nor the new one.
    struct stat after = {};
    if (::fstat(source.get(), &after) != 0 || after.st_size != before.st_size
        || !sameTime(after.st_mtim, before.st_mtim) || !sameTime(after.st_ctim, before.st_ctim))
        return refuse(Kind::Changed, QStringLiteral("数据库文件 %1 在读取时被改动。"));
    constexpr int kSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;
    if (!copied || ::fcntl(copy.get(), F_ADD_SEALS, kSeals) != 0)
        return cannotOpen();

    // libmaxminddb opens files by name only; the mapping it makes outlives our descriptor.
    std::unique_ptr<MmdbFile> file(new MmdbFile);
    const QByteArray copyPath = QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(copy.get());
    const int status = MMDB_open(copyPath.constData(), MMDB_MODE_MMAP, file->m_mmdb.get());
    if (status == MMDB_SUCCESS) {
        const MMDB_s& mmdb = *file->m_mmdb;
        file->m_layout = layoutOf(mmdb);
        file->m_holdsIpv4 = mmdb.metadata.ip_version == 4 || (mmdb.metadata.ip_version == 6 && holdsIpv4Below96(mmdb));
        return file;
    }
    // MMDB_open leaves nothing to close when it fails.
    file->m_mmdb.reset(new MMDB_s {});
    if (status == MMDB_FILE_OPEN_ERROR || status == MMDB_IO_ERROR)
        return cannotOpen();
    return refuse(Kind::NotADatabase, QStringLiteral("%1 不是MaxMind数据库文件。"));
}

DatabaseRecord findInDatabases(const IpDatabases& databases, const char* address, RecordTexts* cache)
{
    DatabaseRecord record;
    // As MMDB_lookup_string() reads the address (getaddrinfo() with AI_NUMERICHOST), once for both databases. An
    // address in its usual form reads the same through inet_pton(), without getaddrinfo()'s allocations; the other
    // forms it takes ("127.1", a scope "%eth0") go the long way.
    sockaddr_storage parsed {};
    const sockaddr* socketAddress = reinterpret_cast<const sockaddr*>(&parsed);
    auto* ipv4 = reinterpret_cast<sockaddr_in*>(&parsed);
    auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&parsed);
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(nullptr, &::freeaddrinfo);
    if (::inet_pton(AF_INET, address, &ipv4->sin_addr) == 1) {
        ipv4->sin_family = AF_INET;
    } else if (::inet_pton(AF_INET6, address, &ipv6->sin6_addr) == 1) {
        ipv6->sin6_family = AF_INET6;
    } else {
        addrinfo hints {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_flags = AI_NUMERICHOST;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(address, nullptr, &hints, &found) != 0) {
            record.kind = DatabaseRecord::Kind::Rejected;
            return record;
        }
        addresses.reset(found);
        socketAddress = found->ai_addr;
    }
    const MmdbFile& cityFile
        = socketAddress->sa_family == AF_INET6 && databases.cityIpv6 ? *databases.cityIpv6 : *databases.city;
    const MMDB_s& city = *cityFile.handle();
    int databaseError = MMDB_SUCCESS;
    MMDB_lookup_result_s entry = MMDB_lookup_sockaddr(&city, socketAddress, &databaseError);
    // An IPv6 address in an IPv4-only database is simply not in it.
    if (databaseError == MMDB_IPV6_LOOKUP_IN_IPV4_DATABASE_ERROR
        || (databaseError == MMDB_SUCCESS && !entry.found_entry)) {
        record.kind = DatabaseRecord::Kind::NotFound;
        return record;
    }
    if (databaseError != MMDB_SUCCESS)
        return record; // a damaged database: unreadable

    record.kind = DatabaseRecord::Kind::Found;
    RecordTexts::Texts* kept = cache ? &cache->slot(entry.entry.offset) : nullptr;
    if (kept && kept->offset == entry.entry.offset && kept->file == &cityFile) {
        std::copy(kept->names.begin(), kept->names.end(), record.texts.begin());
    } else {
        if (cityFile.layout() == MmdbFile::Layout::City) {
            record.texts[0] = nameAt(entry.entry, { "country" });
            record.texts[1] = nameAt(entry.entry, { "subdivisions", "0" });
            record.texts[2] = nameAt(entry.entry, { "city" });
        } else {
            for (const auto& [text, member] :
                 { std::pair { &record.texts[0], "country_code" }, std::pair { &record.texts[1], "state1" },
                   std::pair { &record.texts[2], "city" } }) {
                const char* const path[] = { member, nullptr };
                *text = textAt(entry.entry, path);
            }
            if (!record.texts[0].empty())
                record.texts[0] = isoCountryNames().name(record.texts[0]);
        }
        if (kept)
            *kept = { entry.entry.offset, &cityFile, { record.texts[0], record.texts[1], record.texts[2] } };
    }
    writeNetwork(city, socketAddress, entry.netmask, record.network);
    if (databases.asn) {
        MMDB_lookup_result_s asn = MMDB_lookup_sockaddr(databases.asn->handle(), socketAddress, &databaseError);
        if (databaseError == MMDB_SUCCESS && asn.found_entry) {
            const char* const path[] = { "autonomous_system_organization", nullptr };
            record.texts[3] = textAt(asn.entry, path);
            const char* const numberPath[] = { "autonomous_system_number", nullptr };
            MMDB_entry_data_s number {};
            if (MMDB_aget_value(&asn.entry, &number, numberPath) == MMDB_SUCCESS && number.has_data
                && number.type == MMDB_DATA_TYPE_UINT32)
                record.asn = number.uint32;
        }
    }
    return record;
}

IpInfoAnswer lookUpInDatabases(const IpDatabases& databases, const QString& address)
{
    return answerOf(findInDatabases(databases, address.toUtf8().constData()), address);
}

IpInfoAnswer answerOf(const DatabaseRecord& record, const QString& address)
{
    IpInfoAnswer answer;
    switch (record.kind) {
    case DatabaseRecord::Kind::Rejected:
        answer.kind = IpInfoAnswer::Kind::Rejected;
        return answer;
    case DatabaseRecord::Kind::NotFound:
        answer.kind = IpInfoAnswer::Kind::NotFound;
        return answer;
    case DatabaseRecord::Kind::Unreadable:
        return answer;
    case DatabaseRecord::Kind::Found:
        break;
    }
    answer.kind = IpInfoAnswer::Kind::Rows;
    answer.values[0] = address;
    for (std::size_t i = 0; i < record.texts.size(); ++i) {
        if (!record.texts[i].empty())
            answer.values[i + 1] = QString::fromUtf8(record.texts[i].data(), qsizetype(record.texts[i].size()));
    }
    answer.network = QString::fromLatin1(record.network.data());
    return answer;
}

Result<IpDatabases> sharedIpDatabases(const ServiceConfig& services)
{
    if (services.ipInfoDatabases.isEmpty())
        return VantorError {
            VantorError::Kind::MissingSetting,
            QStringLiteral("没有设置数据库文件（ipInfoDatabase），也没有找到 vantor-ip-data 软件包提供的数据库。")
        };
    IpDatabases databases;
    std::shared_ptr<const MmdbFile> ipv4;
    std::shared_ptr<const MmdbFile> ipv6;
    for (const QString& path : services.ipInfoDatabases) {
        const Opened opened = openShared(path);
        if (!opened)
            return opened.error();
        if (!ipv4 && (*opened)->holdsIpv4())
            ipv4 = *opened;
        if (!ipv6 && (*opened)->holdsIpv6())
            ipv6 = *opened;
    }
    // A family no file holds is looked up in the first file, which finds nothing.
    databases.city = ipv4 ? ipv4 : ipv6 ? ipv6 : *openShared(services.ipInfoDatabases.constFirst());
    if (ipv6 && ipv6 != databases.city)
        databases.cityIpv6 = ipv6;
    if (!services.asnDatabase.isEmpty()) {
        const Opened opened = openShared(services.asnDatabase);
        if (!opened)
            return opened.error();
        databases.asn = *opened;
    }
    return databases;
}

std::vector<DatabaseAge> databaseAges(const ServiceConfig& services, qint64 now)
{
    const BundledDatabases bundled = bundledDatabases();
    std::vector<DatabaseAge> ages;
    for (const QString& path : services.ipInfoDatabases + QStringList { services.asnDatabase }) {
        if (path.isEmpty())
            continue;
        const Opened opened = openShared(path);
        if (!opened)
            continue;
        const qint64 epoch = qint64(std::min<std::uint64_t>((*opened)->buildEpoch(), std::uint64_t(INT64_MAX / 2)));
        DatabaseAge age { path, buildDate((*opened)->buildEpoch()) };
        age.bundled = path == bundled.country || path == bundled.asn;
        age.stale = age.bundled && now - epoch > qint64(kBundledDataFreshDays) * 24 * 60 * 60;
        ages.push_back(age);
    }
    return ages;
}

IpInfoAnswer lookUpInIpDatabase(const ServiceConfig& services, const QString& address)
{
    const Result<IpDatabases> databases = sharedIpDatabases(services);
    if (!databases) {
        IpInfoAnswer answer;
        answer.kind = IpInfoAnswer::Kind::Unavailable;
        answer.problem = databases.error().message;
        return answer;
    }
    return lookUpInDatabases(*databases, address);
}

} // namespace vantor
