// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/IpDatabase.h"

#include "platform/FileDescriptor.h"
#include "platform/PrintableText.h"

#include <QFile>
#include <QHash>
#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <maxminddb.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantor {

namespace {

// A text of the entry at the path, or nothing when it has none or an empty one.
std::optional<QString> textAt(MMDB_entry_s& entry, const char* const* path)
{
    MMDB_entry_data_s data {};
    if (MMDB_aget_value(&entry, &data, path) != MMDB_SUCCESS || !data.has_data
        || data.type != MMDB_DATA_TYPE_UTF8_STRING || data.data_size == 0)
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

} // namespace

MmdbFile::MmdbFile()
    : m_mmdb(std::make_unique<MMDB_s>())
{
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

    // One descriptor for every look at the file. Not blocking, so that a FIFO in its place cannot hold us up.
    const platform::FileDescriptor source(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat before = {};
    if (source.get() < 0 || ::fstat(source.get(), &before) != 0 || !S_ISREG(before.st_mode))
        return cannotOpen();
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
    if (status == MMDB_SUCCESS)
        return file;
    // MMDB_open leaves nothing to close when it fails.
    file->m_mmdb.reset(new MMDB_s {});
    if (status == MMDB_FILE_OPEN_ERROR || status == MMDB_IO_ERROR)
        return cannotOpen();
    return refuse(Kind::NotADatabase, QStringLiteral("%1 不是MaxMind数据库文件。"));
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
    if (databaseError == MMDB_IPV6_LOOKUP_IN_IPV4_DATABASE_ERROR
        || (databaseError == MMDB_SUCCESS && !found.found_entry)) {
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

Result<IpDatabases> sharedIpDatabases(const ServiceConfig& services)
{
    IpDatabases databases;
    for (const auto& [path, file] : { std::pair { &services.ipInfoDatabase, &databases.city },
                                      std::pair { &services.asnDatabase, &databases.asn } }) {
        if (path->isEmpty()) {
            if (file == &databases.city)
                return VantorError { VantorError::Kind::MissingSetting,
                                     QStringLiteral("没有设置数据库文件（ipInfoDatabase）。") };
            continue;
        }
        const Opened opened = openShared(*path);
        if (!opened)
            return opened.error();
        *file = *opened;
    }
    return databases;
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
