// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class QCoreApplication;

namespace ostrel {

// Ends the application when the main window closes. It is the window's
// delegate: installed as an event filter on it, it sees the window close.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Not owned; never read by the delegate itself.
    QWidget* window() const { return m_window; }
    void setWindow(QWidget* window) { m_window = window; }

    QCoreApplication* app() const { return m_app; }
    void setApp(QCoreApplication* app) { m_app = app; }

    void applicationDidFinishLaunching() { }
    void applicationWillTerminate() { }
    // Whichever window this delegate watches, its closing ends the
    // application.
    void windowWillClose();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_window;
    QCoreApplication* m_app = nullptr;
};

} // namespace ostrel
