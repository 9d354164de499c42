// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/ResultsDocument.h"

#include "ostrel/engine/Panel.h"
#include "ostrel/engine/Plausibility.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/history/ExtendedFigures.h"
#include "platform/Csv.h"
#include "platform/DateText.h"
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

namespace {

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

// Empty for no value (NaN).
QString number(double value)
{
    return std::isnan(value) ? QString() : QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QJsonValue numberOrNull(double value)
{
    return std::isnan(value) ? QJsonValue(QJsonValue::Null) : QJsonValue(value);
}

// The texts of a run that no machine gives: a name for each and the text.
QList<std::pair<QString, const QString*>> texts(const MachineFacts& machine)
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

HistoryError badDocument(const QString& why)
{
    return { HistoryError::Kind::BadDocument, QStringLiteral("这不是 Ostrel 导出的成绩文件：%1").arg(why) };
}

// A finite number of at least zero.
std::optional<double> nonNegative(const QJsonValue& value)
{
    if (!value.isDouble() || !std::isfinite(value.toDouble()) || value.toDouble() < 0.0)
        return std::nullopt;
    return value.toDouble();
}

// A whole number from `least` up to 2^53, the largest a JSON number holds exactly.
std::optional<qint64> wholeNumber(const QJsonValue& value, double least)
{
    const std::optional<double> number = nonNegative(value);
    if (!number || *number < least || *number != std::floor(*number) || *number > 9007199254740992.0)
        return std::nullopt;
    return qint64(*number);
}

HistoryError badExtended(const QString& test, const QString& member)
{
    return badDocument(QStringLiteral("某次测试的%1结果中“%2”无效").arg(test, member));
}

// An extended result's member: absent (or null) for a run without that test.
template <typename Value, typename Read>
Status readExtended(const QJsonObject& run, const QString& key, std::optional<Value>& into, Read read)
{
    const QJsonValue value = run.value(key);
    if (value.isUndefined() || value.isNull())
        return Done {};
    Result<Value> result = read(value);
    if (!result)
        return result.error();
    into = std::move(result).value();
    return Done {};
}

HistoryError impossibleValue(const QString& what)
{
    return { HistoryError::Kind::BadDocument, QStringLiteral("成绩文件里有 Ostrel 不可能写出的数值：%1").arg(what) };
}

} // namespace

QJsonObject multicoreToJson(const MulticoreResult& multicore)
{
    QJsonObject elapsed;
    QJsonObject speedup;
    for (size_t i = 0; i < kMulticoreWorkloads.size(); ++i) {
        elapsed.insert(QLatin1String(kMulticoreWorkloads[i]), multicore.elapsed[i]);
        speedup.insert(QLatin1String(kMulticoreWorkloads[i]), multicore.speedup[i]);
    }
    speedup.insert(QStringLiteral("overall"), multicore.overall);
    return {
        { QStringLiteral("threads"), multicore.threads },
        { QStringLiteral("elapsed"), elapsed },
        { QStringLiteral("speedup"), speedup },
    };
}

Result<MulticoreResult> multicoreFromJson(const QJsonValue& value)
{
    const QString test = QStringLiteral("多核");
    if (!value.isObject())
        return badExtended(test, QStringLiteral("multicore"));
    const QJsonObject object = value.toObject();
    MulticoreResult multicore;
    const std::optional<qint64> threads = wholeNumber(object.value(QStringLiteral("threads")), 1.0);
    if (!threads || *threads > std::numeric_limits<int>::max())
        return badExtended(test, QStringLiteral("threads"));
    multicore.threads = int(*threads);
    const QJsonObject elapsed = object.value(QStringLiteral("elapsed")).toObject();
    const QJsonObject speedup = object.value(QStringLiteral("speedup")).toObject();
    for (size_t i = 0; i < kMulticoreWorkloads.size(); ++i) {
        const QString key = QLatin1String(kMulticoreWorkloads[i]);
        const std::optional<double> seconds = nonNegative(elapsed.value(key));
        if (!seconds)
            return badExtended(test, QStringLiteral("elapsed.") + key);
        const std::optional<double> factor = nonNegative(speedup.value(key));
        if (!factor)
            return badExtended(test, QStringLiteral("speedup.") + key);
        multicore.elapsed[i] = *seconds;
        multicore.speedup[i] = *factor;
    }
    const std::optional<double> overall = nonNegative(speedup.value(QStringLiteral("overall")));
    if (!overall)
        return badExtended(test, QStringLiteral("speedup.overall"));
    multicore.overall = *overall;
    return multicore;
}

QJsonObject diskToJson(const DiskResult& disk)
{
    QJsonObject object {
        { QStringLiteral("folder"), disk.folder },
        { QStringLiteral("fileSystem"), disk.fileSystem },
        { QStringLiteral("direct"), disk.direct },
        { QStringLiteral("fileBytes"), double(disk.fileBytes) },
    };
    for (const DiskJobKind& job : kDiskJobs) {
        const DiskJobResult& result = disk.*job.result;
        QJsonObject figures { { QStringLiteral("mbps"), result.mbps } };
        if (job.random)
            figures.insert(QStringLiteral("iops"), result.iops.value_or(0.0));
        object.insert(QLatin1String(job.key), figures);
    }
    return object;
}

Result<DiskResult> diskFromJson(const QJsonValue& value)
{
    const QString test = QStringLiteral("磁盘");
    if (!value.isObject())
        return badExtended(test, QStringLiteral("disk"));
    const QJsonObject object = value.toObject();
    DiskResult disk;
    const QJsonValue folder = object.value(QStringLiteral("folder"));
    const QJsonValue fileSystem = object.value(QStringLiteral("fileSystem"));
    const QJsonValue direct = object.value(QStringLiteral("direct"));
    if (!folder.isString())
        return badExtended(test, QStringLiteral("folder"));
    if (!fileSystem.isString())
        return badExtended(test, QStringLiteral("fileSystem"));
    if (!direct.isBool())
        return badExtended(test, QStringLiteral("direct"));
    const std::optional<qint64> fileBytes = wholeNumber(object.value(QStringLiteral("fileBytes")), 0.0);
    if (!fileBytes)
        return badExtended(test, QStringLiteral("fileBytes"));
    disk.folder = folder.toString();
    disk.fileSystem = fileSystem.toString();
    disk.direct = direct.toBool();
    disk.fileBytes = *fileBytes;
    for (const DiskJobKind& job : kDiskJobs) {
        const QString key = QLatin1String(job.key);
        const QJsonObject figures = object.value(key).toObject();
        DiskJobResult& result = disk.*job.result;
        const std::optional<double> mbps = nonNegative(figures.value(QStringLiteral("mbps")));
        if (!mbps)
            return badExtended(test, key + QStringLiteral(".mbps"));
        result.mbps = *mbps;
        if (job.random) {
            result.iops = nonNegative(figures.value(QStringLiteral("iops")));
            if (!result.iops)
                return badExtended(test, key + QStringLiteral(".iops"));
        }
    }
    return disk;
}

QJsonObject machineToJson(const MachineFacts& machine)
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

MachineFacts machineFromJson(const QJsonObject& object)
{
    MachineFacts machine;
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

QJsonObject runToJson(const RunRecord& run)
{
    QJsonObject scores;
    QJsonObject elapsed;
    for (size_t i = 0; i < kTestKinds.size(); ++i) {
        const QString key = QLatin1String(kTestKinds[i].key);
        scores.insert(key, numberOrNull(run.scores[i]));
        elapsed.insert(key, run.elapsed[i] ? QJsonValue(*run.elapsed[i]) : QJsonValue(QJsonValue::Null));
    }
    QJsonObject object {
        { QStringLiteral("finishedAt"), numberOrNull(run.finishedAt) },
        { QStringLiteral("scores"), scores },
        { QStringLiteral("overall"), numberOrNull(run.overall) },
        { QStringLiteral("elapsed"), elapsed },
        { QStringLiteral("version"), run.version },
        { QStringLiteral("machine"), machineToJson(run.machine) },
        { QStringLiteral("conditions"), QJsonArray::fromStringList(run.conditions) },
    };
    if (run.multicore)
        object.insert(QStringLiteral("multicore"), multicoreToJson(*run.multicore));
    if (run.disk)
        object.insert(QStringLiteral("disk"), diskToJson(*run.disk));
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
    if (Status read = readExtended(object, QStringLiteral("multicore"), run.multicore, multicoreFromJson); !read)
        return read.error();
    if (Status read = readExtended(object, QStringLiteral("disk"), run.disk, diskFromJson); !read)
        return read.error();
    return run;
}

QString implausibleMachine(const MachineFacts& machine)
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

QJsonArray runsToJson(const QList<RunRecord>& runs)
{
    QJsonArray array;
    for (const RunRecord& run : runs)
        array.append(runToJson(run));
    return array;
}

QString runsToCsv(const QList<RunRecord>& runs)
{
    QStringList header { QStringLiteral("finishedAt") };
    for (const TestKind& kind : kTestKinds)
        header << QLatin1String(kind.key);
    header << QStringLiteral("overall");
    for (const TestKind& kind : kTestKinds)
        header << QStringLiteral("elapsed_") + QLatin1String(kind.key);
    header << QStringLiteral("version") << QStringLiteral("cpuModel") << QStringLiteral("logicalCpus")
           << QStringLiteral("memoryBytes") << QStringLiteral("kernel") << QStringLiteral("os")
           << QStringLiteral("architecture") << QStringLiteral("governor") << QStringLiteral("fileSystem")
           << QStringLiteral("conditions");
    // The extended results last, so the columns before them stay where they were; the disk's folder and file
    // system before its figures.
    const QList<ExtendedFigure>& figures = extendedFigures();
    auto diskFigures = std::find_if(figures.begin(), figures.end(),
                                    [](const ExtendedFigure& f) { return f.group == ExtendedFigure::Group::Disk; });
    for (auto figure = figures.begin(); figure != figures.end(); ++figure) {
        if (figure == diskFigures)
            header << QStringLiteral("disk_folder") << QStringLiteral("disk_fileSystem")
                   << QStringLiteral("disk_direct") << QStringLiteral("disk_fileBytes");
        header << figure->key;
    }

    QString csv = platform::csvRecord(header, platform::CsvLineEnd::Lf);
    for (const RunRecord& run : runs) {
        QStringList row { number(run.finishedAt) };
        for (double score : run.scores)
            row << number(score);
        row << number(run.overall);
        for (const std::optional<double>& elapsed : run.elapsed)
            row << (elapsed ? number(*elapsed) : QString());
        const MachineFacts& m = run.machine;
        row << run.version << m.cpuModel << QString::number(m.logicalCpus) << QString::number(m.memoryBytes) << m.kernel
            << m.os << m.architecture << m.governor << m.fileSystem << run.conditions.join(QLatin1Char(';'));
        for (auto figure = figures.begin(); figure != figures.end(); ++figure) {
            if (figure == diskFigures) {
                if (run.disk)
                    row << run.disk->folder << run.disk->fileSystem
                        << (run.disk->direct ? QStringLiteral("true") : QStringLiteral("false"))
                        << QString::number(run.disk->fileBytes);
                else
                    row << QString() << QString() << QString() << QString();
            }
            const std::optional<double> value = figure->value(run);
            row << (value ? number(*value) : QString());
        }
        csv += platform::csvRecord(row, platform::CsvLineEnd::Lf);
    }
    return csv;
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
    if (const platform::FileWrite written = platform::writeWholeFile(path, writeResultsDocument(document)); !written)
        return HistoryError {
            HistoryError::Kind::CannotOpen,
            QStringLiteral("无法写入文件：%1（%2）").arg(QDir::toNativeSeparators(path), written.reason)
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return HistoryError {
            HistoryError::Kind::CannotOpen,
            QStringLiteral("无法读取文件：%1（%2）").arg(QDir::toNativeSeparators(path), file.errorString())
        };
    // Ten thousand runs take about 10 MB; anything far larger is not a results document.
    constexpr qint64 kLargestDocument = 256LL * 1024 * 1024;
    if (file.size() > kLargestDocument)
        return badDocument(QStringLiteral("文件太大"));
    return readResultsDocument(file.readAll(), clock);
}

} // namespace ostrel::history
