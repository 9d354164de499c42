// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/cli/TerminalView.h"

#include "ostrel/engine/Panel.h"
#include "ostrel/extended/ExtendedRun.h"

namespace ostrel::cli {

namespace {

constexpr int kBarWidth = 30;

} // namespace

TerminalView::TerminalView(Panel& panel, std::FILE* out, bool interactive, QObject* parent)
    : QObject(parent)
    , m_panel(panel)
    , m_out(out)
    , m_interactive(interactive)
{
    const auto queued = Qt::QueuedConnection;
    connect(&panel.testingState, &platform::TextHolder::textChanged, this, &TerminalView::stateChanged, queued);
    connect(&panel.testingProgress, &platform::BarHolder::valueChanged, this, &TerminalView::progressChanged, queued);
    for (int stage = 0; stage < int(kTestKinds.size()); ++stage) {
        connect(
            &(panel.*kTestKinds[stage].scoreLabel), &platform::TextHolder::textChanged, this,
            [this, stage](const QString& label) { scoreShown(stage, label); }, queued);
    }
}

void TerminalView::print(const QString& line)
{
    clearBar();
    std::fputs(line.toUtf8().constData(), m_out);
    std::fputc('\n', m_out);
    drawBar();
}

void TerminalView::clearBar()
{
    if (m_barDrawn) {
        std::fputs("\r\033[K", m_out);
        m_barDrawn = false;
    }
}

void TerminalView::drawBar()
{
    if (!m_interactive || m_state.isEmpty()) {
        std::fflush(m_out);
        return;
    }
    const int filled = int(m_progress / 100.0 * kBarWidth + 0.5);
    const QString bar = QStringLiteral("%1 [%2%3] %4%")
                            .arg(m_state)
                            .arg(QString(filled, QLatin1Char('#')))
                            .arg(QString(kBarWidth - filled, QLatin1Char(' ')))
                            .arg(int(m_progress), 3);
    std::fputs("\r\033[K", m_out);
    std::fputs(bar.toUtf8().constData(), m_out);
    std::fflush(m_out);
    m_barDrawn = true;
}

void TerminalView::stateChanged(const QString& state)
{
    m_state = state;
    if (m_interactive)
        drawBar();
    else
        print(state);
}

void TerminalView::progressChanged(double value)
{
    m_progress = value;
    if (m_interactive)
        drawBar();
}

void TerminalView::scoreShown(int stage, const QString& label)
{
    const TestKind& kind = kTestKinds[stage];
    const double score = (m_panel.*kind.scoreProgress).value();
    print(QStringLiteral("%1：%2 (%3)").arg(QString::fromUtf16(kind.title), label).arg(score, 0, 'f', 2));
}

void TerminalView::printSummary()
{
    m_state.clear();
    print(QStringLiteral("总分：%1 (%2)")
              .arg(m_panel.allScoreLabel.text())
              .arg(m_panel.allScoreProgress.value(), 0, 'f', 2));
    print(m_panel.lastTime.text());
}

void TerminalView::printStopped()
{
    m_state.clear();
    print(QStringLiteral("已停止：完成的测试已保存。"));
}

void TerminalView::printNote(const QString& text, std::FILE* to)
{
    clearBar();
    std::fflush(m_out);
    std::fputs(text.toUtf8().constData(), to);
    if (!text.endsWith(QLatin1Char('\n')))
        std::fputc('\n', to);
    std::fflush(to);
    drawBar();
}

void TerminalView::showExtended(ExtendedPanel& shown)
{
    const auto queued = Qt::QueuedConnection;
    const auto printLines = [this](const QString& text, const QString& indent) {
        if (text.isEmpty())
            return;
        for (const QString& line : text.split(QLatin1Char('\n')))
            print(indent + line);
    };
    for (const std::unique_ptr<ExtendedLine>& line : shown.lines) {
        connect(
            &line->line, &platform::TextHolder::textChanged, this,
            [printLines](const QString& text) { printLines(text, {}); }, queued);
        connect(
            &line->details, &platform::TextHolder::textChanged, this,
            [printLines](const QString& text) { printLines(text, QStringLiteral("  ")); }, queued);
    }
}

} // namespace ostrel::cli
