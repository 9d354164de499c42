// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/machine/MachineFacts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrel::machine;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

} // namespace

TEST(MachineFacts, CpuModelFromTheKeyEachArchitectureUses)
{
    const struct
    {
        const char* cpuInfo;
        const char* model;
    } cases[] = {
        { "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Core(TM) i7-8550U CPU @ 1.80GHz\n",
          "Intel(R) Core(TM) i7-8550U CPU @ 1.80GHz" },
        // The lower-case "processor" is the CPU's number, never its model.
        { "processor\t: 0\nProcessor\t: ARMv7 Processor rev 4 (v7l)\nHardware\t: BCM2835\n",
          "ARMv7 Processor rev 4 (v7l)" },
        { "processor\t: 0\nBogoMIPS\t: 108.00\n\nHardware\t: Raspberry Pi 4\n", "Raspberry Pi 4" },
        { "processor\t: 0\ncpu\t\t: POWER9 (raw), altivec supported\n", "POWER9 (raw), altivec supported" },
        { "processor\t: 0\nhart\t\t: 1\nisa\t\t: rv64imafdc\nuarch\t\t: sifive,u74-mc\n", "sifive,u74-mc" },
        { "processor\t: 0\nprocessor\t: 1\n", "" },
        { "", "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(cpuModelOf(c.cpuInfo), QString::fromUtf8(c.model)) << c.cpuInfo;
}

TEST(MachineFacts, FileSystemOfTheLongestMountPointThatHoldsThePath)
{
    const QByteArray mountInfo = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                                 "30 22 0:25 / /home rw shared:2 master:1 - btrfs /dev/sda2 rw\n"
                                 "31 30 0:26 / /home/user/My\\040Files rw - vfat /dev/sdb1 rw\n"
                                 "32 22 0:27 / /tmp rw - tmpfs tmpfs rw\n"
                                 "33 32 0:28 / /tmp rw - ramfs none rw\n"
                                 "34 22 0:29 / /homework rw - xfs /dev/sdc1 rw\n"
                                 "garbage line\n";
    const struct
    {
        const char* path;
        const char* type;
    } cases[] = {
        { "/etc", "ext4" },
        { "/", "ext4" },
        { "/home", "btrfs" },
        { "/home/user/doc", "btrfs" },
        { "/home/user/My Files/x", "vfat" },
        // Mounted over: the later mount hides the earlier one.
        { "/tmp/scratch", "ramfs" },
        { "/homework/a", "xfs" },
        // A mount point is a whole path component, not a prefix of a name.
        { "/homeworks", "ext4" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(fileSystemOf(QString::fromUtf8(c.path), mountInfo), QString::fromUtf8(c.type)) << c.path;
    EXPECT_EQ(fileSystemOf(QStringLiteral("/x"), "32 22 0:27 / /tmp rw - tmpfs tmpfs rw\n"), QString());
}

TEST(MachineFacts, ReadFromInjectedRootsWithFallbacksForMissingFiles)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString scratch = QFileInfo(root.path()).canonicalFilePath() + QStringLiteral("/scratch");
    QDir().mkpath(scratch);
    SystemRoots roots { root.filePath(QStringLiteral("proc")), root.filePath(QStringLiteral("sys")),
                        root.filePath(QStringLiteral("etc")) };
    writeFile(roots.proc + QStringLiteral("/cpuinfo"),
              "processor\t: 0\nmodel name\t: Test CPU 9000\n\nprocessor\t: 1\nmodel name\t: Test CPU 9000\n\n"
              "processor\t: 2\nmodel name\t: Test CPU 9000\n");
    writeFile(roots.proc + QStringLiteral("/meminfo"), "MemTotal:       16314516 kB\nMemFree:         1000 kB\n");
    writeFile(roots.proc + QStringLiteral("/sys/kernel/osrelease"), "6.1.0-99-amd64\n");
    writeFile(roots.etc + QStringLiteral("/os-release"),
              "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    writeFile(roots.sys + QStringLiteral("/devices/system/cpu/cpu0/cpufreq/scaling_governor"), "schedutil\n");
    writeFile(roots.proc + QStringLiteral("/self/mountinfo"),
              "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n30 22 0:25 / " + scratch.toUtf8() + " rw - fixturefs none rw\n");

    const MachineFacts facts = readMachineFacts(scratch, roots);
    EXPECT_EQ(facts.cpuModel, QStringLiteral("Test CPU 9000"));
    EXPECT_EQ(facts.logicalCpus, 3);
    EXPECT_EQ(facts.memoryBytes, 16314516LL * 1024);
    EXPECT_EQ(facts.kernel, QStringLiteral("6.1.0-99-amd64"));
    EXPECT_EQ(facts.os, QStringLiteral("Debian GNU/Linux 12 (bookworm)"));
    EXPECT_FALSE(facts.architecture.isEmpty());
    EXPECT_EQ(facts.governor, QStringLiteral("schedutil"));
    EXPECT_EQ(facts.fileSystem, QStringLiteral("fixturefs"));

    // Nothing readable: QSysInfo answers what it can, the rest stays empty.
    const MachineFacts bare
        = readMachineFacts(scratch,
                           SystemRoots { root.filePath(QStringLiteral("none")), root.filePath(QStringLiteral("none")),
                                         root.filePath(QStringLiteral("none")) });
    EXPECT_FALSE(bare.cpuModel.isEmpty());
    EXPECT_GE(bare.logicalCpus, 1);
    EXPECT_EQ(bare.memoryBytes, 0);
    EXPECT_FALSE(bare.kernel.isEmpty());
    EXPECT_TRUE(bare.governor.isEmpty());
    EXPECT_TRUE(bare.fileSystem.isEmpty());

    // A file that never ends in a file's place is read only up to the bound.
    const QString endless = root.filePath(QStringLiteral("endless"));
    ASSERT_TRUE(QDir().mkpath(endless));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), endless + QStringLiteral("/os-release")));
    EXPECT_EQ(readMachineFacts(scratch, SystemRoots { endless, endless, endless }).os, QSysInfo::prettyProductName());
}
