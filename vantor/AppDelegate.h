// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace vantor {

// The application's delegate. Vantor needs nothing done at launch or at exit beyond Qt's defaults, including
// quitting when the last window closes.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    QWidget* window() const { return m_window; }
    void setWindow(QWidget* window) { m_window = window; }

    void applicationDidFinishLaunching() { }
    void applicationWillTerminate() { }

private:
    QPointer<QWidget> m_window; // does not keep the window alive
};

} // namespace vantor
