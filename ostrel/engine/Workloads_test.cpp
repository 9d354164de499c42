// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/engine/PayloadText.h"
#include "ostrel/engine/WorkloadLoops.h"
#include "ostrel/engine/Workloads.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ostrel;

namespace {

// The same loops as the shipped workloads, with hooks that count.
struct CountingProbe : loops::NoProbe
{
    std::uint64_t iterations = 0;
    std::uint64_t piPasses = 0;
    std::uint32_t lastSubtracted = 0;
    std::uint64_t objects = 0;
    std::uint64_t wrongTexts = 0;
    std::uint64_t writes = 0;
    std::uint64_t failedWrites = 0;
    QList<QByteArray> reads;
    std::uint64_t failedReads = 0;

    void iteration() { ++iterations; }
    void piPass(std::uint32_t subtracted)
    {
        ++piPasses;
        lastSubtracted = subtracted;
    }
    void made(const QString& text)
    {
        // A full check of every object would take longer than the step.
        if (objects++ % 65536 == 0
            && (text.size() != qsizetype(kPayloadLength)
                || text.constData() == reinterpret_cast<const QChar*>(kPayloadText)
                || text != QString::fromUtf16(kPayloadText)))
            ++wrongTexts;
    }
    void written(bool succeeded)
    {
        ++writes;
        failedWrites += !succeeded;
    }
    void read(const QByteArray& contents, bool succeeded)
    {
        reads << contents;
        failedReads += !succeeded;
    }
};

QByteArray payloadUtf8()
{
    return QString::fromUtf16(kPayloadText).toUtf8();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

} // namespace

TEST(PayloadText, LengthsAndCharacterMix)
{
    const QString text = QString::fromUtf16(kPayloadText);
    EXPECT_EQ(text.size(), 1677);
    EXPECT_EQ(text.size() * 2, 3354);
    EXPECT_EQ(text.toUtf8().size(), 4547);
    int ascii = 0;
    int wide = 0;
    for (QChar c : text) {
        ascii += c.unicode() < 0x80;
        wide += c.unicode() >= 0x800 && !c.isSurrogate();
    }
    EXPECT_EQ(ascii, 242);
    EXPECT_EQ(wide, 1435);
}

TEST(ProcessorWorkloads, CountsOfTheShippedLoops)
{
    CountingProbe integer;
    EXPECT_EQ(loops::integerLoop(integer), 85899345u);
    EXPECT_EQ(integer.iterations, 85899345u);
    EXPECT_EQ(workloads::integerStep(), 85899345u);

    const std::atomic<bool> never { false };
    CountingProbe floating;
    const loops::FloatingPointOutcome outcome = loops::floatingPointLoop(never, floating);
    const double x = outcome.sum;
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(floating.iterations, 85899346u);
    EXPECT_GT(x, 85899.345);
    EXPECT_NEAR(x, 85899.34597, 1e-4);
    EXPECT_EQ(workloads::floatingPointStep(never), x) << "the shipped step adds exactly as the counted loop";
}

TEST(ProcessorWorkloads, PiSeries)
{
    const std::atomic<bool> never { false };
    CountingProbe probe;
    const loops::PiOutcome outcome = loops::piLoop(never, probe);
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(probe.piPasses, 536870912u);
    EXPECT_EQ(probe.lastSubtracted, 2147483647u);
    EXPECT_EQ(outcome.denominator, 2147483649u);
    EXPECT_GT(outcome.sum, 0.785398);
    EXPECT_LT(outcome.sum, 0.785399);
}

TEST(ProcessorWorkloads, LongLoopsEndEarlyWhenAskedToStop)
{
    const std::atomic<bool> stop { true };
    CountingProbe floating;
    EXPECT_FALSE(loops::floatingPointLoop(stop, floating).completed);
    EXPECT_EQ(floating.iterations, loops::kFloatingPointAdditionsPerStopCheck);
    EXPECT_LT(workloads::floatingPointStep(stop), loops::kFloatingPointBound);

    CountingProbe pi;
    const loops::PiOutcome outcome = loops::piLoop(stop, pi);
    EXPECT_FALSE(outcome.completed);
    EXPECT_EQ(pi.piPasses, loops::kPiPassesPerStopCheck);
    EXPECT_FALSE(workloads::piComputation(stop));

    CountingProbe memory;
    EXPECT_FALSE(loops::memoryLoop(stop, memory));
    EXPECT_EQ(memory.objects, loops::kMemoryCyclesPerStopCheck);
    EXPECT_FALSE(workloads::memoryStep(stop));
}

TEST(MemoryWorkload, OneStepMakesTwoAndAHalfMillionCopies)
{
    const std::atomic<bool> never { false };
    CountingProbe probe;
    EXPECT_TRUE(loops::memoryLoop(never, probe));
    EXPECT_EQ(probe.objects, 2500000u);
    EXPECT_EQ(probe.wrongTexts, 0u);
    EXPECT_TRUE(workloads::memoryStep(never));
}

class DiskWorkload : public ::testing::Test
{
protected:
    QString path() const { return dir.filePath(QStringLiteral("temp.txt")); }
    QByteArray nativePath() const { return QFile::encodeName(path()); }
    QTemporaryDir dir;
};

TEST_F(DiskWorkload, FiveHundredCyclesOfRemoveWriteRead)
{
    CountingProbe probe;
    EXPECT_EQ(loops::diskLoop(nativePath().constData(), probe), 0);
    EXPECT_EQ(probe.writes, 500u);
    EXPECT_EQ(probe.failedWrites, 0u);
    ASSERT_EQ(probe.reads.size(), 500);
    EXPECT_EQ(probe.failedReads, 0u);
    const QByteArray expected = payloadUtf8();
    for (const QByteArray& contents : probe.reads)
        ASSERT_EQ(contents, expected);
    EXPECT_EQ(readFile(path()), expected);
    EXPECT_EQ(expected.size(), 4547);
    EXPECT_FALSE(expected.startsWith("\xEF\xBB\xBF")) << "no byte-order mark";

    MachineWorkloads machine(dir.path(), dir.filePath(QStringLiteral("cache")));
    machine.diskCleanup(path());
    EXPECT_FALSE(QFileInfo::exists(path()));
}

// Writes past a file-size limit fail with EFBIG once SIGXFSZ is ignored: a
// full disk without a full disk. The limit is this process's, so it is
// lifted again before anything else writes.
class FileSizeLimit
{
public:
    FileSizeLimit()
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }
    void lowerTo(rlim_t bytes)
    {
        struct rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }

private:
    struct rlimit m_saved
    {
    };
    void (*m_savedHandler)(int) = nullptr;
};

// Counts like CountingProbe, and lowers the limit once `cyclesBeforeFull`
// cycles have written.
struct FillingProbe : CountingProbe
{
    FileSizeLimit* limit = nullptr;
    std::uint64_t cyclesBeforeFull = 0;
    void written(bool succeeded)
    {
        CountingProbe::written(succeeded);
        if (writes == cyclesBeforeFull)
            limit->lowerTo(1000);
    }
};

TEST_F(DiskWorkload, CyclesThatCannotWriteAreFailuresAndTheFileStillGoes)
{
    for (const std::uint64_t cyclesBeforeFull : { 0u, 250u, 499u }) {
        SCOPED_TRACE(cyclesBeforeFull);
        FileSizeLimit limit;
        FillingProbe probe;
        probe.limit = &limit;
        probe.cyclesBeforeFull = cyclesBeforeFull;
        if (cyclesBeforeFull == 0)
            limit.lowerTo(1000);
        EXPECT_EQ(loops::diskLoop(nativePath().constData(), probe), EFBIG);
        EXPECT_EQ(probe.writes, 500u) << "the work stays the same";
        EXPECT_EQ(probe.failedWrites, 500u - cyclesBeforeFull);

        MachineWorkloads machine(dir.path(), dir.filePath(QStringLiteral("cache")));
        machine.diskCleanup(path());
        EXPECT_FALSE(QFileInfo::exists(path()));
    }
    // The shipped step reports the same, and a read of something that is
    // no file is a failure too.
    {
        FileSizeLimit limit;
        limit.lowerTo(4546);
        EXPECT_EQ(workloads::diskStep(nativePath().constData()), EFBIG);
    }
    EXPECT_EQ(workloads::diskStep(nativePath().constData()), 0);
    QByteArray contents;
    EXPECT_EQ(loops::readWhole(QFile::encodeName(dir.path()).constData(), contents), EISDIR);
}

TEST_F(DiskWorkload, AStageLeavesNoFileAndReplacesALeftoverOne)
{
    writeFile(path(), QByteArray(10000, 'x'));
    struct stat before
    {
    };
    ASSERT_EQ(::stat(nativePath().constData(), &before), 0);

    MachineWorkloads machine(dir.path(), dir.filePath(QStringLiteral("cache")));
    const QString scratch = machine.diskPreparation();
    EXPECT_EQ(scratch, path());
    EXPECT_TRUE(machine.diskStep(scratch));
    EXPECT_EQ(readFile(path()), payloadUtf8()) << "the leftover was removed, not appended to";
    EXPECT_TRUE(machine.diskStep(scratch));
    machine.diskCleanup(scratch);
    EXPECT_FALSE(QFileInfo::exists(path()));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("cache"))));
}

TEST_F(DiskWorkload, APlantedLinkNeverRedirectsTheWrites)
{
    const QString victim = dir.filePath(QStringLiteral("victim.txt"));
    writeFile(victim, "precious");
    ASSERT_TRUE(QFile::link(victim, path()));

    // Even without the removal that starts each cycle, a write refuses the link.
    EXPECT_EQ(loops::writeInPlace(nativePath().constData(), payloadUtf8()), ELOOP);
    QByteArray contents;
    EXPECT_EQ(loops::readWhole(nativePath().constData(), contents), ELOOP);
    EXPECT_EQ(readFile(victim), QByteArray("precious"));

    EXPECT_EQ(workloads::diskStep(nativePath().constData()), 0);
    EXPECT_EQ(readFile(victim), QByteArray("precious"));
    EXPECT_FALSE(QFileInfo(path()).isSymLink());
    EXPECT_EQ(readFile(path()), payloadUtf8());
}

TEST_F(DiskWorkload, AnUnwritableFolderFallsBackToTheCache)
{
    // A folder below a regular file can never be written, not even by root.
    writeFile(dir.filePath(QStringLiteral("plain")), "x");
    const QString unwritable = dir.filePath(QStringLiteral("plain/bin"));
    const QString cache = dir.filePath(QStringLiteral("cache/ostrel"));

    MachineWorkloads machine(unwritable, cache);
    const QString scratch = machine.diskPreparation();
    EXPECT_EQ(scratch, cache + QStringLiteral("/temp.txt"));
    EXPECT_TRUE(QFileInfo(cache).isDir());

    CountingProbe probe;
    loops::diskLoop(QFile::encodeName(scratch).constData(), probe);
    EXPECT_EQ(probe.failedWrites, 0u) << "the disk stage measures real writes";
    machine.diskCleanup(scratch);
    EXPECT_FALSE(QFileInfo::exists(scratch));

    // A folder without write permission, for users other than root.
    const QString locked = dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
    const QString expected
        = ::geteuid() == 0 ? locked + QStringLiteral("/temp.txt") : cache + QStringLiteral("/temp.txt");
    EXPECT_EQ(scratchPath(locked, cache), expected);
    ::chmod(QFile::encodeName(locked).constData(), 0755);
}

// An installed program never writes beside itself, not even as root, who
// may; a build tree keeps its scratch file beside the program.
TEST_F(DiskWorkload, AnInstalledProgramKeepsItsScratchFileInTheCache)
{
    const QString cache = dir.filePath(QStringLiteral("cache"));
    const QString build = dir.filePath(QStringLiteral("build/usr/bin"));
    ASSERT_TRUE(QDir().mkpath(build));
    const QString linkToUsr = dir.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/usr/bin"), linkToUsr));
    const struct
    {
        QString executableDir;
        bool beside;
    } cases[] = {
        { QStringLiteral("/usr/bin"), false },
        { QStringLiteral("/usr/local/bin"), false },
        { QStringLiteral("/usr"), false },
        { QStringLiteral("/opt/ostrel/bin"), false },
        { QStringLiteral("/usr/bin/../bin"), false },
        { linkToUsr, false },
        { build, true },
        { dir.path(), true },
    };
    for (const auto& c : cases) {
        const QString folder = c.beside ? c.executableDir : cache;
        EXPECT_EQ(scratchPath(c.executableDir, cache), QDir(folder).filePath(QStringLiteral("temp.txt")))
            << qPrintable(c.executableDir);
    }
}

// What a killed run left goes at the next run: only this user's regular
// file, only one older than the run.
TEST_F(DiskWorkload, TheNextRunRemovesALeftScratchFile)
{
    writeFile(path(), "left");
    removeLeftScratchFile(dir.path(), std::chrono::system_clock::now() - std::chrono::hours(1));
    EXPECT_TRUE(QFileInfo::exists(path())) << "newer than the run";
    removeLeftScratchFile(dir.path(), std::chrono::system_clock::now() + std::chrono::minutes(1));
    EXPECT_FALSE(QFileInfo::exists(path()));

    const QString victim = dir.filePath(QStringLiteral("victim.txt"));
    writeFile(victim, "precious");
    ASSERT_TRUE(QFile::link(victim, path()));
    removeLeftScratchFile(dir.path(), std::chrono::system_clock::now() + std::chrono::minutes(1));
    EXPECT_TRUE(QFileInfo(path()).isSymLink()) << "a link is no file of this program's";
    EXPECT_EQ(readFile(victim), QByteArray("precious"));
}

// The workloads' speed must not move with unrelated code: each shipped loop
// sits in a function of its own that starts on a cache line.
TEST(WorkloadLayout, EachShippedWorkloadStartsOnACacheLine)
{
    const std::uintptr_t starts[] = {
        reinterpret_cast<std::uintptr_t>(&workloads::integerStep),
        reinterpret_cast<std::uintptr_t>(&workloads::floatingPointStep),
        reinterpret_cast<std::uintptr_t>(&workloads::piComputation),
        reinterpret_cast<std::uintptr_t>(&workloads::memoryStep),
        reinterpret_cast<std::uintptr_t>(&workloads::diskStep),
    };
    for (std::uintptr_t start : starts)
        EXPECT_EQ(start % 64, 0u);
}
