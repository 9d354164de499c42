// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/ui/HistoryModel.h"

#include "ostrel/engine/Panel.h"
#include "ostrel/engine/Scores.h"
#include "platform/DateText.h"

#include <QApplication>
#include <QStyle>
#include <cmath>
#include <limits>

namespace ostrel::history {

namespace {

const QString kThisMachine = QStringLiteral("本机");

// Empty for no value.
QString shownScore(double score)
{
    return std::isnan(score) ? QString() : scoreText(score);
}

QStringList conditionTexts(const RunRecord& run)
{
    QStringList texts;
    for (const QString& key : run.conditions)
        texts << skewConditionText(key);
    // Then the tests other work disturbed while they ran.
    return texts + interferenceLines(run);
}

// What lies behind an extended column's figure, as its test tells it.
QString extendedToolTip(const ExtendedFigure& figure, const RunRecord& run)
{
    const ExtendedKind* kind = findExtendedTest(figure.test);
    const ExtendedResults::Entry* result = run.extended.find(figure.test);
    return kind && result ? kind->historyTip(*result) : QString();
}

} // namespace

HistoryModel::HistoryModel(QObject* parent)
    : QAbstractTableModel(parent)
    , m_conditionIcon(QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning))
{
    m_series.push_back(Series { kThisMachine, {}, {} });
    for (const ExtendedFigure& figure : extendedFigures()) {
        if (figure.listed)
            m_extendedColumns.push_back(figure);
    }
    setPalette(QApplication::palette());
}

const ExtendedFigure& HistoryModel::extendedFigureAt(int column) const
{
    return m_extendedColumns[column - FirstExtendedColumn];
}

void HistoryModel::setLocalRuns(QList<RunRecord> runs)
{
    beginResetModel();
    m_series.front().runs = std::move(runs);
    m_series.front().timeTexts.assign(size_t(m_series.front().runs.size()), QString());
    endResetModel();
}

void HistoryModel::setImportedRuns(const QString& label, QList<RunRecord> runs)
{
    beginResetModel();
    auto existing = std::find_if(m_series.begin() + 1, m_series.end(),
                                 [&](const Series& series) { return series.label == label; });
    if (existing == m_series.end())
        existing = m_series.insert(m_series.end(), Series { label, {}, {} });
    existing->runs = std::move(runs);
    existing->timeTexts.assign(size_t(existing->runs.size()), QString());
    endResetModel();
}

void HistoryModel::setPalette(const QPalette& palette)
{
    // A plain green and red, darker on a light window and lighter on a dark one, so both keep their contrast.
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    m_positive = dark ? QColor(0x56, 0xd3, 0x64) : QColor(0x1a, 0x7f, 0x37);
    m_negative = dark ? QColor(0xff, 0x7b, 0x72) : QColor(0xcf, 0x22, 0x2e);
    if (rowCount() > 0)
        emit dataChanged(index(0, ChangeColumn), index(rowCount() - 1, ChangeColumn), { Qt::ForegroundRole });
}

QString HistoryModel::changeText(double change, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(change * scale) / scale;
    if (std::isnan(rounded))
        return QString();
    if (rounded == 0.0 || !std::isfinite(rounded))
        return QString::number(0.0, 'f', decimals);
    const QString magnitude = QString::number(std::fabs(rounded), 'f', decimals);
    return (rounded > 0 ? QStringLiteral("+") : QStringLiteral("\u2212")) + magnitude;
}

int HistoryModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    qsizetype rows = 0;
    for (const Series& series : m_series)
        rows += series.runs.size();
    return int(rows);
}

int HistoryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : FirstExtendedColumn + int(m_extendedColumns.size());
}

HistoryModel::Position HistoryModel::positionOf(int row) const
{
    for (const Series& series : m_series) {
        if (row < series.runs.size())
            return { &series, row };
        row -= int(series.runs.size());
    }
    return { nullptr, -1 };
}

const RunRecord& HistoryModel::runAt(int row) const
{
    const Position position = positionOf(row);
    return position.series->runs[position.index];
}

const QString& HistoryModel::machineLabelAt(int row) const
{
    return positionOf(row).series->label;
}

QString HistoryModel::timeText(const Position& position) const
{
    QString& text = position.series->timeTexts[size_t(position.index)];
    if (text.isEmpty())
        text = finishedAtText(position.series->runs[position.index].finishedAt);
    return text;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Position position = positionOf(index.row());
    const RunRecord& run = position.series->runs[position.index];
    // No change to show beside an overall score that has no value, or after one.
    const double change = position.index + 1 < position.series->runs.size()
        ? run.overall - position.series->runs[position.index + 1].overall
        : std::numeric_limits<double>::quiet_NaN();
    const bool hasPrevious = !std::isnan(change);
    const int column = index.column();

    switch (role) {
    case Qt::DisplayRole:
        if (column == MachineColumn)
            return position.series->label;
        if (column == TimeColumn)
            return timeText(position);
        if (column == OverallColumn)
            return shownScore(run.overall);
        if (column >= FirstStageColumn && column < ChangeColumn)
            return shownScore(run.scores[size_t(column - FirstStageColumn)]);
        if (column == ChangeColumn)
            return hasPrevious ? changeText(change) : QString();
        if (column >= FirstExtendedColumn) {
            const ExtendedFigure& figure = extendedFigureAt(column);
            const std::optional<double> value = figure.of(run.extended);
            return value ? figure.text(*value) : QString();
        }
        break;
    case Qt::AccessibleTextRole:
        if (column == TimeColumn && (!run.conditions.isEmpty() || !disturbedTests(run).isEmpty()))
            return timeText(position) + QStringLiteral("，") + conditionTexts(run).join(QString());
        if (column == ChangeColumn && hasPrevious)
            return QStringLiteral("比上一次") + changeText(change).replace(QChar(0x2212), QLatin1Char('-'))
                + QStringLiteral("分");
        break;
    case Qt::DecorationRole:
        if (column == TimeColumn && (!run.conditions.isEmpty() || !disturbedTests(run).isEmpty()))
            return m_conditionIcon;
        break;
    case Qt::ToolTipRole:
        if (column == TimeColumn && (!run.conditions.isEmpty() || !disturbedTests(run).isEmpty()))
            return conditionTexts(run).join(QLatin1Char('\n'));
        if (column >= FirstExtendedColumn) {
            const QString tip = extendedToolTip(extendedFigureAt(column), run);
            return tip.isEmpty() ? QVariant() : QVariant(tip);
        }
        break;
    case Qt::ForegroundRole:
        if (column == ChangeColumn && hasPrevious) {
            const QString text = changeText(change);
            if (text.startsWith(QLatin1Char('+')))
                return m_positive;
            if (text.startsWith(QChar(0x2212)))
                return m_negative;
        }
        break;
    case Qt::TextAlignmentRole:
        if (column >= OverallColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    default:
        break;
    }
    return {};
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case MachineColumn:
        return QStringLiteral("机器");
    case TimeColumn:
        return QStringLiteral("时间");
    case OverallColumn:
        return QStringLiteral("总分");
    case ChangeColumn:
        return QStringLiteral("变化");
    default:
        if (section >= FirstExtendedColumn && section < columnCount())
            return extendedFigureAt(section).title;
        if (section >= FirstStageColumn && section < ChangeColumn)
            return QString::fromUtf16(kTestKinds[size_t(section - FirstStageColumn)].title);
        return {};
    }
}

} // namespace ostrel::history
