// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/ResultsDocument.h"

#include "Panel.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonValue>
#include <QLocale>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

namespace ostrel::history {

namespace {

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QString number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString csvField(QString text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    text.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

HistoryError badDocument(const QString& why)
{
    return { HistoryError::Kind::BadDocument, QStringLiteral("这不是 Ostrel 导出的成绩文件：%1").arg(why) };
}

} // namespace

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
    machine.memoryBytes = qint64(object.value(QStringLiteral("memoryBytes")).toDouble());
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
        scores.insert(key, run.scores[i]);
        elapsed.insert(key, run.elapsed[i] ? QJsonValue(*run.elapsed[i]) : QJsonValue(QJsonValue::Null));
    }
    return {
        { QStringLiteral("finishedAt"), run.finishedAt },
        { QStringLiteral("scores"), scores },
        { QStringLiteral("overall"), run.overall },
        { QStringLiteral("elapsed"), elapsed },
        { QStringLiteral("version"), run.version },
        { QStringLiteral("machine"), machineToJson(run.machine) },
        { QStringLiteral("conditions"), QJsonArray::fromStringList(run.conditions) },
    };
}

Expected<RunRecord> runFromJson(const QJsonObject& object)
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

    QString csv = header.join(QLatin1Char(',')) + QLatin1Char('\n');
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
        for (QString& field : row)
            field = csvField(field);
        csv += row.join(QLatin1Char(',')) + QLatin1Char('\n');
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
    QSaveFile file(path);
    const QByteArray bytes = writeResultsDocument(document);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return HistoryError {
            HistoryError::Kind::CannotOpen,
            QStringLiteral("无法写入文件：%1（%2）").arg(QDir::toNativeSeparators(path), file.errorString())
        };
    return Done {};
}

Expected<ResultsDocument> readResultsDocument(const QByteArray& json)
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
    for (const QJsonValue& value : runs.toArray()) {
        if (!value.isObject())
            return badDocument(QStringLiteral("测试记录不是对象"));
        Expected<RunRecord> run = runFromJson(value.toObject());
        if (!run)
            return run.error();
        document.runs.append(std::move(run).value());
    }
    if (document.runs.isEmpty())
        return badDocument(QStringLiteral("文件里没有测试记录"));
    std::stable_sort(document.runs.begin(), document.runs.end(),
                     [](const RunRecord& a, const RunRecord& b) { return a.finishedAt > b.finishedAt; });
    return document;
}

Expected<ResultsDocument> readResultsFile(const QString& path)
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
    return readResultsDocument(file.readAll());
}

} // namespace ostrel::history
