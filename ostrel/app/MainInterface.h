// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/app/OLTesting.h"

#include <memory>

class QApplication;
class QMainWindow;
class QPushButton;

namespace Ui {
class OstrelWindow;
}

namespace ostrel {

class AppDelegate;

// The loaded interface file: the main window with its widgets, the
// controller with its outlets connected, and the application's delegate.
// Loading ends with awakeFromNib(); the window is not shown.
class MainInterface
{
public:
    // The controller for this user, with the real workloads.
    explicit MainInterface(QApplication& app);
    // A controller of one's own (tests pass one with a private store and
    // fake workloads).
    MainInterface(QApplication& app, std::unique_ptr<OLTesting> testing);
    ~MainInterface();

    MainInterface(const MainInterface&) = delete;
    MainInterface& operator=(const MainInterface&) = delete;

    QMainWindow& window() { return *m_window; }
    OLTesting& testing() { return *m_testing; }
    AppDelegate& delegate() { return *m_delegate; }
    QPushButton& startButton();

private:
    // Declared so that the controller, which stops a run under way, goes
    // before the widgets it shows its panel in.
    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<Ui::OstrelWindow> m_ui;
    std::unique_ptr<OLTesting> m_testing;
    std::unique_ptr<AppDelegate> m_delegate;
};

} // namespace ostrel
