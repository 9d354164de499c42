// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Services.h"

#include <QMainWindow>

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

#include <memory>

namespace Ui {
class MainWindow;
}

namespace vantor {

class AppDelegate;
class ArrayController;
class VNQuery;

// Builds what MainWindow.ui describes and connects it: the window with its address field, query button and
// table, the controller with its array controller, and the application delegate.
class MainInterface
{
public:
    explicit MainInterface(ServiceConfig services = {});
    ~MainInterface();
    MainInterface(const MainInterface&) = delete;
    MainInterface& operator=(const MainInterface&) = delete;

    // Shows the window, then lets the controller wake up as soon as the event loop runs.
    void launch();

    // The table's rows as "Key<TAB>Value" lines on the clipboard: those selected (Ctrl+C, "拷贝"), or all of them
    // ("拷贝全部"). Nothing to copy leaves the clipboard as it was.
    void copySelectedRows();
    void copyAllRows();
    QAction* copyAction() const { return m_copy; }
    QAction* copyAllAction() const { return m_copyAll; }
    // 帮助 > 关于 Vantor: the version and where the bundled data come from.
    QAction* aboutAction() const { return m_about; }

    QMainWindow* window() const { return m_window.get(); }
    QLineEdit* ipTextField() const;
    QPushButton* queryButton() const;
    QLabel* ownAddressLabel() const;
    QLabel* stateLabel() const;
    QLabel* sourceLabel() const;
    QTableView* tableView() const;
    VNQuery* controller() const { return m_controller; }
    ArrayController* arrayController() const { return m_arrayController; }
    AppDelegate* appDelegate() const { return m_appDelegate.get(); }

private:
    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<Ui::MainWindow> m_ui;
    std::unique_ptr<AppDelegate> m_appDelegate;
    VNQuery* m_controller; // owned by the window
    ArrayController* m_arrayController; // owned by the controller
    QAction* m_copy; // owned by the table
    QAction* m_copyAll; // owned by the table
    QAction* m_about; // owned by the menu
};

// The about box's text: the version, the bundled databases and their credits.
QString aboutText();

// Application-wide settings the executable makes before building its window.
void configureApplication();

} // namespace vantor
