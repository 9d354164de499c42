// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/engine/FiveTests.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/RunControl.h"
#include "ostrel/engine/Workloads.h"
#include "ostrel/extended/ExtendedRun.h"
#include "ostrel/extended/disk/testing/FakeDiskTest.h"
#include "ostrel/extended/multicore/Multicore.h"
#include "ostrel/extended/testing/FakeExtendedTests.h"
#include "platform/Clock.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>

using namespace ostrel;

namespace {

// Each processor step takes one second on this clock.
class StepClock final : public platform::Clock
{
public:
    double now() const override { return double(seconds.load()); }
    std::atomic<long> seconds { 0 };
};

class SteppingWorkloads final : public Workloads
{
public:
    explicit SteppingWorkloads(StepClock& clock)
        : m_clock(clock)
    {
    }
    void integerStep() override { ++m_clock.seconds; }
    bool floatingPointStep(const std::atomic<bool>& stop) override { return ++m_clock.seconds, !stop.load(); }
    bool piComputation(const std::atomic<bool>& stop) override { return ++m_clock.seconds, !stop.load(); }
    bool memoryStep(const std::atomic<bool>&) override { return true; }
    QString diskPreparation() override { return {}; }
    DiskStatus diskStep(const QString&) override { return platform::Done {}; }
    void diskCleanup(const QString&) override { }

private:
    StepClock& m_clock;
};

DiskResult sampleDisk()
{
    DiskResult disk;
    disk.folder = QStringLiteral("/srv/scratch");
    disk.fileSystem = QStringLiteral("ext4");
    disk.fileBytes = 1024LL << 20;
    disk.seqRead.mbps = 2900.2;
    disk.seqWrite.mbps = 1234.4;
    disk.randRead = { 73.7, 18000.0 };
    disk.randWrite = { 8.21, 2004.0 };
    return disk;
}

class ExtendedRunTest : public ::testing::Test
{
protected:
    ExtendedRunTest()
    {
        panel.testingState.setText(QStringLiteral("已完成"));
        const auto direct = Qt::DirectConnection;
        QObject::connect(
            &panel.testingState, &platform::TextHolder::textChanged, &panel.testingState,
            [this](const QString& text) { add(&states, text); }, direct);
        QObject::connect(
            &panel.testingProgress, &platform::BarHolder::valueChanged, &panel.testingProgress,
            [this](double value) { add(&progress, value); }, direct);
        finished.elapsed = { 40.0, 30.0, 1.0, 2.0, 2.0 };
        disk.answer.result = sampleDisk();
    }

    template <class List, class Value> void add(List* list, const Value& value)
    {
        std::lock_guard lock(mutex);
        list->push_back(value);
    }

    ExtendedOutcome run()
    {
        // Each row's fake, the disk test's a copy of the fixture's.
        std::vector<PlannedTest> tests
            = planExtendedTests({ workloads, clock, 2, QString() },
                                ostrel::testing::FakeExtendedTests().instead<DiskResult>([&](const ExtendedSetup&) {
                                    return std::make_unique<disk::testing::FakeDiskTest>(disk);
                                }));
        return runExtendedTests({ panel, shown, control, tests,
                                  [&](const QString& key, bool begins) {
                                      // With how many states the pass had shown by then.
                                      measured << key + (begins ? QLatin1Char('+') : QLatin1Char('-'))
                                              + QString::number(states.size());
                                  } },
                                finished);
    }

    const MulticoreResult* multicore() const { return finished.extended.find<MulticoreResult>(); }
    const DiskResult* diskResult() const { return finished.extended.find<DiskResult>(); }
    ExtendedLine& line(const char* key) const { return *shown.lineOf(QLatin1String(key)); }

    std::mutex mutex;
    QStringList states;
    QStringList measured;
    std::vector<double> progress;
    Panel panel;
    ExtendedPanel shown;
    StepClock clock;
    SteppingWorkloads workloads { clock };
    RunControl control;
    disk::testing::FakeDiskTest disk;
    FinishedRun finished;
};

} // namespace

TEST_F(ExtendedRunTest, MulticoreThenDiskInTheirOwnPassThenTheRunsEndAgain)
{
    EXPECT_TRUE(line("multicore").line.isHidden());
    EXPECT_TRUE(run().problems.isEmpty());

    EXPECT_EQ(states,
              (QStringList { QStringLiteral("正在测试 多核 整数运算"), QStringLiteral("正在测试 多核 浮点运算"),
                             QStringLiteral("正在测试 多核 综合运算(Pi)"), QStringLiteral("正在测试 磁盘 顺序读取"),
                             QStringLiteral("正在测试 磁盘 顺序写入"), QStringLiteral("正在测试 磁盘 随机读取"),
                             QStringLiteral("正在测试 磁盘 随机写入"), QStringLiteral("正在测试 内存带宽"),
                             QStringLiteral("正在测试 内存延迟"), QStringLiteral("已完成") }));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0.0);
    EXPECT_EQ(progress.back(), 100.0);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    // Each test measured before its first state and after its last.
    EXPECT_EQ(measured,
              QStringList({ "multicore+0", "multicore-3", "disk+3", "disk-7", "memoryBandwidth+7", "memoryBandwidth-8",
                            "memoryLatency+8", "memoryLatency-9" }));

    // Two copies of 20 one-second steps on a shared clock: 40 s, the single run's time.
    ASSERT_TRUE(multicore());
    EXPECT_EQ(multicore()->elapsed, (std::array<double, 3> { 40.0, 40.0, 2.0 }));
    EXPECT_EQ(multicore()->speedup, (std::array<double, 3> { 2.0, 1.5, 1.0 }));
    EXPECT_EQ(line("multicore").line.text(), QStringLiteral("多核：2 线程，加速 1.44 倍"));
    EXPECT_FALSE(line("multicore").line.isHidden());
    EXPECT_EQ(line("multicore").details.text().split(QLatin1Char('\n')).constFirst(),
              QStringLiteral("整数运算：2 线程 40.00 秒，单线程 40.00 秒，加速 2.00 倍"));

    ASSERT_TRUE(diskResult());
    EXPECT_EQ(*diskResult(), sampleDisk());
    EXPECT_EQ(
        line("disk").line.text(),
        QStringLiteral(
            "磁盘：顺序读 2900 MB/s，顺序写 1234 MB/s，随机读 18000 IOPS（74 MB/s），随机写 2004 IOPS（8.2 MB/s）"));
    EXPECT_FALSE(line("disk").line.isHidden());
    EXPECT_TRUE(line("disk").details.text().contains(QStringLiteral("文件系统：ext4")));
    EXPECT_EQ(line("memoryBandwidth").line.text(), QStringLiteral("内存带宽：复制 12.3 GB/s，三元组 14.0 GB/s"));
    // The fake's 4 KiB-page point at 1 MiB had too little of the CPU: the line names it.
    EXPECT_EQ(line("memoryLatency").line.text(),
              QStringLiteral("内存延迟：L1 1.5 ns，L2 5.4 ns，L3 21 ns，内存 190 ns（干扰：4 KiB 页 1 MiB）"));
}

TEST_F(ExtendedRunTest, BufferedAndFailedDiskTestsSaySo)
{
    disk.answer.result->direct = false;
    run();
    EXPECT_TRUE(line("disk").line.text().endsWith(QStringLiteral("，经过缓存")))
        << qPrintable(line("disk").line.text());

    disk.answer = { std::nullopt, QStringLiteral("未找到 fio（Debian 软件包 fio）") };
    const ExtendedOutcome outcome = run();
    EXPECT_EQ(outcome.problems, QStringList { QStringLiteral("磁盘：未能测试，未找到 fio（Debian 软件包 fio）") });
    EXPECT_EQ(line("disk").line.text(), outcome.problems.constFirst());
    EXPECT_FALSE(diskResult());
    EXPECT_TRUE(multicore()) << "the multi-core result stands";
}

TEST_F(ExtendedRunTest, AStopDuringTheDiskTestWritesNothingMore)
{
    disk.atJob = [&](std::size_t job) {
        if (job == 2)
            control.requestStop();
    };
    const ExtendedOutcome outcome = run();
    EXPECT_TRUE(outcome.problems.isEmpty());
    EXPECT_TRUE(multicore());
    EXPECT_FALSE(diskResult());
    EXPECT_TRUE(line("disk").line.isHidden());
    EXPECT_EQ(states.constLast(), QStringLiteral("正在测试 磁盘 随机读取"));
    EXPECT_LT(progress.back(), 100.0);
    EXPECT_EQ(measured.constLast(), QStringLiteral("disk+3")) << "a test cut short is not measured at its end";
}

// Every row has a fake (FakeExtendedTests.cpp), or no test could run the table; each gives a result that its row
// writes and reads back as it was.
TEST_F(ExtendedRunTest, EveryRowHasAFakeWhoseResultItsRowReadsBack)
{
    class : public ExtendedProgress
    {
        void showState(const QString&) override { }
        void showStep(std::size_t, const std::function<double()>&) override { }
    } unseen;
    const std::atomic<bool> stop { false };
    for (const ExtendedKind& kind : extendedTests()) {
        SCOPED_TRACE(qPrintable(kind.key));
        const auto fake = ostrel::testing::fakeExtendedTest(kind, { workloads, clock, 2, QString() });
        ASSERT_TRUE(fake) << "no fake in FakeExtendedTests.cpp";
        const auto result = kind.run(*fake, finished, stop, unseen);
        ASSERT_TRUE(result) << qPrintable(result.error().message);
        EXPECT_EQ(result->test(), kind.key);
        const auto readBack = kind.fromJson(kind.toJson(*result));
        ASSERT_TRUE(readBack) << qPrintable(readBack.error().message);
        EXPECT_EQ(*readBack, *result);
    }
}
