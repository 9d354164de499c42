// SPDX-License-Identifier: GPL-3.0-or-later
// Runs as JSON: a run's object, its machine's and its extended results' members.
#include "ostrel/engine/Panel.h"
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/history/DocumentText.h"
#include "ostrel/history/ResultsDocument.h"

#include <QJsonDocument>
#include <algorithm>

namespace ostrel::history {

using namespace document;

void insertExtended(QJsonObject& object, const ExtendedResults& results)
{
    for (const ExtendedKind& kind : extendedTests()) {
        if (const ExtendedResults::Entry* result = results.find(kind.key))
            object.insert(kind.key, kind.toJson(*result));
    }
}

Result<ExtendedResults> extendedFromJson(const QJsonObject& object)
{
    ExtendedResults results;
    for (const ExtendedKind& kind : extendedTests()) {
        // Absent (or null) for a run without that test.
        const QJsonValue value = object.value(kind.key);
        if (value.isUndefined() || value.isNull())
            continue;
        const auto refused = [&](const QString& member) {
            return badDocument(QStringLiteral("某次测试的%1结果中“%2”无效").arg(kind.name, member));
        };
        if (!value.isObject())
            return refused(kind.key);
        ExtendedResult<ExtendedResults::Entry> read = kind.fromJson(value.toObject());
        if (!read)
            return refused(read.error().message);
        results.set(std::move(read).value());
    }
    return results;
}

namespace {

struct InterferenceFigure
{
    const char* key;
    std::optional<double> machine::Interference::*figure;
};

constexpr std::array<InterferenceFigure, 3> kInterferenceFigures { {
    { "cpuWait", &machine::Interference::cpuWait },
    { "steal", &machine::Interference::steal },
    { "frequency", &machine::Interference::frequency },
} };

} // namespace

void insertInterference(QJsonObject& object, const QMap<QString, machine::Interference>& interference)
{
    if (interference.isEmpty())
        return;
    QJsonObject tests;
    for (auto it = interference.begin(); it != interference.end(); ++it) {
        QJsonObject figures;
        for (const InterferenceFigure& figure : kInterferenceFigures) {
            if (const std::optional<double>& value = (*it).*figure.figure)
                figures.insert(QLatin1String(figure.key), *value);
        }
        figures.insert(QStringLiteral("disturbed"), it->disturbed());
        tests.insert(it.key(), figures);
    }
    object.insert(QStringLiteral("interference"), tests);
}

Result<QMap<QString, machine::Interference>> interferenceFromJson(const QJsonObject& object)
{
    QMap<QString, machine::Interference> interference;
    const QJsonObject tests = object.value(QStringLiteral("interference")).toObject();
    for (auto it = tests.begin(); it != tests.end(); ++it) {
        machine::Interference& read = interference[it.key()];
        const QJsonObject figures = it->toObject();
        for (const InterferenceFigure& figure : kInterferenceFigures) {
            const QJsonValue value = figures.value(QLatin1String(figure.key));
            if (value.isUndefined() || value.isNull())
                continue;
            if (!value.isDouble() || !(value.toDouble() >= 0.0 && value.toDouble() <= 1.0))
                return badDocument(
                    QStringLiteral("某次测试的干扰数据中“%1.%2”无效").arg(it.key(), QLatin1String(figure.key)));
            read.*figure.figure = value.toDouble();
        }
    }
    return interference;
}

QJsonObject machineToJson(const machine::MachineFacts& machine)
{
    return {
        { QStringLiteral("cpuModel"), machine.cpuModel },
        { QStringLiteral("logicalCpus"), machine.logicalCpus },
        { QStringLiteral("memoryBytes"), double(machine.memoryBytes) },
        { QStringLiteral("kernel"), machine.kernel },
        { QStringLiteral("os"), machine.os },
        { QStringLiteral("architecture"), machine.architecture },
        { QStringLiteral("governor"), textOrNull(machine.governor) },
        { QStringLiteral("fileSystem"), textOrNull(machine.fileSystem) },
    };
}

machine::MachineFacts machineFromJson(const QJsonObject& object)
{
    machine::MachineFacts machine;
    machine.cpuModel = object.value(QStringLiteral("cpuModel")).toString();
    machine.logicalCpus = object.value(QStringLiteral("logicalCpus")).toInt();
    // toInteger() refuses what no qint64 holds (1e300, NaN, 2.5) instead of converting it undefinedly.
    machine.memoryBytes = std::max<qint64>(0, object.value(QStringLiteral("memoryBytes")).toInteger(0));
    machine.kernel = object.value(QStringLiteral("kernel")).toString();
    machine.os = object.value(QStringLiteral("os")).toString();
    machine.architecture = object.value(QStringLiteral("architecture")).toString();
    machine.governor = object.value(QStringLiteral("governor")).toString();
    machine.fileSystem = object.value(QStringLiteral("fileSystem")).toString();
    return machine;
}

namespace {

// What every run's object holds: its scores, its overall score, and its extended results and interference figures.
QJsonObject runMembers(const RunRecord& run)
{
    QJsonObject scores;
    for (size_t i = 0; i < kTestKinds.size(); ++i)
        scores.insert(QLatin1String(kTestKinds[i].key), numberOrNull(run.scores[i]));
    QJsonObject object {
        { QStringLiteral("scores"), scores },
        { QStringLiteral("overall"), numberOrNull(run.overall) },
    };
    insertExtended(object, run.extended);
    insertInterference(object, run.interference);
    return object;
}

} // namespace

QJsonObject runToJson(const RunRecord& run)
{
    QJsonObject elapsed;
    for (size_t i = 0; i < kTestKinds.size(); ++i) {
        elapsed.insert(QLatin1String(kTestKinds[i].key),
                       run.elapsed[i] ? QJsonValue(*run.elapsed[i]) : QJsonValue(QJsonValue::Null));
    }
    QJsonObject object = runMembers(run);
    object.insert(QStringLiteral("finishedAt"), numberOrNull(run.finishedAt));
    object.insert(QStringLiteral("elapsed"), elapsed);
    object.insert(QStringLiteral("version"), run.version);
    object.insert(QStringLiteral("machine"), machineToJson(run.machine));
    object.insert(QStringLiteral("conditions"), QJsonArray::fromStringList(run.conditions));
    return object;
}

QJsonObject runReportToJson(const RunRecord& run, const QString& lastTimeText, const QStringList& problems)
{
    QJsonObject object = runMembers(run);
    object.insert(QStringLiteral("lastTime"), numberOrNull(run.finishedAt));
    object.insert(QStringLiteral("lastTimeText"), lastTimeText);
    object.insert(QStringLiteral("problems"), QJsonArray::fromStringList(problems));
    return object;
}

Result<RunRecord> runFromJson(const QJsonObject& object)
{
    RunRecord run;
    const QJsonValue finishedAt = object.value(QStringLiteral("finishedAt"));
    if (!finishedAt.isDouble() || !std::isfinite(finishedAt.toDouble()))
        return badDocument(QStringLiteral("某次测试缺少完成时间"));
    run.finishedAt = finishedAt.toDouble();
    const QJsonObject scores = object.value(QStringLiteral("scores")).toObject();
    const QJsonObject elapsed = object.value(QStringLiteral("elapsed")).toObject();
    for (size_t i = 0; i < kTestKinds.size(); ++i) {
        const QString key = QLatin1String(kTestKinds[i].key);
        const QJsonValue score = scores.value(key);
        if (!score.isDouble())
            return badDocument(QStringLiteral("某次测试缺少“%1”成绩").arg(key));
        run.scores[i] = score.toDouble();
        if (const QJsonValue seconds = elapsed.value(key); seconds.isDouble())
            run.elapsed[i] = seconds.toDouble();
    }
    const QJsonValue overall = object.value(QStringLiteral("overall"));
    if (!overall.isDouble())
        return badDocument(QStringLiteral("某次测试缺少总分"));
    run.overall = overall.toDouble();
    run.version = object.value(QStringLiteral("version")).toString();
    run.machine = machineFromJson(object.value(QStringLiteral("machine")).toObject());
    for (const QJsonValue& key : object.value(QStringLiteral("conditions")).toArray()) {
        if (key.isString())
            run.conditions << key.toString();
    }
    Result<ExtendedResults> extended = extendedFromJson(object);
    if (!extended)
        return extended.error();
    run.extended = std::move(extended).value();
    Result<QMap<QString, machine::Interference>> interference = interferenceFromJson(object);
    if (!interference)
        return interference.error();
    run.interference = std::move(interference).value();
    return run;
}

QJsonArray runsToJson(const QList<RunRecord>& runs)
{
    QJsonArray array;
    for (const RunRecord& run : runs)
        array.append(runToJson(run));
    return array;
}

} // namespace ostrel::history
