// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/BundledDataText.h"

#include "vantor/net/IpDatabase.h"

#include <QDateTime>

namespace vantor::cli {

namespace {

QString buildDate(const QString& label, const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("%1未安装").arg(label);
    const auto file = MmdbFile::open(path);
    if (!file)
        return QStringLiteral("%1无法读取（%2）").arg(label, file.error().message);
    const QDateTime built = QDateTime::fromSecsSinceEpoch(qint64((*file)->buildEpoch()), Qt::UTC);
    return QStringLiteral("%1构建于 %2").arg(label, built.toString(QStringLiteral("yyyy-MM-dd")));
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
        + buildDate(QStringLiteral("国家数据库"), found.country) + QStringLiteral("，")
        + buildDate(QStringLiteral("ASN 数据库"), found.asn)
        + QStringLiteral(
               "。\n\n"
               "本地数据库：IP 地址国家数据来自 NRO 统计（nro.net，CC BY 4.0；ip-location-db 以 CC0 1.0 发布），"
               "ASN 数据来自 RouteViews（routeviews.org）与 DB-IP（https://db-ip.com，CC BY 4.0），"
               "已由本程序从 CSV 转换为 MaxMind DB 格式。\n");
}

} // namespace vantor::cli
