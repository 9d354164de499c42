// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace platform::ui {

// One alert as it was asked for: what a user would read, and the window it is attached to (the top-level window
// of the widget passed; none for a free-standing alert).
struct AlertRecord
{
    QString messageText;
    QString informativeText;
    QPointer<QWidget> window;
};

// Shows an alert made of a message text and an informative text with a single dismiss button. Without a window
// it stands on its own and blocks the whole application until dismissed; with one it is a sheet that blocks only
// that window. Either way it returns at once and nobody reads the answer. The alert deletes itself when dismissed.
void showAlert(const QString& messageText, const QString& informativeText, QWidget* window = nullptr);

// While a recorder exists, alerts are recorded instead of shown, so a test never waits on a modal dialog.
// Recorders nest; the newest one receives the alerts.
class AlertRecorder
{
public:
    AlertRecorder();
    ~AlertRecorder();
    AlertRecorder(const AlertRecorder&) = delete;
    AlertRecorder& operator=(const AlertRecorder&) = delete;

    const QList<AlertRecord>& alerts() const { return m_alerts; }
    void clear() { m_alerts.clear(); }

private:
    friend void showAlert(const QString&, const QString&, QWidget*);

    QList<AlertRecord> m_alerts;
    AlertRecorder* m_previous;
};

} // namespace platform::ui
