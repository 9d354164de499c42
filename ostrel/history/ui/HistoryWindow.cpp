// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/ui/HistoryWindow.h"

#include "ostrel/engine/Panel.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/history/ResultsDocument.h"
#include "ostrel/history/RunStatistics.h"
#include "ostrel/history/ui/CurvesChart.h"
#include "ostrel/history/ui/HistoryModel.h"
#include "platform/DateText.h"
#include "platform/ui/Alert.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace ostrel::history {

namespace {

// More points than a chart is wide in pixels show nothing more and cost time to draw.
constexpr int kMostChartPoints = 400;
constexpr int kFollowIntervalMs = 1000;

// Every stride-th run from the oldest, always with the newest; runs without the time or the value have no point.
QList<QPointF> chartPoints(const QList<RunRecord>& newestFirst, const std::function<double(const RunRecord&)>& value)
{
    QList<QPointF> shown;
    for (const RunRecord& run : newestFirst) {
        if (!std::isnan(run.finishedAt) && !std::isnan(value(run)))
            shown.append(QPointF(run.finishedAt * 1000.0, value(run)));
    }
    QList<QPointF> points;
    const qsizetype count = shown.size();
    const qsizetype stride = std::max<qsizetype>(1, (count + kMostChartPoints - 1) / kMostChartPoints);
    for (qsizetype i = count - 1; i >= 0; i -= stride)
        points.append(shown[i]);
    if (count > 0 && points.last() != shown.first())
        points.append(shown.first());
    return points;
}

// Empty for no value.
QString points(double score)
{
    return std::isnan(score) ? QString() : QString::number(score, 'f', 1);
}

QString seconds(const std::optional<double>& elapsed)
{
    return elapsed ? QString::number(*elapsed, 'f', 3) + QStringLiteral(" 秒") : QStringLiteral("—");
}

QStandardItem* cell(const QString& text, Qt::Alignment alignment = Qt::AlignRight | Qt::AlignVCenter)
{
    auto* item = new QStandardItem(text);
    item->setEditable(false);
    item->setTextAlignment(alignment);
    return item;
}

} // namespace

HistoryWindow::HistoryWindow(const QString& databasePath, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_store(databasePath)
    , m_model(new HistoryModel(this))
    , m_statusLine(new QLabel(this))
    , m_importButton(new QPushButton(QStringLiteral("导入…"), this))
    , m_chart(new QChart)
    , m_chartView(new QChartView(m_chart, this))
    , m_runsTable(new QTableView(this))
    , m_comparisonCaption(new QLabel(this))
    , m_comparisonTable(new QTableView(this))
    , m_comparisonModel(new QStandardItemModel(this))
    , m_curvesChart(new CurvesChart(this))
    , m_followTimer(new QTimer(this))
{
    setWindowTitle(QStringLiteral("Ostrel 历史"));
    resize(960, 720);

    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    m_statusLine->setWordWrap(true);
    m_statusLine->setAccessibleName(QStringLiteral("历史记录状态"));
    m_statusLine->hide();
    m_importButton->setObjectName(QStringLiteral("importButton"));
    m_importButton->setAccessibleName(QStringLiteral("导入其他机器的成绩"));
    m_importButton->setToolTip(QStringLiteral("打开另一台机器用 ostrel-cli --export 导出的成绩文件"));

    m_chartView->setObjectName(QStringLiteral("chartView"));
    m_chartView->setAccessibleName(QStringLiteral("成绩走势图"));
    m_chartView->setRenderHint(QPainter::Antialiasing);
    m_chartView->setMinimumHeight(240);
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->setMargins(QMargins(4, 4, 4, 4));

    m_runsTable->setObjectName(QStringLiteral("runsTable"));
    m_runsTable->setAccessibleName(QStringLiteral("测试记录"));
    m_runsTable->setModel(m_model);
    m_runsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_runsTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_runsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_runsTable->setWordWrap(false);
    m_runsTable->verticalHeader()->hide();
    // Fixed row heights and column widths: nothing has to measure ten thousand rows.
    m_runsTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_runsTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    const int digitWidth = fontMetrics().horizontalAdvance(QStringLiteral("100分")) + 24;
    m_runsTable->setColumnWidth(HistoryModel::MachineColumn, 200);
    m_runsTable->setColumnWidth(HistoryModel::TimeColumn,
                                fontMetrics().horizontalAdvance(QStringLiteral("2026年12月28日 23:59")) + 48);
    for (int column = HistoryModel::OverallColumn; column < HistoryModel::ChangeColumn; ++column)
        m_runsTable->setColumnWidth(
            column,
            std::max(digitWidth,
                     fontMetrics().horizontalAdvance(m_model->headerData(column, Qt::Horizontal).toString()) + 24));
    for (int column = HistoryModel::FirstExtendedColumn; column < m_model->columnCount(); ++column)
        m_runsTable->setColumnWidth(
            column, fontMetrics().horizontalAdvance(m_model->headerData(column, Qt::Horizontal).toString()) + 24);
    m_runsTable->horizontalHeader()->setStretchLastSection(true);
    m_runsTable->setColumnHidden(HistoryModel::MachineColumn, true);
    // Five runs stay in sight when the curves' pane opens below and the splitter makes room for it.
    m_runsTable->setMinimumHeight(m_runsTable->horizontalHeader()->sizeHint().height()
                                  + 5 * m_runsTable->verticalHeader()->defaultSectionSize()
                                  + m_runsTable->horizontalScrollBar()->sizeHint().height());

    m_comparisonCaption->setObjectName(QStringLiteral("comparisonCaption"));
    m_comparisonCaption->setWordWrap(true);
    m_comparisonTable->setObjectName(QStringLiteral("comparisonTable"));
    m_comparisonTable->setAccessibleName(QStringLiteral("两次测试逐项对比"));
    m_comparisonTable->setModel(m_comparisonModel);
    m_comparisonTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_comparisonTable->verticalHeader()->hide();
    m_comparisonTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_comparisonTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_comparisonTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    // Room for all six rows: five stages and the overall score.
    m_comparisonTable->setMinimumHeight(m_comparisonTable->horizontalHeader()->sizeHint().height()
                                        + 6 * m_comparisonTable->verticalHeader()->defaultSectionSize()
                                        + 2 * m_comparisonTable->frameWidth() + 2);
    m_comparisonModel->setHorizontalHeaderLabels(
        { QStringLiteral("项目"), QStringLiteral("A 成绩"), QStringLiteral("B 成绩"), QStringLiteral("分差"),
          QStringLiteral("A 用时"), QStringLiteral("B 用时"), QStringLiteral("用时比 A/B") });

    auto* topRow = new QHBoxLayout;
    topRow->addWidget(m_statusLine, 1);
    topRow->addStretch();
    topRow->addWidget(m_importButton);

    auto* comparison = new QWidget(this);
    auto* comparisonLayout = new QVBoxLayout(comparison);
    comparisonLayout->setContentsMargins(0, 0, 0, 0);
    comparisonLayout->addWidget(m_comparisonCaption);
    comparisonLayout->addWidget(m_comparisonTable);

    m_curvesChart->setObjectName(QStringLiteral("curvesChart"));
    m_curvesChart->setAccessibleName(QStringLiteral("选中测试的曲线"));

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_chartView);
    splitter->addWidget(m_runsTable);
    splitter->addWidget(comparison);
    splitter->addWidget(m_curvesChart);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 3);
    splitter->setStretchFactor(2, 2);
    splitter->setStretchFactor(3, 2);
    splitter->setChildrenCollapsible(false);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(topRow);
    layout->addWidget(splitter, 1);

    connect(m_importButton, &QPushButton::clicked, this, &HistoryWindow::chooseImportFile);
    connect(m_runsTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &HistoryWindow::updateComparison);
    connect(m_model, &QAbstractItemModel::modelReset, this, &HistoryWindow::updateComparison);
    connect(m_followTimer, &QTimer::timeout, this, &HistoryWindow::followDatabase);
    m_followTimer->setInterval(kFollowIntervalMs);

    m_model->setPalette(palette());
    reload();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::reload()
{
    // Learn the version first: a run committed while reading shows at the next look.
    m_seenVersion = m_store.dataVersion();
    Result<QList<RunRecord>> runs = m_store.runs();
    if (!runs) {
        m_statusLine->setText(QStringLiteral("无法读取历史记录。") + runs.error().message);
        m_statusLine->show();
        m_model->setLocalRuns({});
    } else {
        m_statusLine->hide();
        m_statusLine->clear();
        m_model->setLocalRuns(std::move(runs).value());
    }
    updateChart();
}

void HistoryWindow::followDatabase()
{
    const std::optional<qint64> version = m_store.dataVersion();
    if (version != m_seenVersion)
        reload();
}

void HistoryWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    followDatabase();
    m_followTimer->start();
}

void HistoryWindow::hideEvent(QHideEvent* event)
{
    m_followTimer->stop();
    QWidget::hideEvent(event);
}

void HistoryWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        m_model->setPalette(palette());
        updateChart();
    }
}

void HistoryWindow::chooseImportFile()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("导入成绩文件"), QDir::homePath(),
                                                      QStringLiteral("Ostrel 成绩文件 (*.json);;所有文件 (*)"));
    if (!path.isEmpty())
        importFile(path);
}

bool HistoryWindow::importFile(const QString& path)
{
    Result<ResultsDocument> document = readResultsFile(path);
    if (!document) {
        platform::ui::showAlert(QStringLiteral("无法导入这个文件"), document.error().message, this);
        return false;
    }
    QString label = document->machine.cpuModel.trimmed();
    if (label.isEmpty())
        label = QStringLiteral("另一台机器");
    m_model->setImportedRuns(label, std::move(document).value().runs);
    m_runsTable->setColumnHidden(HistoryModel::MachineColumn, false);
    updateChart();
    return true;
}

QString HistoryWindow::trendDescription(const QList<RunRecord>& newestFirst)
{
    if (newestFirst.isEmpty())
        return QStringLiteral("还没有测试记录");
    QString text = QStringLiteral("总分 %1 次测试").arg(newestFirst.size());
    if (std::isnan(newestFirst.first().overall))
        return text;
    text += QStringLiteral("，最近一次 %1").arg(scoreText(newestFirst.first().overall));
    if (newestFirst.size() < 2 || std::isnan(newestFirst[1].overall))
        return text;
    const double change = newestFirst[0].overall - newestFirst[1].overall;
    const double whole = std::trunc(std::fabs(change));
    if (!(whole >= 1.0))
        return text + QStringLiteral("，与上一次相差不到 1分");
    return text
        + (change > 0 ? QStringLiteral("，比上一次高 %1分") : QStringLiteral("，比上一次低 %1分"))
              .arg(QString::number(whole, 'f', 0));
}

void HistoryWindow::updateChart()
{
    m_chart->removeAllSeries();
    for (QAbstractAxis* axis : m_chart->axes()) {
        m_chart->removeAxis(axis);
        delete axis;
    }
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    m_chart->setTheme(dark ? QChart::ChartThemeDark : QChart::ChartThemeLight);
    m_chart->setBackgroundBrush(palette().brush(QPalette::Base));

    auto* timeAxis = new QDateTimeAxis;
    timeAxis->setFormat(QStringLiteral("yyyy-MM-dd"));
    timeAxis->setTitleText(QStringLiteral("时间"));
    auto* scoreAxis = new QValueAxis;
    scoreAxis->setTitleText(QStringLiteral("分"));
    scoreAxis->setLabelFormat(QStringLiteral("%.0f"));
    m_chart->addAxis(timeAxis, Qt::AlignBottom);
    m_chart->addAxis(scoreAxis, Qt::AlignLeft);

    double earliest = std::numeric_limits<double>::infinity();
    double latest = -std::numeric_limits<double>::infinity();
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -std::numeric_limits<double>::infinity();
    auto addSeries = [&](const QString& name, const QList<QPointF>& points, QPen pen) {
        auto* series = new QLineSeries;
        series->setName(name);
        series->replace(points);
        m_chart->addSeries(series);
        series->attachAxis(timeAxis);
        series->attachAxis(scoreAxis);
        series->setPen(pen);
        for (const QPointF& point : points) {
            earliest = std::min(earliest, point.x());
            latest = std::max(latest, point.x());
            lowest = std::min(lowest, point.y());
            highest = std::max(highest, point.y());
        }
    };

    // Stage colours fixed, so a stage keeps its colour whatever the theme does with the series order.
    static const QColor stageColors[] = { QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c),
                                          QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b) };
    const QColor overallColor = palette().color(QPalette::Text);
    const auto& all = m_model->series();
    const QList<RunRecord>& local = all.front().runs;
    if (!local.isEmpty()) {
        addSeries(QStringLiteral("总分"), chartPoints(local, [](const RunRecord& run) { return run.overall; }),
                  QPen(overallColor, 3));
        for (size_t stage = 0; stage < kTestKinds.size(); ++stage)
            addSeries(QString::fromUtf16(kTestKinds[stage].title),
                      chartPoints(local, [stage](const RunRecord& run) { return run.scores[stage]; }),
                      QPen(stageColors[stage], 1.5));
    }
    // Other machines: their overall score only, dashed, so the chart stays readable.
    static const QColor importedColors[]
        = { QColor(0xd6, 0x27, 0x28), QColor(0x17, 0xbe, 0xcf), QColor(0xbc, 0xbd, 0x22) };
    for (size_t i = 1; i < all.size(); ++i)
        addSeries(QStringLiteral("总分（%1）").arg(all[i].label),
                  chartPoints(all[i].runs, [](const RunRecord& run) { return run.overall; }),
                  QPen(importedColors[(i - 1) % std::size(importedColors)], 2.5, Qt::DashLine));

    if (earliest > latest) {
        const double now = double(QDateTime::currentSecsSinceEpoch()) * 1000.0;
        earliest = now - 86400000.0;
        latest = now;
    } else if (earliest == latest) {
        earliest -= 43200000.0;
        latest += 43200000.0;
    }
    timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(qint64(earliest)),
                       QDateTime::fromMSecsSinceEpoch(qint64(latest)));
    timeAxis->setTickCount(6);
    // Runs within a few days of each other need the hour to tell the ticks apart.
    constexpr double kFiveDays = 5 * 86400000.0;
    timeAxis->setFormat(latest - earliest < kFiveDays ? QStringLiteral("MM-dd HH:mm") : QStringLiteral("yyyy-MM-dd"));
    if (lowest > highest) {
        lowest = 0.0;
        highest = 100.0;
    }
    // The scores' own range with a little room, on whole ticks: a change of a point or two stays visible.
    const double step = highest - lowest <= 20.0 ? 5.0 : highest - lowest <= 50.0 ? 10.0 : 20.0;
    scoreAxis->setRange(std::floor((lowest - 1.0) / step) * step, std::ceil((highest + 1.0) / step) * step);
    scoreAxis->setTickType(QValueAxis::TicksDynamic);
    scoreAxis->setTickAnchor(0.0);
    scoreAxis->setTickInterval(step);

    m_chartView->setAccessibleDescription(trendDescription(local));
}

void HistoryWindow::updateComparison()
{
    QModelIndexList rows = m_runsTable->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    if (rows.size() == 1)
        m_curvesChart->setCurves(extendedCurves(m_model->runAt(rows[0].row()).extended));
    else if (rows.size() == 2)
        m_curvesChart->setCurves(extendedCurves(m_model->runAt(rows[0].row()).extended, QStringLiteral("A"))
                                 + extendedCurves(m_model->runAt(rows[1].row()).extended, QStringLiteral("B")));
    else
        m_curvesChart->setCurves({});
    m_comparisonModel->removeRows(0, m_comparisonModel->rowCount());
    if (rows.size() != 2) {
        m_comparisonCaption->setText(QStringLiteral("选中两次测试（按住 Ctrl 点选），可逐项比较成绩和用时。"));
        m_comparisonTable->setEnabled(false);
        return;
    }
    const RunRecord& a = m_model->runAt(rows[0].row());
    const RunRecord& b = m_model->runAt(rows[1].row());
    auto describe = [this](int row) {
        const RunRecord& run = m_model->runAt(row);
        QString text = finishedAtText(run.finishedAt);
        if (m_model->hasImports())
            text += QStringLiteral("（%1）").arg(m_model->machineLabelAt(row));
        return text;
    };
    m_comparisonCaption->setText(QStringLiteral("A：%1　B：%2").arg(describe(rows[0].row()), describe(rows[1].row())));

    for (const ComparisonRow& row : compareRuns(a, b)) {
        QStandardItem* difference = cell(HistoryModel::changeText(row.difference));
        if (difference->text().startsWith(QLatin1Char('+')))
            difference->setForeground(m_model->positiveColor());
        else if (difference->text().startsWith(QChar(0x2212)))
            difference->setForeground(m_model->negativeColor());
        m_comparisonModel->appendRow({
            cell(row.title, Qt::AlignLeft | Qt::AlignVCenter),
            cell(points(row.scoreA)),
            cell(points(row.scoreB)),
            difference,
            cell(seconds(row.elapsedA)),
            cell(seconds(row.elapsedB)),
            cell(row.elapsedRatio ? QString::number(*row.elapsedRatio, 'f', 3) : QStringLiteral("—")),
        });
    }
    // The extended tests' figures, when either run had them; their differences in the figure's own unit.
    const QString none = QStringLiteral("—");
    for (const ExtendedComparisonRow& row : compareExtended(a.extended, b.extended)) {
        const ExtendedFigure& figure = row.figure;
        QStandardItem* difference
            = cell(row.a && row.b ? HistoryModel::changeText(*row.a - *row.b, figure.decimals) : none);
        const bool up = difference->text().startsWith(QLatin1Char('+'));
        const bool down = difference->text().startsWith(QChar(0x2212));
        if (figure.better != Better::Neither && (up || down)) {
            const bool better = up == (figure.better == Better::Higher);
            difference->setForeground(better ? m_model->positiveColor() : m_model->negativeColor());
        }
        m_comparisonModel->appendRow({
            cell(figure.title, Qt::AlignLeft | Qt::AlignVCenter),
            cell(row.a ? figure.text(*row.a) : none),
            cell(row.b ? figure.text(*row.b) : none),
            difference,
            cell(none),
            cell(none),
            cell(none),
        });
    }
    m_comparisonTable->setEnabled(true);
}

} // namespace ostrel::history
