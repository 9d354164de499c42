// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/history/HistoryStore.h"

#include <QString>
#include <QWidget>
#include <memory>
#include <optional>

class QChart;
class QChartView;
class QItemSelection;
class QLabel;
class QPushButton;
class QStandardItemModel;
class QTableView;
class QTimer;

namespace ostrel::history {

class CurvesChart;
class HistoryModel;

// The history window, "Ostrel 历史": a chart of the overall and stage scores over time, the runs newest first
// with their change against the run before, the two selected runs side by side, and runs imported from another
// machine's results document beside this machine's.
//
// The application keeps one. While it is shown it follows the database: a run written by the window's worker or
// by ostrel-cli appears within a second; reload() shows it at once.
class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    explicit HistoryWindow(const QString& databasePath = HistoryStore::defaultPath(), QWidget* parent = nullptr);
    ~HistoryWindow() override;

    HistoryModel& model() const { return *m_model; }

    // Reads a results document (ostrel-cli --export) and shows its runs as another machine, labelled with its CPU
    // model; they are never written to this machine's history. A bad file gets an alert; returns whether the
    // runs were added.
    bool importFile(const QString& path);

    // What the chart's accessible description says: "总分 12 次测试，最近一次 80分，比上一次高 1分".
    static QString trendDescription(const QList<RunRecord>& newestFirst);

public slots:
    // Reads this machine's runs again.
    void reload();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void chooseImportFile();
    void followDatabase();
    void updateChart();
    void updateComparison();

    HistoryStore m_store;
    std::optional<qint64> m_seenVersion;
    HistoryModel* m_model;
    QLabel* m_statusLine;
    QPushButton* m_importButton;
    QChart* m_chart;
    QChartView* m_chartView;
    QTableView* m_runsTable;
    QLabel* m_comparisonCaption;
    QTableView* m_comparisonTable;
    QStandardItemModel* m_comparisonModel;
    // The selected run's curves, or both runs' when two are selected.
    CurvesChart* m_curvesChart;
    QTimer* m_followTimer;
};

} // namespace ostrel::history
