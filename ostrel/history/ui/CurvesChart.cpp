// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/ui/CurvesChart.h"

#include "ostrel/extended/ExtendedTests.h"

#include <QCategoryAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <array>
#include <cmath>

namespace ostrel::history {

namespace {

// A unit shown scaled: seconds as ns when that is what they are, bytes in binary units.
struct Scale
{
    double factor;
    QString unit;
};

Scale yScale(const QString& unit, double largest)
{
    if (unit == QLatin1String("s")) {
        if (largest < 1e-6)
            return { 1e9, QStringLiteral("ns") };
        if (largest < 1e-3)
            return { 1e6, QStringLiteral("µs") };
        if (largest < 1.0)
            return { 1e3, QStringLiteral("ms") };
    }
    return { 1.0, unit };
}

// A power of two as its unit reads: "4 KiB", "256 MiB", "1 GiB" for bytes, the number otherwise.
QString powerOfTwoText(int exponent, const QString& unit)
{
    if (unit != QLatin1String("B"))
        return QString::number(std::ldexp(1.0, exponent), 'g', 6);
    static const std::array<const char*, 4> kUnits { "B", "KiB", "MiB", "GiB" };
    const int step = std::clamp(exponent / 10, 0, int(kUnits.size()) - 1);
    return QStringLiteral("%1 %2").arg(qint64(1) << (exponent - 10 * step)).arg(QLatin1String(kUnits[size_t(step)]));
}

} // namespace

CurvesChart::CurvesChart(QWidget* parent)
    : QChartView(new QChart, parent)
{
    setRenderHint(QPainter::Antialiasing);
    setMinimumHeight(200);
    chart()->legend()->setAlignment(Qt::AlignBottom);
    chart()->setMargins(QMargins(2, 2, 2, 2));
    hide();
}

void CurvesChart::setCurves(const QList<ResultCurve>& curves)
{
    if (curves == m_curves)
        return;
    m_curves = curves;
    redraw();
}

void CurvesChart::redraw()
{
    QChart& chart = *this->chart();
    chart.removeAllSeries();
    for (QAbstractAxis* axis : chart.axes()) {
        chart.removeAxis(axis);
        delete axis;
    }
    setVisible(!m_curves.isEmpty());
    if (m_curves.isEmpty())
        return;
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    chart.setTheme(dark ? QChart::ChartThemeDark : QChart::ChartThemeLight);
    chart.setBackgroundBrush(palette().brush(QPalette::Base));

    // The first curve's axes count; curves of another unit are not drawn beside it.
    const ResultCurve& first = m_curves.constFirst();
    double largest = 0.0;
    for (const ResultCurve& curve : m_curves) {
        for (const CurvePoint& point : curve.points)
            largest = std::max(largest, std::abs(point.y));
    }
    const Scale y = yScale(first.yUnit, largest);

    QAbstractAxis* xAxis = nullptr;
    double left = std::numeric_limits<double>::infinity();
    double right = -left;
    double top = 0.0;
    double bottom = std::numeric_limits<double>::infinity();
    for (const ResultCurve& curve : m_curves) {
        for (const CurvePoint& point : curve.points) {
            const double x = first.logarithmicX ? std::log2(point.x) : point.x;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::max(top, point.y * y.factor);
            bottom = std::min(bottom, point.y * y.factor);
        }
    }
    // Values over more than a factor of 20 (1.5 ns in L1, 190 ns in memory) on a logarithmic axis, where each step
    // of the curve shows; others from zero.
    QAbstractAxis* yAxis = nullptr;
    if (bottom > 0.0 && top / bottom > 20.0) {
        auto* axis = new QLogValueAxis;
        axis->setBase(10.0);
        axis->setLabelFormat(QStringLiteral("%g"));
        axis->setRange(std::pow(10.0, std::floor(std::log10(bottom))), std::pow(10.0, std::ceil(std::log10(top))));
        axis->setMinorTickCount(8);
        yAxis = axis;
    } else {
        auto* axis = new QValueAxis;
        axis->setLabelFormat(QStringLiteral("%.0f"));
        axis->setRange(0.0, top > 0.0 ? top * 1.05 : 1.0);
        axis->applyNiceNumbers();
        yAxis = axis;
    }
    yAxis->setTitleText(QStringLiteral("%1（%2）").arg(first.yTitle, y.unit));
    if (left > right) {
        left = 0.0;
        right = 1.0;
    }
    if (first.logarithmicX) {
        // Labels at powers of two, at most about five of them, the widest ("256 MiB") side by side.
        auto* axis = new QCategoryAxis;
        axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
        const int from = int(std::floor(left));
        const int to = int(std::ceil(right));
        const int step = std::max(1, (to - from + 4) / 5);
        for (int exponent = from; exponent <= to; exponent += step)
            axis->append(powerOfTwoText(exponent, first.xUnit), exponent);
        // Half a step of room on each side, so that the end labels are not cut.
        axis->setRange(from - 0.5, to + 0.5);
        xAxis = axis;
    } else {
        auto* axis = new QValueAxis;
        axis->setRange(left, right);
        xAxis = axis;
    }
    xAxis->setTitleText(first.xUnit == QLatin1String("B") || first.xUnit.isEmpty()
                            ? first.xTitle
                            : QStringLiteral("%1（%2）").arg(first.xTitle, first.xUnit));
    chart.addAxis(xAxis, Qt::AlignBottom);
    chart.addAxis(yAxis, Qt::AlignLeft);

    for (const ResultCurve& curve : m_curves) {
        if (curve.xUnit != first.xUnit || curve.yUnit != first.yUnit || curve.logarithmicX != first.logarithmicX)
            continue;
        auto* line = new QLineSeries;
        line->setName(curve.name);
        line->setPointsVisible(true);
        auto* disturbed = new QScatterSeries;
        disturbed->setName(curve.name + QStringLiteral("（受干扰）"));
        for (const CurvePoint& point : curve.points) {
            const QPointF at((first.logarithmicX ? std::log2(point.x) : point.x), point.y * y.factor);
            line->append(at);
            if (point.disturbed)
                disturbed->append(at);
        }
        chart.addSeries(line);
        line->attachAxis(xAxis);
        line->attachAxis(yAxis);
        if (disturbed->count() == 0) {
            delete disturbed;
            continue;
        }
        // Hollow: the line's colour around the chart's background.
        disturbed->setMarkerSize(9.0);
        disturbed->setPen(QPen(line->color(), 2.0));
        disturbed->setBrush(chart.backgroundBrush());
        chart.addSeries(disturbed);
        disturbed->attachAxis(xAxis);
        disturbed->attachAxis(yAxis);
        for (QLegendMarker* marker : chart.legend()->markers(disturbed))
            marker->setVisible(false);
    }
}

QList<ResultCurve> extendedCurves(const ExtendedResults& results, const QString& label)
{
    QList<ResultCurve> curves;
    for (const ExtendedKind& kind : extendedTests()) {
        const ExtendedResults::Entry* entry = results.find(kind.key);
        if (!entry)
            continue;
        for (ResultCurve curve : kind.curves(*entry)) {
            if (!label.isEmpty())
                curve.name = label + QStringLiteral(" · ") + curve.name;
            curves << curve;
        }
    }
    return curves;
}

} // namespace ostrel::history
