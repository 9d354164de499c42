// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/app/MainInterface.h"

#include "ostrel/app/AppDelegate.h"
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/history/ui/CurvesChart.h"
#include "ui_OstrelWindow.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

namespace ostrel {

namespace {

// The run's progress and state come and go; the row keeps its height so
// the window does not jump when they do.
void keepPlaceWhenHidden(QWidget* widget)
{
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

// One line per extended test, in the table's order, hidden until its test ran, each with a chart of its result's
// curves below it, hidden while there are none.
struct ExtendedOutlets
{
    QList<QPointer<QLabel>> lines;
    QList<QPointer<history::CurvesChart>> charts;
};

ExtendedOutlets extendedOutlets(QVBoxLayout& layout)
{
    ExtendedOutlets outlets;
    for (const ExtendedKind& kind : extendedTests()) {
        auto* line = new QLabel;
        line->setObjectName(kind.key + QStringLiteral("Line"));
        line->setAccessibleDescription(kind.name + QStringLiteral("测试结果"));
        line->setTextFormat(Qt::PlainText);
        line->setWordWrap(true);
        line->setVisible(false);
        layout.addWidget(line);
        outlets.lines << line;
        auto* chart = new history::CurvesChart;
        chart->setObjectName(kind.key + QStringLiteral("Chart"));
        chart->setAccessibleName(kind.name + QStringLiteral("曲线"));
        layout.addWidget(chart);
        outlets.charts << chart;
    }
    return outlets;
}

} // namespace

MainInterface::MainInterface(QApplication& app)
    : MainInterface(app, std::make_unique<OLTesting>())
{
}

MainInterface::MainInterface(QApplication& app, std::unique_ptr<OLTesting> testing)
    : m_window(std::make_unique<QMainWindow>())
    , m_ui(std::make_unique<Ui::OstrelWindow>())
    , m_testing(std::move(testing))
    , m_delegate(std::make_unique<AppDelegate>())
{
    m_ui->setupUi(m_window.get());
    m_window->setWindowIcon(QIcon::fromTheme(QStringLiteral("io.github.ostrel.Ostrel"),
                                             QIcon(QStringLiteral(":/icons/io.github.ostrel.Ostrel.svg"))));
    keepPlaceWhenHidden(m_ui->testingProgress);
    keepPlaceWhenHidden(m_ui->testingState);
    m_ui->extendedTests->setText(extendedTestsTitle());
    m_ui->extendedTests->setAccessibleDescription(extendedTestsDescription());

    m_delegate->setWindow(m_window.get());
    m_delegate->setApp(&app);
    m_window->installEventFilter(m_delegate.get());

    const Ui::OstrelWindow& ui = *m_ui;
    const ExtendedOutlets extended = extendedOutlets(*ui.extendedLines);
    m_testing->setOutlets({
        ui.intScoreProgress, ui.intScoreLabel,     ui.doubleScoreProgress, ui.doubleScoreLabel,
        ui.piScoreProgress,  ui.piScoreLabel,      ui.memoryScoreProgress, ui.memoryScoreLabel,
        ui.diskScoreLabel,   ui.diskScoreProgress, ui.allScoreLabel,       ui.allScoreProgress,
        ui.lastTime,         ui.testingProgress,   ui.testingState,        ui.share,
        ui.skewWarning,      ui.history,           ui.extendedTests,       ui.diskFolder,
        extended.lines,      extended.charts,
    });
    QPushButton* start = ui.startButton;
    QObject::connect(start, &QPushButton::clicked, m_testing.get(), [this, start] { m_testing->test(start); });

    m_testing->awakeFromNib();
}

MainInterface::~MainInterface() = default;

QPushButton& MainInterface::startButton()
{
    return *m_ui->startButton;
}

} // namespace ostrel
