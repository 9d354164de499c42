// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/disk/DiskTest.h"

#include "ostrel/extended/JsonMembers.h"
#include "ostrel/extended/disk/FioDisk.h"

namespace ostrel::disk {

namespace {

QString rate(double value)
{
    return QString::number(value, 'f', value < 10.0 ? 1 : 0);
}

QString trueOrFalse(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

std::unique_ptr<ExtendedTest<DiskResult>> makeTest(const ExtendedSetup& setup)
{
    return std::make_unique<FioDisk>(FioDisk::Options { setup.folder });
}

QString line(const DiskResult& result)
{
    QStringList jobs;
    for (const DiskJobKind& kind : kDiskJobs) {
        const DiskJobResult& job = result.*kind.result;
        const QString title = QString::fromUtf16(kind.shortTitle);
        if (kind.random)
            jobs << QStringLiteral("%1 %2 IOPS（%3 MB/s）").arg(title, rate(job.iops.value_or(0.0)), rate(job.mbps));
        else
            jobs << QStringLiteral("%1 %2 MB/s").arg(title, rate(job.mbps));
    }
    QString line = QStringLiteral("磁盘：") + jobs.join(QStringLiteral("，"));
    if (!result.direct)
        line += QStringLiteral("，经过缓存");
    return line;
}

QString details(const DiskResult& result, const FinishedRun&)
{
    QStringList lines {
        QStringLiteral("文件夹：%1").arg(result.folder),
        QStringLiteral("文件系统：%1").arg(result.fileSystem.isEmpty() ? QStringLiteral("未知") : result.fileSystem),
        QStringLiteral("测试文件：%1 MiB").arg(result.fileBytes / kMiB),
        result.direct ? QStringLiteral("直接读写，不经过缓存") : QStringLiteral("经过缓存：文件系统不支持直接读写"),
    };
    return lines.join(QLatin1Char('\n'));
}

QString historyTip(const DiskResult& result)
{
    QString text = QStringLiteral("%1（%2），测试文件 %3 MiB")
                       .arg(result.folder, result.fileSystem)
                       .arg(result.fileBytes / kMiB);
    if (!result.direct)
        text += QStringLiteral("，经过缓存");
    return text;
}

QString state(std::size_t job)
{
    return QStringLiteral("正在测试 磁盘 ") + QString::fromUtf16(kDiskJobs[job].title);
}

QList<Figure<DiskResult>> figures()
{
    QList<Figure<DiskResult>> figures;
    for (const DiskJobKind& job : kDiskJobs) {
        const QString key = QLatin1String(job.key);
        const QString title = QString::fromUtf16(job.shortTitle);
        const auto member = job.result;
        // Random jobs are told apart by their IOPS, sequential ones by their rate.
        if (job.random) {
            figures << Figure<DiskResult> { key + QStringLiteral("_iops"),
                                            title + QStringLiteral(" IOPS"),
                                            0,
                                            Better::Higher,
                                            true,
                                            [member](const DiskResult& r) { return (r.*member).iops; } };
        }
        figures << Figure<DiskResult> { key + QStringLiteral("_mbps"),
                                        title + QStringLiteral(" MB/s"),
                                        1,
                                        Better::Higher,
                                        !job.random,
                                        [member](const DiskResult& r) { return (r.*member).mbps; } };
    }
    return figures;
}

QList<TextColumn<DiskResult>> texts()
{
    return {
        { QStringLiteral("folder"), [](const DiskResult& r) { return r.folder; } },
        { QStringLiteral("fileSystem"), [](const DiskResult& r) { return r.fileSystem; } },
        { QStringLiteral("direct"), [](const DiskResult& r) { return trueOrFalse(r.direct); } },
        { QStringLiteral("fileBytes"), [](const DiskResult& r) { return QString::number(r.fileBytes); } },
    };
}

QJsonObject toJson(const DiskResult& result)
{
    QJsonObject object {
        { QStringLiteral("folder"), result.folder },
        { QStringLiteral("fileSystem"), result.fileSystem },
        { QStringLiteral("direct"), result.direct },
        { QStringLiteral("fileBytes"), double(result.fileBytes) },
    };
    for (const DiskJobKind& job : kDiskJobs) {
        const DiskJobResult& measured = result.*job.result;
        QJsonObject figures { { QStringLiteral("mbps"), measured.mbps } };
        if (job.random)
            figures.insert(QStringLiteral("iops"), measured.iops.value_or(0.0));
        object.insert(QLatin1String(job.key), figures);
    }
    return object;
}

ExtendedResult<DiskResult> fromJson(const QJsonObject& object)
{
    using json::badMember;
    DiskResult result;
    const QJsonValue folder = object.value(QStringLiteral("folder"));
    const QJsonValue fileSystem = object.value(QStringLiteral("fileSystem"));
    const QJsonValue direct = object.value(QStringLiteral("direct"));
    if (!folder.isString())
        return badMember(QStringLiteral("folder"));
    if (!fileSystem.isString())
        return badMember(QStringLiteral("fileSystem"));
    if (!direct.isBool())
        return badMember(QStringLiteral("direct"));
    const std::optional<qint64> fileBytes = json::wholeNumber(object.value(QStringLiteral("fileBytes")), 0.0);
    if (!fileBytes)
        return badMember(QStringLiteral("fileBytes"));
    result.folder = folder.toString();
    result.fileSystem = fileSystem.toString();
    result.direct = direct.toBool();
    result.fileBytes = *fileBytes;
    for (const DiskJobKind& job : kDiskJobs) {
        const QString key = QLatin1String(job.key);
        const QJsonObject figures = object.value(key).toObject();
        DiskJobResult& measured = result.*job.result;
        const std::optional<double> mbps = json::nonNegative(figures.value(QStringLiteral("mbps")));
        if (!mbps)
            return badMember(key + QStringLiteral(".mbps"));
        measured.mbps = *mbps;
        if (job.random) {
            measured.iops = json::nonNegative(figures.value(QStringLiteral("iops")));
            if (!measured.iops)
                return badMember(key + QStringLiteral(".iops"));
        }
    }
    return result;
}

QList<MetricFamily> metrics(const DiskResult& result)
{
    MetricFamily rates { QStringLiteral("ostrel_disk_bytes_per_second"),
                         QStringLiteral("Transfer rate of one fio job on the test file."),
                         {} };
    MetricFamily iops { QStringLiteral("ostrel_disk_iops"),
                        QStringLiteral("Operations a second of one random fio job."),
                        {} };
    for (const DiskJobKind& job : kDiskJobs) {
        const DiskJobResult& measured = result.*job.result;
        const std::vector<std::pair<QString, QString>> labels { { QStringLiteral("job"),
                                                                  QLatin1String(job.metricJob) } };
        rates.samples << MetricSample { measured.mbps * 1e6, labels };
        if (job.random && measured.iops)
            iops.samples << MetricSample { *measured.iops, labels };
    }
    return {
        rates,
        iops,
        { QStringLiteral("ostrel_disk_file_size_bytes"),
          QStringLiteral("Size of the file the disk jobs ran on."),
          { { double(result.fileBytes) } } },
        { QStringLiteral("ostrel_disk_info"),
          QStringLiteral("Where the disk test ran; direct is false when the page cache was used."),
          { { 1.0,
              { { QStringLiteral("folder"), result.folder },
                { QStringLiteral("file_system"), result.fileSystem },
                { QStringLiteral("direct"), trueOrFalse(result.direct) } } } } },
    };
}

} // namespace ostrel::disk
