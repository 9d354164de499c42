// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/history/RunRecord.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>
#include <QList>
#include <QPalette>
#include <vector>

namespace ostrel::history {

// The runs of the history window as table rows: this machine's runs newest first, then the runs of each imported
// machine newest first. Each run's change is against the run before it of the same machine. Dates are formatted
// only when a row is shown, so ten thousand runs cost little.
class HistoryModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        MachineColumn,
        TimeColumn,
        OverallColumn,
        FirstStageColumn,
        ChangeColumn = FirstStageColumn + 5,
        // Then one column per listed extended figure (ExtendedFigure::listed), empty for runs without that test.
        FirstExtendedColumn
    };

    explicit HistoryModel(QObject* parent = nullptr);

    // This machine's runs, newest first.
    void setLocalRuns(QList<RunRecord> runs);
    // Adds an imported machine's runs (newest first) under a label, or replaces those of an earlier import with the
    // same label.
    void setImportedRuns(const QString& label, QList<RunRecord> runs);
    bool hasImports() const { return m_series.size() > 1; }

    const QList<RunRecord>& localRuns() const { return m_series.front().runs; }
    // Every machine: this one first (label "本机"), then the imported ones.
    struct Series
    {
        QString label;
        QList<RunRecord> runs;
        mutable std::vector<QString> timeTexts;
    };
    const std::vector<Series>& series() const { return m_series; }

    const RunRecord& runAt(int row) const;
    const QString& machineLabelAt(int row) const;

    // Colours of a rise and a fall that read on the palette's window colour.
    void setPalette(const QPalette& palette);
    QColor positiveColor() const { return m_positive; }
    QColor negativeColor() const { return m_negative; }

    // "+1.2", "−3.4" (U+2212), "0.0": the change in points, one decimal unless told otherwise;
    // empty for no value.
    static QString changeText(double change, int decimals = 1);

    // The extended figure shown in a column from FirstExtendedColumn on.
    const ExtendedFigure& extendedFigureAt(int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Position
    {
        const Series* series;
        int index;
    };
    Position positionOf(int row) const;
    QString timeText(const Position& position) const;

    std::vector<Series> m_series;
    QList<ExtendedFigure> m_extendedColumns;
    QColor m_positive;
    QColor m_negative;
    QIcon m_conditionIcon;
};

} // namespace ostrel::history
