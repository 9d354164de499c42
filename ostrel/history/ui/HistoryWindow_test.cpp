// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/ResultsDocument.h"
#include "ostrel/history/ui/CurvesChart.h"
#include "ostrel/history/ui/HistoryModel.h"
#include "ostrel/history/ui/HistoryWindow.h"
#include "ostrel/testing/SampleRuns.h"
#include "platform/DateText.h"
#include "platform/ui/Alert.h"

#include <QChart>
#include <QChartView>
#include <QFile>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace ostrel::history;

namespace {

RunRecord run(double finishedAt, double overall, QStringList conditions = {})
{
    RunRecord run;
    run.finishedAt = finishedAt;
    run.overall = overall;
    run.scores = { overall + 1, overall - 1, overall + 2, overall - 2, overall };
    run.elapsed = { 2.0, 2.2, 1.6, 2.4, 2.0 };
    run.version = QStringLiteral("1.0.0");
    run.machine.cpuModel = QStringLiteral("This CPU");
    run.conditions = std::move(conditions);
    return run;
}

constexpr double kDay = 86400.0;
constexpr double kStart = 1780000000.0;

class HistoryWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        HistoryStore store(databasePath());
        // The middle run's floating-point test was disturbed by other work.
        RunRecord disturbed = run(kStart + kDay, 81.2);
        disturbed.interference[QStringLiteral("double")].cpuWait = 0.5;
        disturbed.interference[QStringLiteral("int")].cpuWait = 0.01;
        ASSERT_TRUE(store.append(
            QList<RunRecord> { run(kStart, 80.0), disturbed, run(kStart + 2 * kDay, 77.85, { "busy", "battery" }) }));
    }

    QString databasePath() const { return dir.filePath(QStringLiteral("history.sqlite")); }

    template <typename T> T* child(HistoryWindow& window, const char* name)
    {
        T* found = window.findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    QString text(const QAbstractItemModel& model, int row, int column, int role = Qt::DisplayRole)
    {
        return model.data(model.index(row, column), role).toString();
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(HistoryWindowTest, TableShowsRunsNewestFirstWithTheirChanges)
{
    HistoryWindow window(databasePath());
    const HistoryModel& model = window.model();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Ostrel 历史"));
    ASSERT_EQ(model.rowCount(), 3);

    EXPECT_EQ(text(model, 0, HistoryModel::TimeColumn), platform::mediumDateShortTime(kStart + 2 * kDay));
    EXPECT_EQ(text(model, 2, HistoryModel::TimeColumn), platform::mediumDateShortTime(kStart));
    EXPECT_EQ(text(model, 0, HistoryModel::OverallColumn), QStringLiteral("77分"));
    EXPECT_EQ(text(model, 0, HistoryModel::FirstStageColumn), QStringLiteral("78分"));
    EXPECT_EQ(text(model, 0, HistoryModel::FirstStageColumn + 3), QStringLiteral("75分"));
    EXPECT_EQ(model.headerData(HistoryModel::FirstStageColumn + 2, Qt::Horizontal).toString(), "综合运算(Pi)");

    // Each change against the run before it; the oldest has none.
    EXPECT_EQ(text(model, 0, HistoryModel::ChangeColumn), QStringLiteral("\u22123.4"));
    EXPECT_EQ(text(model, 1, HistoryModel::ChangeColumn), QStringLiteral("+1.2"));
    EXPECT_EQ(text(model, 2, HistoryModel::ChangeColumn), QString());
    EXPECT_EQ(model.data(model.index(0, HistoryModel::ChangeColumn), Qt::ForegroundRole).value<QColor>(),
              model.negativeColor());
    EXPECT_EQ(model.data(model.index(1, HistoryModel::ChangeColumn), Qt::ForegroundRole).value<QColor>(),
              model.positiveColor());
    EXPECT_NE(model.positiveColor(), model.negativeColor());

    // The runs with skew conditions or a disturbed test are marked, and say which.
    EXPECT_FALSE(model.data(model.index(0, HistoryModel::TimeColumn), Qt::DecorationRole).isNull());
    EXPECT_FALSE(model.data(model.index(1, HistoryModel::TimeColumn), Qt::DecorationRole).isNull());
    EXPECT_TRUE(model.data(model.index(2, HistoryModel::TimeColumn), Qt::DecorationRole).isNull());
    EXPECT_EQ(text(model, 1, HistoryModel::TimeColumn, Qt::ToolTipRole),
              QStringLiteral("干扰：浮点运算 等待处理器 50%"));
    EXPECT_EQ(text(model, 0, HistoryModel::TimeColumn, Qt::ToolTipRole),
              QStringLiteral("其他程序正在占用处理器，成绩可能偏低。\n正在使用电池供电，成绩可能偏低。"));
    EXPECT_TRUE(text(model, 0, HistoryModel::TimeColumn, Qt::AccessibleTextRole).contains("正在使用电池供电"));

    // The chart: the overall score and the five stages, with the trend read out.
    auto* chartView = child<QChartView>(window, "chartView");
    ASSERT_TRUE(chartView);
    EXPECT_EQ(chartView->chart()->series().size(), 6);
    EXPECT_EQ(chartView->accessibleDescription(), QStringLiteral("总分 3 次测试，最近一次 77分，比上一次低 3分"));
    auto* table = child<QTableView>(window, "runsTable");
    ASSERT_TRUE(table);
    EXPECT_TRUE(table->isColumnHidden(HistoryModel::MachineColumn)) << "one machine only";
    for (QWidget* named :
         std::initializer_list<QWidget*> { table, chartView, child<QPushButton>(window, "importButton"),
                                           child<QTableView>(window, "comparisonTable") })
        EXPECT_FALSE(named->accessibleName().isEmpty()) << named->objectName().toStdString();
}

TEST_F(HistoryWindowTest, FollowsRunsWrittenElsewhere)
{
    HistoryWindow window(databasePath());
    window.show();
    HistoryStore writer(databasePath());
    ASSERT_TRUE(writer.append(run(kStart + 3 * kDay, 90.0)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.model().rowCount() == 4; }, 5000));
    EXPECT_EQ(text(window.model(), 0, HistoryModel::ChangeColumn), QStringLiteral("+12.2"));

    ASSERT_TRUE(writer.append(run(kStart + 4 * kDay, 91.0)));
    window.reload();
    EXPECT_EQ(window.model().rowCount(), 5);
}

TEST_F(HistoryWindowTest, TwoSelectedRunsSideBySide)
{
    HistoryWindow window(databasePath());
    auto* table = child<QTableView>(window, "runsTable");
    auto* comparison = child<QTableView>(window, "comparisonTable");
    auto* caption = child<QLabel>(window, "comparisonCaption");
    ASSERT_TRUE(table && comparison && caption);
    const QAbstractItemModel& rows = *comparison->model();
    EXPECT_EQ(rows.rowCount(), 0);

    auto select = [&](int row) {
        table->selectionModel()->select(window.model().index(row, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    select(2);
    select(0);
    ASSERT_EQ(rows.rowCount(), 6);
    EXPECT_TRUE(caption->text().startsWith(QStringLiteral("A：") + platform::mediumDateShortTime(kStart + 2 * kDay)))
        << "the upper row is A whatever the order of selection";
    const struct
    {
        const char16_t* title;
        const char* a;
        const char* b;
        const char* difference;
    } expected[] = {
        { u"整数运算", "78.8", "81.0", "\u22122.2" },     { u"浮点运算", "76.8", "79.0", "\u22122.2" },
        { u"综合运算(Pi)", "79.8", "82.0", "\u22122.2" }, { u"内存读写", "75.8", "78.0", "\u22122.2" },
        { u"磁盘读写", "77.8", "80.0", "\u22122.2" },     { u"总分", "77.8", "80.0", "\u22122.2" },
    };
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(text(rows, row, 0), QString::fromUtf16(expected[row].title));
        EXPECT_EQ(text(rows, row, 1), QString::fromUtf8(expected[row].a)) << row;
        EXPECT_EQ(text(rows, row, 2), QString::fromUtf8(expected[row].b)) << row;
        EXPECT_EQ(text(rows, row, 3), QString::fromUtf8(expected[row].difference)) << row;
    }
    EXPECT_EQ(text(rows, 0, 4), QStringLiteral("2.000 秒"));
    EXPECT_EQ(text(rows, 5, 5), QStringLiteral("10.200 秒"));
    EXPECT_EQ(text(rows, 5, 6), QStringLiteral("1.000"));

    select(1);
    EXPECT_EQ(rows.rowCount(), 0) << "three runs are not a pair";
}

TEST_F(HistoryWindowTest, ExtendedResultsInTheirOwnColumnsAndSideBySide)
{
    RunRecord extended = ostrel::history::testing::sampleExtendedRun(kStart + 3 * kDay, 82.0);
    extended.extended.find<ostrel::DiskResult>()->direct = false;
    {
        HistoryStore store(databasePath());
        ASSERT_TRUE(store.append(extended));
    }
    HistoryWindow window(databasePath());
    const HistoryModel& model = window.model();
    ASSERT_EQ(model.rowCount(), 4);
    const int first = HistoryModel::FirstExtendedColumn;
    ASSERT_EQ(model.columnCount(), first + 7);
    const char16_t* headers[] = { u"多核加速",    u"顺序读 MB/s", u"顺序写 MB/s", u"随机读 IOPS",
                                  u"随机写 IOPS", u"三元组 GB/s", u"内存延迟 ns" };
    const char* values[] = { "1.96", "2903.5", "1187.3", "18097", "15015", "13.5", "190.0" };
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(model.headerData(first + i, Qt::Horizontal).toString(), QString::fromUtf16(headers[i]));
        EXPECT_EQ(text(model, 0, first + i), QString::fromUtf8(values[i])) << i;
        EXPECT_EQ(text(model, 1, first + i), QString()) << "a run without the extended tests";
    }
    EXPECT_EQ(text(model, 0, HistoryModel::ChangeColumn), QStringLiteral("+4.4")) << "the old columns stay";
    EXPECT_EQ(text(model, 0, first, Qt::ToolTipRole),
              QStringLiteral("2 线程：整数运算 1.98 倍，浮点运算 1.93 倍，综合运算(Pi) 1.97 倍"));
    EXPECT_EQ(text(model, 0, first + 1, Qt::ToolTipRole),
              QStringLiteral("/srv/scratch, \"fast\"（ext4），测试文件 1024 MiB，经过缓存"));
    EXPECT_TRUE(model.data(model.index(1, first), Qt::ToolTipRole).isNull());

    auto* table = child<QTableView>(window, "runsTable");
    auto* comparison = child<QTableView>(window, "comparisonTable");
    ASSERT_TRUE(table && comparison);
    for (int row : { 0, 1 })
        table->selectionModel()->select(model.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QAbstractItemModel& rows = *comparison->model();
    ASSERT_EQ(rows.rowCount(), 6 + 8 + 6 + 4 + 5) << "the five tests and the overall score, then the extended figures";
    EXPECT_EQ(text(rows, 6, 0), QStringLiteral("多核线程数"));
    EXPECT_EQ(text(rows, 6, 1), QStringLiteral("2"));
    EXPECT_EQ(text(rows, 6, 2), QStringLiteral("—"));
    EXPECT_EQ(text(rows, 6, 3), QStringLiteral("—"));
    EXPECT_EQ(text(rows, 13, 0), QStringLiteral("多核加速"));
    EXPECT_EQ(text(rows, 14, 0), QStringLiteral("顺序读 MB/s"));
    EXPECT_EQ(text(rows, 14, 1), QStringLiteral("2903.5"));

    // Below, the runs' curves: A's two as it was kept, named as A's; B has none. One run selected: its own.
    auto* curves = child<CurvesChart>(window, "curvesChart");
    ASSERT_TRUE(curves);
    const QList<ostrel::ResultCurve> kept = ostrel::findExtendedTest(QStringLiteral("memoryLatency"))
                                                ->curves(*extended.extended.find(QStringLiteral("memoryLatency")));
    ASSERT_EQ(kept.size(), 2);
    ASSERT_EQ(curves->curves().size(), 2);
    EXPECT_EQ(curves->curves()[1].name, QStringLiteral("A · 4 KiB 页"));
    EXPECT_EQ(curves->curves()[1].points, kept[1].points);
    EXPECT_FALSE(curves->isHidden());
    table->selectionModel()->select(model.index(0, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    EXPECT_TRUE(curves->isHidden()) << "the selected run has no curves";
    table->selectionModel()->select(model.index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(curves->curves(), kept);
}

TEST_F(HistoryWindowTest, ImportShowsAnotherMachineApartAndRefusesBadFiles)
{
    HistoryWindow window(databasePath());
    platform::ui::AlertRecorder alerts;

    ResultsDocument other;
    other.machine.cpuModel = QStringLiteral("Other CPU 7");
    other.runs = { run(kStart + 0.5 * kDay, 60.0), run(kStart + 1.5 * kDay, 65.5) };
    const QString good = dir.filePath(QStringLiteral("other.json"));
    ASSERT_TRUE(writeResultsFile(good, other));
    ASSERT_TRUE(window.importFile(good));
    EXPECT_TRUE(alerts.alerts().isEmpty());

    const HistoryModel& model = window.model();
    ASSERT_EQ(model.rowCount(), 5);
    EXPECT_EQ(text(model, 0, HistoryModel::MachineColumn), QStringLiteral("本机"));
    EXPECT_EQ(text(model, 3, HistoryModel::MachineColumn), QStringLiteral("Other CPU 7"));
    EXPECT_EQ(text(model, 3, HistoryModel::OverallColumn), QStringLiteral("65分"));
    EXPECT_EQ(text(model, 3, HistoryModel::ChangeColumn), QStringLiteral("+5.5")) << "against its own machine only";
    EXPECT_EQ(text(model, 2, HistoryModel::ChangeColumn), QString());
    EXPECT_EQ(text(model, 4, HistoryModel::ChangeColumn), QString());
    EXPECT_FALSE(child<QTableView>(window, "runsTable")->isColumnHidden(HistoryModel::MachineColumn));
    EXPECT_EQ(child<QChartView>(window, "chartView")->chart()->series().size(), 7);

    // Never written into this machine's history, and kept across a reload.
    EXPECT_EQ(HistoryStore(databasePath()).runs()->size(), 3);
    window.reload();
    EXPECT_EQ(model.rowCount(), 5);

    const QString bad = dir.filePath(QStringLiteral("bad.json"));
    {
        QFile file(bad);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"format": "ostrel-results", "version": 9, "machine": {}, "runs": []})");
    }
    // One impossible value refuses the whole file.
    const QString impossible = dir.filePath(QStringLiteral("impossible.json"));
    ResultsDocument withImpossible = other;
    withImpossible.runs[1].scores[4] = 1e308;
    ASSERT_TRUE(writeResultsFile(impossible, withImpossible));
    alerts.clear();
    EXPECT_FALSE(window.importFile(impossible));
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_TRUE(
        alerts.alerts().first().informativeText.endsWith(QStringLiteral("的“disk”成绩 1e+308 不在 0 到 100 之间")))
        << qPrintable(alerts.alerts().first().informativeText);
    for (const QString& path : { bad, dir.filePath(QStringLiteral("missing.json")) }) {
        alerts.clear();
        EXPECT_FALSE(window.importFile(path));
        ASSERT_EQ(alerts.alerts().size(), 1) << path.toStdString();
        EXPECT_EQ(alerts.alerts().first().messageText, QStringLiteral("无法导入这个文件"));
        EXPECT_FALSE(alerts.alerts().first().informativeText.isEmpty());
        EXPECT_EQ(alerts.alerts().first().window, &window);
    }
    EXPECT_EQ(model.rowCount(), 5);
}

// What no run could have written shows as no value, never as a number, and draws no point.
TEST_F(HistoryWindowTest, ImpossibleValuesInTheHistoryShowAsNoValue)
{
    RunRecord impossible = run(kStart + 3 * kDay, 250.0);
    impossible.scores[0] = 75.0;
    impossible.scores[1] = std::numeric_limits<double>::infinity();
    impossible.scores[2] = 99.0; // above the 92 its 1.6 s allow
    impossible.scores[3] = 70.0;
    impossible.scores[4] = 70.0;
    RunRecord future = run(kStart + 9999 * kDay, 70.0);
    ASSERT_TRUE(HistoryStore(databasePath()).append({ impossible, future }));

    HistoryWindow window(databasePath());
    const HistoryModel& model = window.model();
    ASSERT_EQ(model.rowCount(), 5);
    EXPECT_EQ(text(model, 0, HistoryModel::TimeColumn), QString()) << "finished far in the future";
    EXPECT_EQ(text(model, 0, HistoryModel::OverallColumn), QStringLiteral("70分"));
    EXPECT_EQ(text(model, 1, HistoryModel::TimeColumn), platform::mediumDateShortTime(kStart + 3 * kDay));
    const QStringList shown { text(model, 1, HistoryModel::OverallColumn),
                              text(model, 1, HistoryModel::FirstStageColumn),
                              text(model, 1, HistoryModel::FirstStageColumn + 1),
                              text(model, 1, HistoryModel::FirstStageColumn + 2),
                              text(model, 1, HistoryModel::FirstStageColumn + 3) };
    EXPECT_EQ(shown, (QStringList { "", "75分", "", "", "70分" }));
    EXPECT_EQ(text(model, 0, HistoryModel::ChangeColumn), QString()) << "after an overall score of no value";
    EXPECT_EQ(text(model, 1, HistoryModel::ChangeColumn), QString());
    for (QAbstractSeries* series : child<QChartView>(window, "chartView")->chart()->series()) {
        for (const QPointF& point : static_cast<QLineSeries*>(series)->points())
            EXPECT_LT(point.x(), (kStart + 4 * kDay) * 1000.0) << series->name().toStdString();
        EXPECT_LE(static_cast<QLineSeries*>(series)->count(), 4) << series->name().toStdString();
    }
}

TEST_F(HistoryWindowTest, UnreadableHistoryIsSaidInTheWindow)
{
    const QString corrupt = dir.filePath(QStringLiteral("corrupt.sqlite"));
    {
        QFile file(corrupt);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    HistoryWindow window(corrupt);
    window.show();
    auto* status = child<QLabel>(window, "statusLine");
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->isVisible());
    EXPECT_TRUE(status->text().contains(QStringLiteral("已损坏"))) << status->text().toStdString();
    EXPECT_EQ(window.model().rowCount(), 0);
}

TEST(HistoryWindowTexts, TrendAndChange)
{
    auto runs = [](std::initializer_list<double> newestFirst) {
        QList<RunRecord> list;
        for (double overall : newestFirst)
            list << run(0, overall);
        return list;
    };
    const struct
    {
        QList<RunRecord> runs;
        const char16_t* text;
    } trends[] = {
        { {}, u"还没有测试记录" },
        { runs({ 80.4 }), u"总分 1 次测试，最近一次 80分" },
        { runs({ 80.9, 79.4, 70 }), u"总分 3 次测试，最近一次 80分，比上一次高 1分" },
        { runs({ 77.0, 79.7 }), u"总分 2 次测试，最近一次 77分，比上一次低 2分" },
        { runs({ 80.0, 80.6 }), u"总分 2 次测试，最近一次 80分，与上一次相差不到 1分" },
    };
    for (const auto& trend : trends)
        EXPECT_EQ(HistoryWindow::trendDescription(trend.runs), QString::fromUtf16(trend.text));

    const struct
    {
        double change;
        const char* text;
    } changes[] = { { 1.23, "+1.2" }, { -3.44, "\u22123.4" }, { 0.04, "0.0" }, { -0.04, "0.0" }, { 12.0, "+12.0" } };
    for (const auto& change : changes)
        EXPECT_EQ(HistoryModel::changeText(change.change), QString::fromUtf8(change.text)) << change.change;
    EXPECT_EQ(HistoryModel::changeText(-0.126, 2), QStringLiteral("\u22120.13"));
    EXPECT_EQ(HistoryModel::changeText(1500.4, 0), QStringLiteral("+1500"));
    EXPECT_EQ(HistoryModel::changeText(0.004, 2), QStringLiteral("0.00"));
}
