// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/OutsideFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

using platform::FileKinds;

namespace {

constexpr qint64 kBound = 100;

// Whatever stands at the path: none of these may block or be read further than the bound.
struct Case
{
    const char* name;
    std::function<QString(const QString& folder)> make;
    FileKinds kinds;
    int error; // 0: opened and read
    qsizetype bytes = 0;
};

QString file(const QString& folder, qsizetype size)
{
    const QString path = folder + QStringLiteral("/file");
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(QByteArray(size, 'x')) != size)
        return {};
    return path;
}

QString fifo(const QString& folder)
{
    const QString path = folder + QStringLiteral("/fifo");
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
}

QString socketFile(const QString& folder)
{
    const QString path = folder + QStringLiteral("/socket");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound ? path : QString();
}

} // namespace

TEST(OutsideFile, OpensOnlyWhatItMayReadAndReadsNoFurtherThanTheBound)
{
    const Case cases[] = {
        { "empty", [](const QString& f) { return file(f, 0); }, FileKinds::RegularFile, 0, 0 },
        { "the bound", [](const QString& f) { return file(f, kBound); }, FileKinds::RegularFile, 0, kBound },
        { "the bound + 1", [](const QString& f) { return file(f, kBound + 1); }, FileKinds::RegularFile, EFBIG },
        { "a kernel file that tells no size", [](const QString&) { return QStringLiteral("/proc/self/mountinfo"); },
          FileKinds::RegularFile, EFBIG },
        { "nothing", [](const QString& f) { return f + QStringLiteral("/none"); }, FileKinds::RegularFile, ENOENT },
        { "a folder", [](const QString& f) { return f; }, FileKinds::RegularFileOrFifo, EISDIR },
        { "an endless device", [](const QString&) { return QStringLiteral("/dev/zero"); }, FileKinds::RegularFileOrFifo,
          EINVAL },
        { "a FIFO without a writer", fifo, FileKinds::RegularFile, EINVAL },
        { "a socket", socketFile, FileKinds::RegularFileOrFifo, ENXIO },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QTemporaryDir folder;
        const QString path = c.make(folder.path());
        ASSERT_FALSE(path.isEmpty());
        const auto opened = platform::openOutsideFile(path, c.kinds);
        const auto read = opened ? platform::readBounded(opened->get(), kBound) : opened.error();
        if (c.error == 0) {
            ASSERT_TRUE(read) << qPrintable(read.error().reason);
            EXPECT_EQ(read->size(), c.bytes);
        } else {
            ASSERT_FALSE(read);
            EXPECT_EQ(read.error().error, c.error);
            EXPECT_FALSE(read.error().reason.isEmpty());
        }
    }
}

TEST(OutsideFile, AFifoIsOpenedAsAListWithoutWaitingForItsWriter)
{
    const QTemporaryDir folder;
    const QString path = fifo(folder.path());
    const auto opened = platform::openOutsideFile(path, FileKinds::RegularFileOrFifo);
    ASSERT_TRUE(opened) << qPrintable(opened.error().reason);
    QFile writer(path);
    ASSERT_TRUE(writer.open(QIODevice::WriteOnly));
    writer.write("10.0.0.1\n");
    writer.close();
    const auto read = platform::readBounded(opened->get(), kBound);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, QByteArray("10.0.0.1\n"));
}
