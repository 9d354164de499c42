// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/disk/FioReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <optional>

namespace ostrel::disk {

namespace {

// The report proper: from the first line that opens an object.
QByteArray reportPart(const QByteArray& output)
{
    if (output.startsWith('{'))
        return output;
    const qsizetype start = output.indexOf("\n{");
    return start < 0 ? QByteArray() : output.mid(start + 1);
}

std::optional<double> rateOf(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double rate = value.toDouble();
    if (!std::isfinite(rate) || rate < 0.0)
        return std::nullopt;
    return rate;
}

// One direction of a job: bytes a second and operations a second.
bool readDirection(const QJsonObject& job, const QString& key, double& bytesPerSecond, double& iops)
{
    const QJsonObject direction = job.value(key).toObject();
    std::optional<double> bytes = rateOf(direction.value(QStringLiteral("bw_bytes")));
    if (!bytes) {
        if (const std::optional<double> kib = rateOf(direction.value(QStringLiteral("bw"))))
            bytes = *kib * 1024.0;
    }
    const std::optional<double> operations = rateOf(direction.value(QStringLiteral("iops")));
    if (!bytes || !operations)
        return false;
    bytesPerSecond = *bytes;
    iops = *operations;
    return true;
}

FioReportError failed(const QString& reason)
{
    return { reason };
}

} // namespace

platform::Result<FioReport, FioReportError> readFioReport(const QByteArray& output)
{
    QByteArray report = reportPart(output);
    if (report.isEmpty())
        return failed(QStringLiteral("fio 没有给出报告"));
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(report, &error);
    // Text fio wrote after the report does not spoil it.
    if (error.error == QJsonParseError::GarbageAtEnd)
        document = QJsonDocument::fromJson(report.left(error.offset), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return failed(QStringLiteral("fio 的报告无法读取：%1").arg(error.errorString()));

    const QJsonObject root = document.object();
    FioReport parsed;
    parsed.version = root.value(QStringLiteral("fio version")).toString();
    const QJsonArray jobs = root.value(QStringLiteral("jobs")).toArray();
    if (jobs.isEmpty())
        return failed(QStringLiteral("fio 的报告里没有作业"));
    for (const QJsonValue& value : jobs) {
        const QJsonObject job = value.toObject();
        FioJobReport read;
        read.name = job.value(QStringLiteral("jobname")).toString();
        read.error = job.value(QStringLiteral("error")).toInt();
        if (!readDirection(job, QStringLiteral("read"), read.readBytesPerSecond, read.readIops)
            || !readDirection(job, QStringLiteral("write"), read.writeBytesPerSecond, read.writeIops))
            return failed(QStringLiteral("fio 的报告缺少作业 %1 的读写速度").arg(read.name));
        parsed.jobs << read;
    }
    return parsed;
}

} // namespace ostrel::disk
