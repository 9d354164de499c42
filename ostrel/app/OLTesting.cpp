// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/app/OLTesting.h"

#include "ostrel/app/RunThread.h"
#include "ostrel/engine/RunControl.h"
#include "ostrel/engine/RunLock.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/engine/Workloads.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/ui/CurvesChart.h"
#include "ostrel/history/ui/HistoryWindow.h"
#include "ostrel/run/RunProblem.h"
#include "ostrel/run/RunSession.h"
#include "platform/Doorbell.h"
#include "platform/ui/Alert.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <cmath>
#include <cstdio>
#include <type_traits>

namespace ostrel {

namespace {

// Qt grows a window only to its least height, at which a chart that just appeared squeezes the rows below it onto
// each other: the window grows to the height its rows ask for.
void growToShowWhole(QWidget* window)
{
    if (!window || !window->isWindow() || !window->layout())
        return;
    window->layout()->activate();
    const int wanted = window->sizeHint().height();
    if (window->height() < wanted)
        window->resize(window->width(), wanted);
}

const QString kStartTitle = QStringLiteral("开始测试");
const QString kStopTitle = QStringLiteral("停止测试");

// The holder keeps the double; the bar only draws it, scaled to its own
// integer range.
int drawnValue(const platform::BarHolder& holder, double value, const QProgressBar& bar)
{
    const double span = holder.maximum() - holder.minimum();
    const double fraction = span > 0.0 ? (value - holder.minimum()) / span : 0.0;
    return bar.minimum() + int(std::lround(fraction * (bar.maximum() - bar.minimum())));
}

void draw(const platform::BarHolder& holder, QProgressBar* bar)
{
    if (!bar)
        return;
    bar->setValue(drawnValue(holder, holder.value(), *bar));
    bar->setVisible(!holder.isHidden());
}

void draw(const platform::TextHolder& holder, QLabel* label)
{
    if (!label)
        return;
    const QString text = holder.text();
    // The label gets a buffer of its own, so the holder's text is only ever
    // shared between threads by code built with this program.
    if (label->text() != text)
        label->setText(QString(text.constData(), text.size()));
    label->setVisible(!holder.isHidden());
}

// A choice of the window that could not be kept; the reason goes where the saved results' problems go.
void reportUnkeptChoice(const WindowSettings& settings, const platform::Status<platform::FileWriteError>& written)
{
    if (!written) {
        std::fprintf(stderr, "ostrel: the window's settings could not be written to %s: %s\n",
                     qPrintable(settings.fileName()), qPrintable(written.error().reason));
    }
}

} // namespace

OLTesting::OLTesting(QObject* parent)
    : OLTesting(
        platform::UserDefaults::pathFor(saved::kApplication),
        [] { return std::make_unique<MachineWorkloads>(MachineWorkloads::forThisApplication()); }, parent)
{
}

OLTesting::OLTesting(const QString& defaultsPath, WorkloadsFactory makeWorkloads, QObject* parent)
    : QObject(parent)
    , m_defaults(defaultsPath)
    , m_makeWorkloads(std::move(makeWorkloads))
    , m_sharing(SharingServices::desktop())
    , m_windowSettings(WindowSettings::pathBeside(defaultsPath))
    , m_chooseFolder([](QWidget* parent, const QString& start) {
        return QFileDialog::getExistingDirectory(parent, QStringLiteral("磁盘测试位置"), start);
    })
    , m_historyPath(history::HistoryStore::defaultPath())
    , m_runLockPath(RunLock::defaultPath())
    , m_thread(std::make_unique<RunThread>())
{
    m_skewWarning.setHidden(true);
}

void OLTesting::setHistory(QString databasePath, machine::SkewProbe skewProbe)
{
    m_historyPath = std::move(databasePath);
    m_skewProbe = std::move(skewProbe);
}

void OLTesting::showHistory()
{
    if (!m_historyWindow)
        m_historyWindow = std::make_unique<history::HistoryWindow>(m_historyPath);
    m_historyWindow->show();
    m_historyWindow->raise();
    m_historyWindow->activateWindow();
}

OLTesting::~OLTesting()
{
    // Ask every run to stop first so that they wind down together.
    m_thread->cancel();
    for (const auto& retired : m_retired)
        retired->cancel();
    m_thread->stopAndWait();
    for (const auto& retired : m_retired)
        retired->stopAndWait();
}

void OLTesting::awakeFromNib()
{
    saved::registerFallbacks(m_defaults);
    // Unreadable results show as none; the reason goes where a user who
    // started the window from a terminal can find it.
    if (const std::optional<run::RunProblem> unreadable = run::savedResultsProblem(m_defaults))
        std::fprintf(stderr, "ostrel: %s\n", qPrintable(unreadable->message));
    for (const TestKind& kind : kTestKinds) {
        showScore(m_panel.*kind.scoreProgress, m_panel.*kind.scoreLabel,
                  saved::score(m_defaults, QString::fromLatin1(kind.key)));
    }
    showOverallScore(m_panel);
    m_panel.lastTime.setText(lastRunLine(saved::lastTime(m_defaults)));
    showPanelInOutlets();
    // On mouse-down: the picker opens while the button is still held.
    connect(m_outlets.share, &QAbstractButton::pressed, this, [this] { share(m_outlets.share); });
    if (m_outlets.history)
        connect(m_outlets.history, &QAbstractButton::clicked, this, &OLTesting::showHistory);
    if (m_outlets.extendedTests) {
        m_outlets.extendedTests->setChecked(m_windowSettings.extendedTests());
        connect(m_outlets.extendedTests, &QAbstractButton::toggled, this, [this](bool on) {
            reportUnkeptChoice(m_windowSettings, m_windowSettings.setExtendedTests(on));
            showDiskFolder();
        });
    }
    if (m_outlets.diskFolder)
        connect(m_outlets.diskFolder, &QAbstractButton::clicked, this, &OLTesting::chooseDiskFolder);
    showDiskFolder();
}

QLabel* OLTesting::extendedLine(const QString& key) const
{
    for (size_t i = 0; i < m_extended.lines.size() && i < size_t(m_outlets.extendedLines.size()); ++i) {
        if (m_extended.lines[i]->kind->key == key)
            return m_outlets.extendedLines[qsizetype(i)];
    }
    return nullptr;
}

void OLTesting::chooseDiskFolder()
{
    QWidget* window = m_outlets.diskFolder ? m_outlets.diskFolder->window() : nullptr;
    const QString chosen = m_windowSettings.diskFolder();
    const QString folder = m_chooseFolder(window, chosen.isEmpty() ? QDir::homePath() : chosen);
    if (folder.isEmpty())
        return;
    reportUnkeptChoice(m_windowSettings, m_windowSettings.setDiskFolder(folder));
    showDiskFolder();
}

// The folder button goes with the check box; it names its folder in its tooltip.
void OLTesting::showDiskFolder()
{
    if (!m_outlets.diskFolder)
        return;
    m_outlets.diskFolder->setEnabled(!m_outlets.extendedTests || m_outlets.extendedTests->isChecked());
    const QString chosen = m_windowSettings.diskFolder();
    m_outlets.diskFolder->setToolTip(chosen.isEmpty() ? QStringLiteral("默认：磁盘读写测试的临时文件所在的文件夹")
                                                      : chosen);
}

// The widgets show the holders. The holders announce every change, from
// whichever thread makes it, by ringing the doorbell; the GUI thread then
// redraws every outlet from what the holders hold now. So a run never waits
// for the window, a redraw never shows an older value than the one before,
// and a burst of changes costs one redraw.
void OLTesting::showPanelInOutlets()
{
    // The interface file decides what shows at launch.
    forEachOutlet([](auto& holder, QWidget* widget) {
        if (widget)
            holder.setHidden(widget->parentWidget() ? !widget->isVisibleTo(widget->parentWidget())
                                                    : widget->isHidden());
    });
    m_redraw = std::make_unique<platform::Doorbell>([this] { redrawOutlets(); });
    platform::Doorbell* doorbell = m_redraw.get();
    auto ring = [doorbell] { doorbell->ring(); };
    forEachOutlet([this, ring](auto& holder, QWidget*) {
        using Holder = std::remove_reference_t<decltype(holder)>;
        if constexpr (std::is_same_v<Holder, platform::BarHolder>)
            connect(&holder, &platform::BarHolder::valueChanged, this, ring, Qt::DirectConnection);
        else
            connect(&holder, &platform::TextHolder::textChanged, this, ring, Qt::DirectConnection);
        connect(&holder, &Holder::hiddenChanged, this, ring, Qt::DirectConnection);
    });
    for (const std::unique_ptr<ExtendedLine>& line : m_extended.lines)
        connect(&line->details, &platform::TextHolder::textChanged, this, ring, Qt::DirectConnection);
    redrawOutlets();
}

bool OLTesting::hasChangesToShow() const
{
    return m_redraw && m_redraw->isRung();
}

void OLTesting::redrawOutlets()
{
    forEachOutlet([](auto& holder, auto* widget) { draw(holder, widget); });
    for (size_t i = 0; i < m_extended.lines.size() && i < size_t(m_outlets.extendedLines.size()); ++i) {
        if (QLabel* label = m_outlets.extendedLines[qsizetype(i)])
            label->setToolTip(m_extended.lines[i]->details.text());
    }
    for (size_t i = 0; i < m_extended.lines.size() && i < size_t(m_outlets.extendedCharts.size()); ++i) {
        const ExtendedLine& line = *m_extended.lines[i];
        history::CurvesChart* chart = m_outlets.extendedCharts[qsizetype(i)];
        if (!chart)
            continue;
        const bool wasHidden = chart->isHidden();
        chart->setCurves(line.line.isHidden() ? QList<ResultCurve> {} : line.curves());
        if (wasHidden && !chart->isHidden())
            growToShowWhole(chart->window());
    }
}

template <class Visit> void OLTesting::forEachOutlet(Visit visit)
{
    Outlets& o = m_outlets;
    Panel& p = m_panel;
    visit(p.intScoreProgress, o.intScoreProgress.data());
    visit(p.intScoreLabel, o.intScoreLabel.data());
    visit(p.doubleScoreProgress, o.doubleScoreProgress.data());
    visit(p.doubleScoreLabel, o.doubleScoreLabel.data());
    visit(p.piScoreProgress, o.piScoreProgress.data());
    visit(p.piScoreLabel, o.piScoreLabel.data());
    visit(p.memoryScoreProgress, o.memoryScoreProgress.data());
    visit(p.memoryScoreLabel, o.memoryScoreLabel.data());
    visit(p.diskScoreLabel, o.diskScoreLabel.data());
    visit(p.diskScoreProgress, o.diskScoreProgress.data());
    visit(p.allScoreLabel, o.allScoreLabel.data());
    visit(p.allScoreProgress, o.allScoreProgress.data());
    visit(p.lastTime, o.lastTime.data());
    visit(p.testingProgress, o.testingProgress.data());
    visit(p.testingState, o.testingState.data());
    visit(m_skewWarning, o.skewWarning.data());
    for (size_t i = 0; i < m_extended.lines.size(); ++i)
        visit(m_extended.lines[i]->line,
              i < size_t(o.extendedLines.size()) ? o.extendedLines[qsizetype(i)].data() : nullptr);
}

void OLTesting::test(QAbstractButton* sender)
{
    if (sender->text() == kStartTitle)
        start(sender);
    else
        stop(sender);
}

void OLTesting::start(QAbstractButton* sender)
{
    // Decided here, before anything changes: a refused run leaves the panel
    // and the saved results as they were.
    const bool extended = m_outlets.extendedTests && m_outlets.extendedTests->isChecked();
    auto opened = run::RunSession::open({ .panel = m_panel,
                                          .defaults = m_defaults,
                                          .stopwatch = m_stopwatch,
                                          .wallClock = m_wallClock,
                                          .lockPath = m_runLockPath,
                                          .historyPath = m_historyPath,
                                          .probe = m_skewProbe,
                                          .extendedPanel = extended ? &m_extended : nullptr,
                                          .diskFolder = extended ? m_windowSettings.diskFolder() : QString(),
                                          .makeExtendedTest = m_makeExtendedTest });
    if (!opened) {
        const QString& holder = opened.error().subject;
        platform::ui::showAlert(run::busyText(),
                                holder.isEmpty() ? QStringLiteral("请等它结束后再开始。")
                                                 : QStringLiteral("%1 正在进行测试，请等它结束后再开始。").arg(holder),
                                sender->window());
        return;
    }
    for (const run::RunProblem& warning : (*opened)->warnings()) {
        // The saved results were said to be unreadable at launch.
        if (warning.kind != run::RunProblem::Kind::SavedResultsUnreadable)
            std::fprintf(stderr, "ostrel: %s\n", qPrintable(warning.message));
    }
    // The run holds the lock for its whole body, the extended tests
    // included, and lets it go as it ends.
    auto body = [this, session = std::shared_ptr<run::RunSession>(std::move(*opened))]() mutable {
        const std::shared_ptr<run::RunSession> held = std::exchange(session, nullptr);
        runInThread(*held);
    };
    retire(std::exchange(m_thread, std::make_unique<RunThread>(std::move(body), m_makeWorkloads())));
    // A run changes the panel often: the window looks at it on a timer
    // until the run ends, so the run never pays for waking it.
    if (m_redraw)
        m_redraw->beginPolling();
    resetForRun(m_panel);
    m_skewWarning.setHidden(true);
    m_skewWarning.setText(QString());
    resetExtendedPanel(m_extended);
    sender->setText(kStopTitle);
    m_thread->start();
}

void OLTesting::stop(QAbstractButton* sender)
{
    sender->setText(kStartTitle);
    // Under the run's gate: once this returns the run writes nothing more,
    // so nothing it does can undo the idle look set here.
    m_thread->cancel([this] {
        m_panel.testingProgress.setValue(0.0);
        m_panel.testingProgress.setHidden(true);
        m_panel.testingState.setHidden(true);
        m_skewWarning.setHidden(true);
    });
}

void OLTesting::retire(std::unique_ptr<RunThread> thread)
{
    std::erase_if(m_retired, [](const auto& retired) { return retired->isFinished(); });
    // A thread that never started or has already ended can go at once.
    if (thread->isRunning())
        m_retired.push_back(std::move(thread));
}

void OLTesting::runInThread(run::RunSession& session)
{
    const auto endPolling = qScopeGuard([this] {
        if (m_redraw)
            m_redraw->endPolling();
    });
    RunThread* self = RunThread::current();
    if (!self || !self->workloads())
        return;
    RunControl& control = self->control();
    // The skew conditions found before the run, then each test other work disturbed as it ends, one line each.
    const auto addWarning = [&](const QString& line) {
        control.write([&] {
            const QString shown = m_skewWarning.text();
            m_skewWarning.setText(shown.isEmpty() ? line : shown + QLatin1Char('\n') + line);
            m_skewWarning.setHidden(false);
        });
    };
    const run::RunSession::Hooks hooks {
        .conditionsFound = [&](const QStringList& conditions) { addWarning(conditions.join(QLatin1Char('\n'))); },
        .disturbed = addWarning,
    };
    for (const run::RunOutcome& outcome : session.run(1, *self->workloads(), control, hooks)) {
        if (outcome.finished && !run::contains(outcome.problems, run::RunProblem::Kind::NotKept)) {
            // The history window follows the database anyway; this shows the run at once.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_historyWindow)
                        m_historyWindow->reload();
                },
                Qt::QueuedConnection);
        }
        // Once per run, finished or stopped: results that were not saved must
        // not pass for saved ones.
        for (const run::RunProblem& problem : outcome.problems) {
            if (problem.kind == run::RunProblem::Kind::NotSaved) {
                QMetaObject::invokeMethod(
                    this, [this, problem] { reportUnsavedResults(problem); }, Qt::QueuedConnection);
            }
        }
    }
}

void OLTesting::reportUnsavedResults(const run::RunProblem& problem)
{
    QWidget* window = m_outlets.testingState ? m_outlets.testingState->window() : nullptr;
    platform::ui::showAlert(run::notSavedTitle(), run::notSavedText(problem), window);
}

void OLTesting::share(QAbstractButton* sender)
{
    QMenu* picker = makeSharingPicker(resultSentence(m_panel), sender, m_sharing);
    showSharingPicker(picker, sender);
    // The menu took the mouse on the press, so the button never sees its
    // release; it must not stay drawn as held down.
    sender->setDown(false);
}

} // namespace ostrel
