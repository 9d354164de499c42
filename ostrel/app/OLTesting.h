// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/app/Sharing.h"
#include "ostrel/app/WindowSettings.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/extended/ExtendedRun.h"
#include "ostrel/machine/SkewProbe.h"
#include "platform/Clock.h"
#include "platform/UserDefaults.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace platform {
class Doorbell;
}

namespace ostrel::history {
class CurvesChart;
class HistoryWindow;
} // namespace ostrel::history

namespace ostrel::run {
class RunSession;
struct RunProblem;
} // namespace ostrel::run

namespace ostrel {

class RunThread;
class Workloads;

// The widgets of the benchmark window that the controller shows its panel
// in, each named like the value it shows. The start/stop button is not one:
// the controller only sees it as the sender of test().
struct Outlets
{
    QPointer<QProgressBar> intScoreProgress;
    QPointer<QLabel> intScoreLabel;
    QPointer<QProgressBar> doubleScoreProgress;
    QPointer<QLabel> doubleScoreLabel;
    QPointer<QProgressBar> piScoreProgress;
    QPointer<QLabel> piScoreLabel;
    QPointer<QProgressBar> memoryScoreProgress;
    QPointer<QLabel> memoryScoreLabel;
    QPointer<QLabel> diskScoreLabel;
    QPointer<QProgressBar> diskScoreProgress;
    QPointer<QLabel> allScoreLabel;
    QPointer<QProgressBar> allScoreProgress;
    QPointer<QLabel> lastTime;
    QPointer<QProgressBar> testingProgress;
    QPointer<QLabel> testingState;
    QPointer<QPushButton> share;
    // Beside the panel: what may have made the run's scores low, and the
    // button that opens the history.
    QPointer<QLabel> skewWarning;
    QPointer<QPushButton> history;
    // The extended tests: whether they run, where the disk test writes, and
    // their results, one line per row of the table in its order, with the
    // details in the lines' tooltips and, below each, a chart of its
    // result's curves, hidden while there are none.
    QPointer<QCheckBox> extendedTests;
    QPointer<QPushButton> diskFolder;
    QList<QPointer<QLabel>> extendedLines;
    QList<QPointer<history::CurvesChart>> extendedCharts;
};

// The controller of the benchmark window. The run writes only to the panel's
// holders, from its worker thread; the outlets show what the holders hold,
// updated on the GUI thread through queued connections, so a run never
// waits for the window.
class OLTesting : public QObject
{
    Q_OBJECT

public:
    using WorkloadsFactory = std::function<std::unique_ptr<Workloads>()>;
    // Makes each extended test of a run from its row of the table.
    using ExtendedTestFactory = ExtendedTestMaker;
    // Asks the user for a folder, starting at the given one; empty when cancelled.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& start)>;

    // The saved results of this user and the real workloads.
    explicit OLTesting(QObject* parent = nullptr);
    OLTesting(const QString& defaultsPath, WorkloadsFactory makeWorkloads, QObject* parent = nullptr);
    // Stops a run under way and waits for its thread, which ends within a
    // tenth of a second, so that it never writes into a destroyed panel.
    ~OLTesting() override;

    const Outlets& outlets() const { return m_outlets; }
    void setOutlets(const Outlets& outlets) { m_outlets = outlets; }

    Panel& panel() { return m_panel; }
    const Panel& panel() const { return m_panel; }

    // The thread of the latest run; before the first run, one never started.
    RunThread* thread() const { return m_thread.get(); }
    platform::UserDefaults& defaults() { return m_defaults; }

    void setSharingServices(SharingServices services) { m_sharing = std::move(services); }
    // Each row's own test, and QFileDialog, unless set otherwise.
    void setExtendedTestFactory(ExtendedTestFactory make) { m_makeExtendedTest = std::move(make); }
    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

    const ExtendedPanel& extendedPanel() const { return m_extended; }
    // The outlet of a test's line; null for a key no row has.
    QLabel* extendedLine(const QString& key) const;
    WindowSettings& windowSettings() { return m_windowSettings; }
    // The folder button's action.
    void chooseDiskFolder();

    // Where finished runs are kept, and how the conditions that skew a score
    // are looked for before each run. Set before the first run.
    void setHistory(QString databasePath, machine::SkewProbe skewProbe);
    const QString& historyPath() const { return m_historyPath; }

    // The lock that keeps a run of this window apart from any other
    // benchmark of the user; RunLock::defaultPath() unless set.
    void setRunLockPath(QString path) { m_runLockPath = std::move(path); }
    const QString& runLockPath() const { return m_runLockPath; }

    // The history button's action: the application's one history window.
    void showHistory();
    // Made at the first showHistory().
    history::HistoryWindow* historyWindow() const { return m_historyWindow.get(); }

    // Some holder changed since the outlets were last drawn.
    bool hasChangesToShow() const;

    // Fills the panel from the saved results and shows it in the outlets.
    // Called once, after the outlets are set.
    void awakeFromNib();

    // The start/stop button's action; the sender's title decides.
    void test(QAbstractButton* sender);

    // The share button's action: offers the result sentence beside it.
    void share(QAbstractButton* sender);

private:
    void start(QAbstractButton* sender);
    void stop(QAbstractButton* sender);
    void showPanelInOutlets();
    void redrawOutlets();
    // Calls visit(holder, widget) for each holder and the outlet showing it.
    template <class Visit> void forEachOutlet(Visit visit);
    void retire(std::unique_ptr<RunThread> thread);
    // The body of a run's worker thread: the session's one run, shown as it goes.
    void runInThread(run::RunSession& session);
    void reportUnsavedResults(const run::RunProblem& problem);
    void showDiskFolder();

    Panel m_panel;
    platform::TextHolder m_skewWarning;
    ExtendedPanel m_extended;
    Outlets m_outlets;
    platform::UserDefaults m_defaults;
    WorkloadsFactory m_makeWorkloads;
    SharingServices m_sharing;
    WindowSettings m_windowSettings;
    ExtendedTestFactory m_makeExtendedTest;
    FolderChooser m_chooseFolder;
    const platform::MonotonicClock m_stopwatch;
    const platform::WallClock m_wallClock;
    std::unique_ptr<platform::Doorbell> m_redraw;
    QString m_historyPath;
    machine::SkewProbe m_skewProbe;
    std::unique_ptr<history::HistoryWindow> m_historyWindow;
    QString m_runLockPath;
    std::unique_ptr<RunThread> m_thread;
    // Earlier runs' threads, kept until they have ended: a stopped run takes
    // a moment to notice, and dropping a running thread would abort.
    std::vector<std::unique_ptr<RunThread>> m_retired;
};

} // namespace ostrel
