// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/BundledDatabases.h"

#include "vantor/net/IpDatabase.h"

#include <QDateTime>
#include <QStandardPaths>
#include <algorithm>
#include <cstdint>

namespace vantor {

BundledDatabases bundledDatabases()
{
    const auto find = [](const char* name) {
        return QStandardPaths::locate(QStandardPaths::GenericDataLocation, QString::fromLatin1(name));
    };
    return { find(kBundledCountryDatabase), find(kBundledAsnDatabase) };
}

std::optional<BundledAnswer> lookUpInBundledDatabases(const QString& address)
{
    const BundledDatabases files = bundledDatabases();
    if (files.country.isEmpty())
        return std::nullopt;
    ServiceConfig services;
    services.ipInfoFormat = IpInfoFormat::Mmdb;
    services.ipInfoDatabases = { files.country };
    services.asnDatabase = files.asn;
    const Result<IpDatabases> databases = sharedIpDatabases(services);
    const std::vector<DatabaseAge> ages = databaseAges(services, QDateTime::currentSecsSinceEpoch());
    if (!databases || ages.empty())
        return std::nullopt;
    return BundledAnswer { lookUpInDatabases(*databases, address), ages.front().built, ages.front().stale };
}

QDate buildDate(std::uint64_t buildEpoch)
{
    const auto seconds = static_cast<qint64>(std::min<std::uint64_t>(buildEpoch, std::uint64_t(INT64_MAX / 2)));
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).date();
}

QString localSourceLine(QDate built, bool stale)
{
    const QString date = built.toString(Qt::ISODate);
    if (stale)
        return QStringLiteral("来源：本地数据库（%1，已超过 %2 天，结果可能过时）")
            .arg(date)
            .arg(kBundledDataFreshDays);
    return QStringLiteral("来源：本地数据库（%1）").arg(date);
}

namespace {

QString builtText(const QString& label, const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("%1未安装").arg(label);
    const auto file = MmdbFile::open(path);
    if (!file)
        return QStringLiteral("%1无法读取（%2）").arg(label, file.error().message);
    return QStringLiteral("%1构建于 %2").arg(label, buildDate((*file)->buildEpoch()).toString(Qt::ISODate));
}

} // namespace

QString bundledDataText(const BundledDatabases& found)
{
    // Paragraphs as help2man reads them: the manual page's COPYRIGHT section takes all from the copyright line on.
    const QString copyright = QStringLiteral("\nCopyright 2026 The Ostrel and Vantor authors, GPL-3.0-or-later.\n\n");
    if (!found.any())
        return copyright + QStringLiteral("本地数据库：未安装（软件包 vantor-ip-data）。\n");
    // The country data's own licence file asks for credit to NRO as CC BY 4.0 does, so it is credited so.
    return copyright + QStringLiteral("本地数据库（vantor-ip-data）：")
        + builtText(QStringLiteral("国家数据库"), found.country) + QStringLiteral("，")
        + builtText(QStringLiteral("ASN 数据库"), found.asn)
        + QStringLiteral(
               "。\n\n"
               "本地数据库：IP 地址国家数据来自 NRO 统计（nro.net，CC BY 4.0；ip-location-db 以 CC0 1.0 发布），"
               "ASN 数据来自 RouteViews（routeviews.org）与 DB-IP（https://db-ip.com，CC BY 4.0），"
               "已由本程序从 CSV 转换为 MaxMind DB 格式。\n");
}

} // namespace vantor
