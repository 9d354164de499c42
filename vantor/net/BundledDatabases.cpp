// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/BundledDatabases.h"

#include "vantor/net/IpDatabase.h"

#include <QDateTime>
#include <QStandardPaths>

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
    services.ipInfoDatabase = files.country;
    services.asnDatabase = files.asn;
    const Result<IpDatabases> databases = sharedIpDatabases(services);
    if (!databases)
        return std::nullopt;
    return BundledAnswer { lookUpInDatabases(*databases, address), buildDate(databases->city->buildEpoch()) };
}

std::optional<QDate> localDatabaseBuildDate(const ServiceConfig& services)
{
    const Result<IpDatabases> databases = sharedIpDatabases(services);
    if (!databases || !databases->city)
        return std::nullopt;
    return buildDate(databases->city->buildEpoch());
}

QDate buildDate(std::uint64_t buildEpoch)
{
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(buildEpoch), Qt::UTC).date();
}

QString localSourceLine(QDate built, QDate today)
{
    const QString date = built.toString(Qt::ISODate);
    if (built.daysTo(today) > kBundledDataFreshDays)
        return QStringLiteral("来源：本地数据库（%1，已超过 %2 天，结果可能过时）")
            .arg(date)
            .arg(kBundledDataFreshDays);
    return QStringLiteral("来源：本地数据库（%1）").arg(date);
}

QString bundledDataStatus()
{
    const BundledDatabases files = bundledDatabases();
    QStringList parts;
    for (const auto& [name, path] : { std::pair { "国家", files.country }, std::pair { "ASN", files.asn } }) {
        if (path.isEmpty())
            continue;
        const Result<std::unique_ptr<MmdbFile>> file = MmdbFile::open(path);
        parts << QStringLiteral("%1 %2").arg(QString::fromUtf8(name),
                                             file ? buildDate((*file)->buildEpoch()).toString(Qt::ISODate)
                                                  : QStringLiteral("无法读取"));
    }
    if (parts.isEmpty())
        return QStringLiteral("本地数据库：未安装（由 vantor-ip-data 软件包提供）");
    return QStringLiteral("本地数据库：") + parts.join(QStringLiteral("，"));
}

QString bundledDataCredits()
{
    return QStringLiteral(
        "本地数据库：国家数据来自 ip-location-db 的 geo-whois-asn-country（CC0 1.0），其中含 NRO"
        "（https://www.nro.net）的统计数据（CC BY 4.0）；ASN 数据来自 RouteViews（https://www.routeviews.org）"
        "与 DB-IP（https://db-ip.com）的 IP to ASN Lite（CC BY 4.0，https://creativecommons.org/licenses/by/4.0/），"
        "经 ip-location-db 合并。两者均由 Vantor 转换为 MaxMind DB 格式（数据已修改）。");
}

} // namespace vantor
