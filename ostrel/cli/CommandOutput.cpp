// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/cli/CommandOutput.h"

#include "ostrel/cli/CommandLine.h"
#include "ostrel/history/HistoryStore.h"

#include <cmath>

namespace ostrel::cli {

void print(std::FILE* to, const QString& text)
{
    std::fputs(text.toUtf8().constData(), to);
}

void fail(const Streams& streams, const QString& message)
{
    print(streams.err, streams.program + QStringLiteral(": ") + message + QLatin1Char('\n'));
}

QString points(double value)
{
    return std::isnan(value) ? QString() : QString::number(value, 'f', 2);
}

QString signedPoints(double value)
{
    if (std::isnan(value))
        return QString();
    const QString digits = QString::number(std::abs(value), 'f', 2);
    if (digits == QStringLiteral("0.00"))
        return QStringLiteral("±0.00");
    return (value > 0 ? QStringLiteral("+") : QStringLiteral("−")) + digits;
}

QString padded(const QString& text, int columns)
{
    int width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x1100 ? 2 : 1;
    return text + QString(std::max(0, columns - width), QLatin1Char(' '));
}

std::optional<history::RunRecord> latestRun(history::HistoryStore& store, const Streams& streams, int& status)
{
    const auto latest = store.latest();
    if (!latest) {
        fail(streams, latest.error().message);
        status = kExitProblem;
        return std::nullopt;
    }
    if (!latest.value()) {
        fail(streams, QStringLiteral("there is no finished run in the history yet: run %1 first").arg(streams.program));
        status = kExitProblem;
    }
    return latest.value();
}

} // namespace ostrel::cli
