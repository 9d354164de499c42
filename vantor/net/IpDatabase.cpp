// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/IpDatabase.h"

#include <QHash>
#include <algorithm>
#include <array>
#include <maxminddb.h>
#include <mutex>

namespace vantor {

namespace {

// A text of the entry at the path, or nothing when it has none or an empty one.
std::optional<QString> textAt(MMDB_entry_s& entry, const char* const* path)
{
    MMDB_entry_data_s data {};
    if (MMDB_aget_value(&entry, &data, path) != MMDB_SUCCESS || !data.has_data || data.type != MMDB_DATA_TYPE_UTF8_STRING
        || data.data_size == 0)
        return std::nullopt;
    return QString::fromUtf8(data.utf8_string, qsizetype(data.data_size));
}

// The entry's name under `names` below the path, in Chinese, else in English.
std::optional<QString> nameAt(MMDB_entry_s& entry, std::initializer_list<const char*> path)
{
    for (const char* language : { "zh-CN", "en" }) {
        std::array<const char*, 5> full {};
        auto end = std::copy(path.begin(), path.end(), full.begin());
        *end++ = "names";
        *end = language;
        if (std::optional<QString> name = textAt(entry, full.data()))
            return name;
    }
    return std::nullopt;
}

struct Opened
{
    std::shared_ptr<const MmdbFile> file;
    QString problem;
};

// Every database file this process has opened or tried to, by path.
Opened openShared(const QString& path)
{
    static std::mutex mutex;
    static QHash<QString, Opened> opened;
    const std::lock_guard lock(mutex);
    const auto found = opened.constFind(path);
    if (found != opened.cend())
        return *found;
    Opened result;
    result.file = MmdbFile::open(path, &result.problem);
    opened.insert(path, result);
    return result;
}

} // namespace

MmdbFile::MmdbFile()
    : m_mmdb(std::make_unique<MMDB_s>())
{
}

MmdbFile::~MmdbFile()
{
    MMDB_close(m_mmdb.get());
}

std::unique_ptr<MmdbFile> MmdbFile::open(const QString& path, QString* problem)
{
    std::unique_ptr<MmdbFile> file(new MmdbFile);
    const int status = MMDB_open(path.toLocal8Bit().constData(), MMDB_MODE_MMAP, file->m_mmdb.get());
    if (status == MMDB_SUCCESS)
        return file;
    // MMDB_open leaves nothing to close when it fails.
    file->m_mmdb.reset(new MMDB_s {});
    if (problem) {
        *problem = status == MMDB_FILE_OPEN_ERROR || status == MMDB_IO_ERROR
            ? QStringLiteral("无法打开数据库文件 %1。").arg(path)
            : QStringLiteral("%1 不是MaxMind数据库文件。").arg(path);
    }
    return nullptr;
}

IpInfoAnswer lookUpInDatabases(const IpDatabases& databases, const QString& address)
{
    IpInfoAnswer answer;
    const QByteArray text = address.toUtf8();
    int addressError = 0;
    int databaseError = MMDB_SUCCESS;
    MMDB_lookup_result_s found
        = MMDB_lookup_string(databases.city->handle(), text.constData(), &addressError, &databaseError);
    if (addressError != 0) {
        answer.kind = IpInfoAnswer::Kind::Rejected;
        return answer;
    }
    // An IPv6 address in an IPv4-only database is simply not in it.
    if (databaseError == MMDB_IPV6_LOOKUP_IN_IPV4_DATABASE_ERROR || (databaseError == MMDB_SUCCESS && !found.found_entry)) {
        answer.kind = IpInfoAnswer::Kind::NotFound;
        return answer;
    }
    if (databaseError != MMDB_SUCCESS)
        return answer; // a damaged database: unreadable

    answer.kind = IpInfoAnswer::Kind::Rows;
    answer.values[0] = address;
    answer.values[1] = nameAt(found.entry, { "country" });
    answer.values[2] = nameAt(found.entry, { "subdivisions", "0" });
    answer.values[3] = nameAt(found.entry, { "city" });
    if (databases.asn) {
        MMDB_lookup_result_s asn
            = MMDB_lookup_string(databases.asn->handle(), text.constData(), &addressError, &databaseError);
        if (databaseError == MMDB_SUCCESS && asn.found_entry) {
            const char* const path[] = { "autonomous_system_organization", nullptr };
            answer.values[4] = textAt(asn.entry, path);
        }
    }
    return answer;
}

std::optional<IpDatabases> sharedIpDatabases(const ServiceConfig& services, QString* problem)
{
    IpDatabases databases;
    for (const auto& [path, file] : { std::pair { &services.ipInfoDatabase, &databases.city },
                                      std::pair { &services.asnDatabase, &databases.asn } }) {
        if (path->isEmpty()) {
            if (file == &databases.city) {
                if (problem)
                    *problem = QStringLiteral("没有设置数据库文件（ipInfoDatabase）。");
                return std::nullopt;
            }
            continue;
        }
        Opened opened = openShared(*path);
        if (!opened.file) {
            if (problem)
                *problem = opened.problem;
            return std::nullopt;
        }
        *file = std::move(opened.file);
    }
    return databases;
}

IpInfoAnswer lookUpInIpDatabase(const ServiceConfig& services, const QString& address)
{
    IpInfoAnswer answer;
    const std::optional<IpDatabases> databases = sharedIpDatabases(services, &answer.problem);
    if (!databases) {
        answer.kind = IpInfoAnswer::Kind::Unavailable;
        return answer;
    }
    return lookUpInDatabases(*databases, address);
}

} // namespace vantor
