// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <chrono>
#include <optional>

class QIODevice;

namespace vantor::cli {

// The line on a terminal's standard error that says how far a long list has come: done / total, and while
// vantor-cli waits for a rate limit to reset, the seconds left. It writes nothing when it is not shown, so
// standard error stays the same when it is not a terminal.
class ProgressLine
{
public:
    ProgressLine(QIODevice& err, bool shown);

    void update(qsizetype done, std::optional<qsizetype> total);
    void waiting(std::chrono::seconds left);
    // Takes the line away, so that a message can be written in its place; the next update brings it back.
    void clear();
    bool shown() const { return m_shown; }

private:
    void show(const QString& text);

    QIODevice& m_err;
    bool m_shown;
    bool m_visible = false;
    qsizetype m_done = 0;
    std::optional<qsizetype> m_total;
    QElapsedTimer m_sinceShown;
};

} // namespace vantor::cli
