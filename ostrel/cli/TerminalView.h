// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <cstdio>

namespace ostrel {
struct ExtendedPanel;
struct Panel;
} // namespace ostrel

namespace ostrel::cli {

// Shows a run's panel in a terminal. On a terminal the state text carries a
// live progress bar redrawn in place; elsewhere each change is a plain line.
// Connected with queued connections, so the run never waits for the output.
class TerminalView : public QObject
{
    Q_OBJECT

public:
    TerminalView(Panel& panel, std::FILE* out, bool interactive, QObject* parent = nullptr);

    // The overall score and the last-run line, once the run has finished.
    void printSummary();
    void printStopped();
    // A line of text of its own, on `to`, without breaking the live bar.
    void printNote(const QString& text, std::FILE* to);
    // Prints the extended tests' lines as they are shown, each line of
    // their details indented below.
    void showExtended(ExtendedPanel& shown);

private:
    void stateChanged(const QString& state);
    void progressChanged(double value);
    void scoreShown(int stage, const QString& label);
    void clearBar();
    void drawBar();
    void print(const QString& line);

    Panel& m_panel;
    std::FILE* m_out;
    const bool m_interactive;
    QString m_state;
    double m_progress = 0.0;
    bool m_barDrawn = false;
};

} // namespace ostrel::cli
