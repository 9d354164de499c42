// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/history/HistoryError.h"

#include <QJsonValue>
#include <QLocale>
#include <QString>
#include <cmath>

// What the writers and readers of runs (RunsJson.cpp, RunsCsv.cpp, ResultsDocument.cpp) share.
namespace ostrel::history::document {

inline QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

// At full precision; empty for no value (NaN).
inline QString number(double value)
{
    return std::isnan(value) ? QString() : QString::number(value, 'g', QLocale::FloatingPointShortest);
}

inline QJsonValue numberOrNull(double value)
{
    return std::isnan(value) ? QJsonValue(QJsonValue::Null) : QJsonValue(value);
}

inline HistoryError badDocument(const QString& why)
{
    return { HistoryError::Kind::BadDocument, QStringLiteral("这不是 Ostrel 导出的成绩文件：%1").arg(why) };
}

} // namespace ostrel::history::document
