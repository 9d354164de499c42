// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/ExtendedFigures.h"

#include "ostrel/engine/Panel.h"

namespace ostrel::history {

namespace {

// Short names of the four disk jobs, in kDiskJobs order, for narrow columns.
constexpr std::array<const char16_t*, 4> kDiskJobShortTitles { u"顺序读", u"顺序写", u"随机读", u"随机写" };

QList<ExtendedFigure> makeFigures()
{
    using Group = ExtendedFigure::Group;
    using Better = ExtendedFigure::Better;
    QList<ExtendedFigure> figures;
    figures << ExtendedFigure { Group::Multicore,
                                QStringLiteral("multicore_threads"),
                                QStringLiteral("多核线程数"),
                                0,
                                Better::Neither,
                                false,
                                [](const RunRecord& run) -> std::optional<double> {
                                    if (!run.multicore)
                                        return std::nullopt;
                                    return double(run.multicore->threads);
                                } };
    // The workloads share their keys with the first three of the five tests.
    for (size_t i = 0; i < kMulticoreWorkloads.size(); ++i) {
        const QString key = QLatin1String(kMulticoreWorkloads[i]);
        const QString title = QString::fromUtf16(kTestKinds[i].title);
        figures << ExtendedFigure { Group::Multicore,
                                    QStringLiteral("multicore_elapsed_") + key,
                                    QStringLiteral("多核 %1 用时（秒）").arg(title),
                                    3,
                                    Better::Lower,
                                    false,
                                    [i](const RunRecord& run) -> std::optional<double> {
                                        if (!run.multicore)
                                            return std::nullopt;
                                        return run.multicore->elapsed[i];
                                    } };
    }
    for (size_t i = 0; i < kMulticoreWorkloads.size(); ++i) {
        const QString key = QLatin1String(kMulticoreWorkloads[i]);
        const QString title = QString::fromUtf16(kTestKinds[i].title);
        figures << ExtendedFigure { Group::Multicore,
                                    QStringLiteral("multicore_speedup_") + key,
                                    QStringLiteral("多核加速 %1").arg(title),
                                    2,
                                    Better::Higher,
                                    false,
                                    [i](const RunRecord& run) -> std::optional<double> {
                                        if (!run.multicore)
                                            return std::nullopt;
                                        return run.multicore->speedup[i];
                                    } };
    }
    figures << ExtendedFigure { Group::Multicore,
                                QStringLiteral("multicore_speedup_overall"),
                                QStringLiteral("多核加速"),
                                2,
                                Better::Higher,
                                true,
                                [](const RunRecord& run) -> std::optional<double> {
                                    if (!run.multicore)
                                        return std::nullopt;
                                    return run.multicore->overall;
                                } };
    for (size_t i = 0; i < kDiskJobs.size(); ++i) {
        const DiskJobKind& job = kDiskJobs[i];
        const QString key = QStringLiteral("disk_") + QLatin1String(job.key);
        const QString title = QString::fromUtf16(kDiskJobShortTitles[i]);
        const auto member = job.result;
        // Random jobs are told apart by their IOPS, sequential ones by their rate.
        if (job.random) {
            figures << ExtendedFigure { Group::Disk,
                                        key + QStringLiteral("_iops"),
                                        title + QStringLiteral(" IOPS"),
                                        0,
                                        Better::Higher,
                                        true,
                                        [member](const RunRecord& run) -> std::optional<double> {
                                            if (!run.disk)
                                                return std::nullopt;
                                            return ((*run.disk).*member).iops;
                                        } };
        }
        figures << ExtendedFigure { Group::Disk,
                                    key + QStringLiteral("_mbps"),
                                    title + QStringLiteral(" MB/s"),
                                    1,
                                    Better::Higher,
                                    !job.random,
                                    [member](const RunRecord& run) -> std::optional<double> {
                                        if (!run.disk)
                                            return std::nullopt;
                                        return ((*run.disk).*member).mbps;
                                    } };
    }
    return figures;
}

} // namespace

QString ExtendedFigure::text(double figure) const
{
    return QString::number(figure, 'f', decimals);
}

const QList<ExtendedFigure>& extendedFigures()
{
    static const QList<ExtendedFigure> figures = makeFigures();
    return figures;
}

QList<ExtendedComparisonRow> compareExtended(const RunRecord& a, const RunRecord& b)
{
    const bool multicore = a.multicore || b.multicore;
    const bool disk = a.disk || b.disk;
    QList<ExtendedComparisonRow> rows;
    for (const ExtendedFigure& figure : extendedFigures()) {
        if (figure.group == ExtendedFigure::Group::Multicore ? multicore : disk)
            rows << ExtendedComparisonRow { &figure, figure.value(a), figure.value(b) };
    }
    return rows;
}

} // namespace ostrel::history
