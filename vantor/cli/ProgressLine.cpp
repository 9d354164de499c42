// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/ProgressLine.h"

#include "vantor/cli/Output.h"

namespace vantor::cli {

ProgressLine::ProgressLine(QIODevice& err, bool shown)
    : m_err(err)
    , m_shown(shown)
{
}

void ProgressLine::update(qsizetype done, std::optional<qsizetype> total)
{
    if (total && done > *total)
        total.reset(); // a list that grew after it was counted
    m_done = done;
    m_total = total;
    // A terminal cannot show a million updates; a few a second say as much.
    const bool last = total && done == *total;
    if (!m_shown || (m_visible && m_sinceShown.isValid() && m_sinceShown.elapsed() < 100 && !last))
        return;
    show(total ? QStringLiteral("已查询 %1/%2").arg(done).arg(*total) : QStringLiteral("已查询 %1").arg(done));
}

void ProgressLine::waiting(std::chrono::seconds left)
{
    if (!m_shown)
        return;
    const QString done
        = m_total ? QStringLiteral("已查询 %1/%2").arg(m_done).arg(*m_total) : QStringLiteral("已查询 %1").arg(m_done);
    show(QStringLiteral("%1，查询太频繁，%2 秒后继续").arg(done).arg(left.count()));
}

void ProgressLine::clear()
{
    if (!m_visible)
        return;
    write(m_err, QStringLiteral("\r\x1b[K"));
    m_visible = false;
}

void ProgressLine::show(const QString& text)
{
    write(m_err, QLatin1Char('\r') + text + QStringLiteral("\x1b[K"));
    m_visible = true;
    m_sinceShown.start();
}

} // namespace vantor::cli
