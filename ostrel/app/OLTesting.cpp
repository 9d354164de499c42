#include "OLTesting.h"

#include "BenchmarkRun.h"
#include "RunThread.h"
#include "Scores.h"
#include "Workloads.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <cmath>

namespace ostrel {

namespace {

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

bool hiddenInInterface(const QWidget& widget)
{
    return widget.parentWidget() ? !widget.isVisibleTo(widget.parentWidget()) : widget.isHidden();
}

// Calls draw on the GUI thread after every change the signal announces,
// from whichever thread made it. Only a nudge crosses threads, never the
// value: draw reads the holder under its lock, so a late nudge never brings
// back an older value, and everything the writer did before its change is
// ordered before the read.
template <class Holder, class... Args, class Draw>
void redrawOn(QObject* context, Holder& holder, void (Holder::*signal)(Args...), Draw draw)
{
    QObject::connect(
        &holder, signal, context, [context, draw] { QMetaObject::invokeMethod(context, draw, Qt::QueuedConnection); },
        Qt::DirectConnection);
}

// The outlets are QPointers inside the controller, which is also the
// context: a widget gone first is skipped, a controller gone first takes
// its pending redraws with it.
void showIn(QObject* context, platform::BarHolder& holder, const QPointer<QProgressBar>* outlet)
{
    // The interface file decides what shows at launch.
    holder.setHidden(hiddenInInterface(**outlet));
    auto drawValue = [&holder, outlet] {
        const double value = holder.value();
        if (QProgressBar* bar = *outlet)
            bar->setValue(drawnValue(holder, value, *bar));
    };
    auto drawHidden = [&holder, outlet] {
        const bool hidden = holder.isHidden();
        if (QProgressBar* bar = *outlet)
            bar->setVisible(!hidden);
    };
    redrawOn(context, holder, &platform::BarHolder::valueChanged, drawValue);
    redrawOn(context, holder, &platform::BarHolder::hiddenChanged, drawHidden);
    drawValue();
}

void showIn(QObject* context, platform::TextHolder& holder, const QPointer<QLabel>* outlet)
{
    holder.setHidden(hiddenInInterface(**outlet));
    auto drawText = [&holder, outlet] {
        const QString text = holder.text();
        // The label gets a buffer of its own: the worker's references to the
        // holder's text are then only ever released by code built with this
        // program, where the thread sanitizer sees the hand-over, not inside
        // Qt, where it cannot.
        if (QLabel* label = *outlet)
            label->setText(QString(text.constData(), text.size()));
    };
    auto drawHidden = [&holder, outlet] {
        const bool hidden = holder.isHidden();
        if (QLabel* label = *outlet)
            label->setVisible(!hidden);
    };
    redrawOn(context, holder, &platform::TextHolder::textChanged, drawText);
    redrawOn(context, holder, &platform::TextHolder::hiddenChanged, drawHidden);
    drawText();
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
    , m_thread(std::make_unique<RunThread>())
{
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
    for (const TestKind& kind : kTestKinds) {
        showScore(m_panel.*kind.scoreProgress, m_panel.*kind.scoreLabel,
                  m_defaults.doubleForKey(QString::fromLatin1(kind.key)));
    }
    showOverallScore(m_panel);
    m_panel.lastTime.setText(lastRunLine(m_defaults.doubleForKey(saved::kLastTimeKey)));
    showPanelInOutlets();
    // On mouse-down: the picker opens while the button is still held.
    connect(m_outlets.share, &QAbstractButton::pressed, this, [this] { share(m_outlets.share); });
}

void OLTesting::showPanelInOutlets()
{
    Outlets& o = m_outlets;
    Panel& p = m_panel;
    showIn(this, p.intScoreProgress, &o.intScoreProgress);
    showIn(this, p.intScoreLabel, &o.intScoreLabel);
    showIn(this, p.doubleScoreProgress, &o.doubleScoreProgress);
    showIn(this, p.doubleScoreLabel, &o.doubleScoreLabel);
    showIn(this, p.piScoreProgress, &o.piScoreProgress);
    showIn(this, p.piScoreLabel, &o.piScoreLabel);
    showIn(this, p.memoryScoreProgress, &o.memoryScoreProgress);
    showIn(this, p.memoryScoreLabel, &o.memoryScoreLabel);
    showIn(this, p.diskScoreLabel, &o.diskScoreLabel);
    showIn(this, p.diskScoreProgress, &o.diskScoreProgress);
    showIn(this, p.allScoreLabel, &o.allScoreLabel);
    showIn(this, p.allScoreProgress, &o.allScoreProgress);
    showIn(this, p.lastTime, &o.lastTime);
    showIn(this, p.testingProgress, &o.testingProgress);
    showIn(this, p.testingState, &o.testingState);
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
    retire(std::exchange(m_thread, std::make_unique<RunThread>([this] { test(); }, m_makeWorkloads())));
    resetForRun(m_panel);
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
    });
}

void OLTesting::retire(std::unique_ptr<RunThread> thread)
{
    std::erase_if(m_retired, [](const auto& retired) { return retired->isFinished(); });
    // A thread that never started or has already ended can go at once.
    if (thread->isRunning())
        m_retired.push_back(std::move(thread));
}

void OLTesting::test()
{
    RunThread* self = RunThread::current();
    if (!self || !self->workloads())
        return;
    BenchmarkRun({ m_panel, m_defaults, *self->workloads(), self->control(), m_stopwatch, m_wallClock }).run();
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
