// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/ResultsDocument.h"

#include "ostrel/engine/Panel.h"
#include "ostrel/engine/Plausibility.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/history/DocumentText.h"
#include "platform/DateText.h"
#include "platform/OutsideFile.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonValue>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <limits>

namespace ostrel::history {

using namespace document;

namespace {

// The texts of a run that no machine gives: a name for each and the text.
QList<std::pair<QString, const QString*>> texts(const machine::MachineFacts& machine)
{
    return {
        { QStringLiteral("cpuModel"), &machine.cpuModel },
        { QStringLiteral("kernel"), &machine.kernel },
        { QStringLiteral("os"), &machine.os },
        { QStringLiteral("architecture"), &machine.architecture },
        { QStringLiteral("governor"), &machine.governor },
        { QStringLiteral("fileSystem"), &machine.fileSystem },
    };
}

// A value as a refusal names it.
QString valueText(double value)
{
    return std::isnan(value) ? QStringLiteral("NaN") : number(value);
}

QString scoreRange(double value)
{
    return QStringLiteral("%1 不在 0 到 100 之间").arg(valueText(value));
}

HistoryError impossibleValue(const QString& what)
{
    return { HistoryError::Kind::BadDocument, QStringLiteral("成绩文件里有 Ostrel 不可能写出的数值：%1").arg(what) };
}

} // namespace

QString implausibleMachine(const machine::MachineFacts& machine)
{
    for (const auto& [name, text] : texts(machine)) {
        if (!plausible::isText(*text))
            return QStringLiteral("机器信息“%1”长于 %2 字节").arg(name).arg(plausible::kLongestText);
    }
    return {};
}

QString implausibleValue(const RunRecord& run, double now)
{
    if (!plausible::isFinishTime(run.finishedAt, now))
        return QStringLiteral("完成时间 %1 不在 2000 年到此刻之后一天之间").arg(valueText(run.finishedAt));
    for (size_t i = 0; i < kTestKinds.size(); ++i) {
        const QString key = QLatin1String(kTestKinds[i].key);
        const double score = run.scores[i];
        if (!plausible::isScore(score))
            return QStringLiteral("“%1”成绩 %2").arg(key, scoreRange(score));
        if (const std::optional<double>& elapsed = run.elapsed[i]) {
            if (!plausible::isElapsed(*elapsed))
                return QStringLiteral("“%1”用时 %2 秒不是零或正数").arg(key, valueText(*elapsed));
            if (!plausible::fitsElapsed(score, *elapsed))
                return QStringLiteral("“%1”成绩 %2 高于用时 %3 秒所能得到的 %4 分")
                    .arg(key, valueText(score), valueText(*elapsed), valueText(stageScore(*elapsed)));
        }
    }
    if (!plausible::isScore(run.overall))
        return QStringLiteral("总分 %1").arg(scoreRange(run.overall));
    if (!plausible::isText(run.version))
        return QStringLiteral("版本号长于 %1 字节").arg(plausible::kLongestText);
    return implausibleMachine(run.machine);
}

RunRecord withoutImplausibleValues(RunRecord run, double now)
{
    constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();
    if (!plausible::isFinishTime(run.finishedAt, now))
        run.finishedAt = kNoValue;
    for (size_t i = 0; i < kTestKinds.size(); ++i) {
        std::optional<double>& elapsed = run.elapsed[i];
        if (elapsed && !plausible::isElapsed(*elapsed))
            elapsed.reset();
        double& score = run.scores[i];
        if (!plausible::isScore(score) || (elapsed && !plausible::fitsElapsed(score, *elapsed)))
            score = kNoValue;
    }
    if (!plausible::isScore(run.overall))
        run.overall = kNoValue;
    if (!plausible::isText(run.version))
        run.version.clear();
    for (QString* text : { &run.machine.cpuModel, &run.machine.kernel, &run.machine.os, &run.machine.architecture,
                           &run.machine.governor, &run.machine.fileSystem }) {
        if (!plausible::isText(*text))
            text->clear();
    }
    return run;
}

QByteArray writeResultsDocument(const ResultsDocument& document)
{
    const QJsonObject object {
        { QStringLiteral("format"), QLatin1String(kDocumentFormat) },
        { QStringLiteral("version"), kDocumentVersion },
        { QStringLiteral("machine"), machineToJson(document.machine) },
        { QStringLiteral("runs"), runsToJson(document.runs) },
    };
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

Status writeResultsFile(const QString& path, const ResultsDocument& document)
{
    if (const platform::Status<platform::FileWriteError> written
        = platform::writeWholeFile(path, writeResultsDocument(document));
        !written)
        return HistoryError {
            HistoryError::Kind::CannotOpen,
            QStringLiteral("无法写入文件：%1（%2）").arg(QDir::toNativeSeparators(path), written.error().reason)
        };
    return Done {};
}

Result<ResultsDocument> readResultsDocument(const QByteArray& json, const platform::Clock& clock)
{
    QJsonParseError parseError;
    const QJsonDocument parsed = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !parsed.isObject())
        return badDocument(QStringLiteral("内容不是 JSON 对象"));
    const QJsonObject object = parsed.object();
    if (object.value(QStringLiteral("format")).toString() != QLatin1String(kDocumentFormat))
        return badDocument(QStringLiteral("缺少 \"format\": \"%1\"").arg(QLatin1String(kDocumentFormat)));
    const QJsonValue version = object.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toDouble() < 1 || version.toDouble() != std::floor(version.toDouble()))
        return badDocument(QStringLiteral("版本号无效"));
    if (version.toDouble() > kDocumentVersion)
        return HistoryError { HistoryError::Kind::NewerVersion,
                              QStringLiteral("这个成绩文件来自更新版本的 Ostrel（文件版本 %1，本版本只认识到 %2）。")
                                  .arg(version.toDouble())
                                  .arg(kDocumentVersion) };
    const QJsonValue machine = object.value(QStringLiteral("machine"));
    const QJsonValue runs = object.value(QStringLiteral("runs"));
    if (!machine.isObject() || !runs.isArray())
        return badDocument(QStringLiteral("缺少机器信息或测试记录"));

    ResultsDocument document;
    document.machine = machineFromJson(machine.toObject());
    if (const QString why = implausibleMachine(document.machine); !why.isEmpty())
        return impossibleValue(why);
    const double now = clock.now();
    for (const QJsonValue& value : runs.toArray()) {
        if (!value.isObject())
            return badDocument(QStringLiteral("测试记录不是对象"));
        Result<RunRecord> run = runFromJson(value.toObject());
        if (!run)
            return run.error();
        if (const QString why = implausibleValue(*run, now); !why.isEmpty()) {
            const bool timeKnown = plausible::isFinishTime(run->finishedAt, now);
            return impossibleValue(
                QStringLiteral("第 %1 个测试记录%2的%3")
                    .arg(document.runs.size() + 1)
                    .arg(timeKnown ? QStringLiteral("（%1 完成）").arg(platform::mediumDateShortTime(run->finishedAt))
                                   : QString(),
                         why));
        }
        document.runs.append(std::move(run).value());
    }
    if (document.runs.isEmpty())
        return badDocument(QStringLiteral("文件里没有测试记录"));
    std::stable_sort(document.runs.begin(), document.runs.end(),
                     [](const RunRecord& a, const RunRecord& b) { return a.finishedAt > b.finishedAt; });
    return document;
}

Result<ResultsDocument> readResultsFile(const QString& path, const platform::Clock& clock)
{
    // Ten thousand runs take about 10 MB; anything far larger is not a results document.
    constexpr qint64 kLargestDocument = 256LL * 1024 * 1024;
    const platform::Result<QByteArray, platform::FileReadError> bytes
        = platform::readOutsideFile(path, kLargestDocument);
    if (!bytes && bytes.error().error == EFBIG)
        return badDocument(QStringLiteral("文件太大"));
    if (!bytes)
        return HistoryError {
            HistoryError::Kind::CannotOpen,
            QStringLiteral("无法读取文件：%1（%2）").arg(QDir::toNativeSeparators(path), bytes.error().reason)
        };
    return readResultsDocument(*bytes, clock);
}

} // namespace ostrel::history
