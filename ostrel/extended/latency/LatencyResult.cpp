// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/latency/LatencyResult.h"

#include "ostrel/extended/latency/Chase.h"
#include "platform/OutsideFile.h"

#include <QDir>
#include <QJsonArray>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace ostrel::latency {

namespace {

constexpr qint64 kGiB = qint64(1) << 30;

QByteArray fileText(const QString& path)
{
    return platform::readOutsideFile(path, 4 * kKiB).value_or(QByteArray()).trimmed();
}

// "48K", "32768K", "1M" or a plain number of bytes, as sysfs writes cache sizes.
std::optional<qint64> cacheSize(QByteArray text)
{
    qint64 unit = 1;
    if (text.endsWith('K'))
        unit = kKiB;
    else if (text.endsWith('M'))
        unit = kMiB;
    else if (text.endsWith('G'))
        unit = kGiB;
    if (unit != 1)
        text.chop(1);
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    if (!ok || number <= 0 || number > std::numeric_limits<qint64>::max() / unit)
        return std::nullopt;
    return number * unit;
}

struct KindName
{
    Figure::Kind kind;
    const char* key;
    const char16_t* label;
};

constexpr std::array<KindName, 5> kKinds { {
    { Figure::Kind::L1, "L1", u"L1" },
    { Figure::Kind::L2, "L2", u"L2" },
    { Figure::Kind::L3, "L3", u"L3" },
    { Figure::Kind::Memory, "memory", u"内存" },
    { Figure::Kind::Tlb, "tlb", u"TLB" },
} };

const KindName& kindName(Figure::Kind kind)
{
    return *std::find_if(kKinds.begin(), kKinds.end(), [kind](const KindName& k) { return k.kind == kind; });
}

const Figure* findFigure(const LatencyResult& result, Figure::Kind kind)
{
    const auto found = std::find_if(result.figures.begin(), result.figures.end(),
                                    [kind](const Figure& figure) { return figure.kind == kind; });
    return found == result.figures.end() ? nullptr : &*found;
}

bool isFinite(const QJsonValue& value)
{
    return value.isDouble() && std::isfinite(value.toDouble());
}

// A whole number from `least` up to 2^53, the largest a JSON number holds exactly.
std::optional<qint64> wholeNumber(const QJsonValue& value, double least)
{
    if (!isFinite(value))
        return std::nullopt;
    const double number = value.toDouble();
    if (number < least || number != std::floor(number) || number > 9007199254740992.0)
        return std::nullopt;
    return qint64(number);
}

LatencyJsonError bad(const QString& member)
{
    return { member };
}

} // namespace

std::vector<CacheLevel> cacheLayout(const QString& sysRoot)
{
    const QDir caches(sysRoot + QStringLiteral("/devices/system/cpu/cpu0/cache"));
    std::vector<CacheLevel> layout;
    for (const QString& index : caches.entryList({ QStringLiteral("index*") }, QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString folder = caches.filePath(index) + QLatin1Char('/');
        bool ok = false;
        const int level = fileText(folder + QStringLiteral("level")).toInt(&ok);
        const std::optional<qint64> size = cacheSize(fileText(folder + QStringLiteral("size")));
        const QByteArray type = fileText(folder + QStringLiteral("type"));
        if (!ok || level <= 0 || !size)
            continue;
        CacheLevel cache { level, CacheLevel::Type::Unified, *size };
        if (type == "Data")
            cache.type = CacheLevel::Type::Data;
        else if (type == "Instruction")
            cache.type = CacheLevel::Type::Instruction;
        else if (type != "Unified")
            continue;
        layout.push_back(cache);
    }
    return layout;
}

std::optional<qint64> lastLevelCacheBytes(const std::vector<CacheLevel>& layout)
{
    int highest = 0;
    std::optional<qint64> bytes;
    for (const CacheLevel& cache : layout) {
        if (cache.type == CacheLevel::Type::Instruction || cache.level < highest)
            continue;
        if (cache.level > highest)
            bytes.reset();
        highest = cache.level;
        bytes = std::max(bytes.value_or(0), cache.bytes);
    }
    return bytes;
}

std::optional<double> latencyAt(const Curve& curve, qint64 bytes)
{
    const std::vector<Point>& points = curve.points;
    if (points.empty() || bytes < points.front().bytes || bytes > points.back().bytes)
        return std::nullopt;
    const auto above = std::lower_bound(points.begin(), points.end(), bytes,
                                        [](const Point& point, qint64 x) { return point.bytes < x; });
    if (above->bytes == bytes)
        return above->seconds;
    const Point& a = *(above - 1);
    const Point& b = *above;
    const double t = std::log(double(bytes) / double(a.bytes)) / std::log(double(b.bytes) / double(a.bytes));
    return a.seconds + t * (b.seconds - a.seconds);
}

std::vector<Figure> latencyFigures(const Curve& hugePages, const Curve* smallPages, bool hugePagesThere,
                                   const std::vector<CacheLevel>& layout)
{
    std::vector<Figure> figures;
    constexpr std::array<Figure::Kind, 3> kLevels { Figure::Kind::L1, Figure::Kind::L2, Figure::Kind::L3 };
    for (int level = 1; level <= 3; ++level) {
        const auto cache = std::find_if(layout.begin(), layout.end(), [level](const CacheLevel& c) {
            return c.level == level && c.type != CacheLevel::Type::Instruction;
        });
        if (cache == layout.end())
            continue;
        const qint64 at = std::max(kLineBytes, cache->bytes / 2 / kLineBytes * kLineBytes);
        if (const std::optional<double> seconds = latencyAt(hugePages, at))
            figures.push_back({ kLevels[size_t(level - 1)], cache->bytes, at, *seconds });
    }
    if (const std::optional<qint64> lastLevel = lastLevelCacheBytes(layout)) {
        if (const std::optional<double> seconds = latencyAt(hugePages, 4 * *lastLevel))
            figures.push_back({ Figure::Kind::Memory, 0, 4 * *lastLevel, *seconds });
    }
    if (hugePagesThere && smallPages && !hugePages.points.empty() && !smallPages->points.empty()) {
        const qint64 at = std::min(hugePages.points.back().bytes, smallPages->points.back().bytes);
        const std::optional<double> small = latencyAt(*smallPages, at);
        const std::optional<double> huge = latencyAt(hugePages, at);
        if (small && huge)
            figures.push_back({ Figure::Kind::Tlb, 0, at, *small - *huge });
    }
    return figures;
}

QString latencyText(double seconds)
{
    const double ns = seconds * 1e9;
    if (std::abs(ns) < 0.995)
        return QString::number(ns, 'f', 2) + QStringLiteral(" ns");
    if (std::abs(ns) < 9.95)
        return QString::number(ns, 'f', 1) + QStringLiteral(" ns");
    return QString::number(std::llround(ns)) + QStringLiteral(" ns");
}

QString bytesText(qint64 bytes)
{
    struct Unit
    {
        qint64 bytes;
        const char* name;
    };
    constexpr std::array<Unit, 3> kUnits { { { kGiB, "GiB" }, { kMiB, "MiB" }, { kKiB, "KiB" } } };
    for (const Unit& unit : kUnits) {
        if (bytes >= unit.bytes && bytes % unit.bytes == 0)
            return QStringLiteral("%1 %2").arg(bytes / unit.bytes).arg(QLatin1String(unit.name));
    }
    for (const Unit& unit : kUnits) {
        if (bytes >= unit.bytes)
            return QStringLiteral("%1 %2")
                .arg(double(bytes) / double(unit.bytes), 0, 'f', 1)
                .arg(QLatin1String(unit.name));
    }
    return QStringLiteral("%1 B").arg(bytes);
}

QString summaryText(const LatencyResult& result)
{
    QStringList parts;
    for (const KindName& kind : kKinds) {
        if (kind.kind == Figure::Kind::Tlb)
            continue;
        if (const Figure* figure = findFigure(result, kind.kind))
            parts << QString::fromUtf16(kind.label) + QLatin1Char(' ') + latencyText(figure->seconds);
    }
    if (parts.isEmpty())
        return QStringLiteral("内存延迟：没有可读出的数值，见曲线");
    return QStringLiteral("内存延迟：") + parts.join(QStringLiteral("，"));
}

QString toolTipText(const LatencyResult& result)
{
    QStringList lines;
    QStringList caches;
    for (const Figure& figure : result.figures) {
        if (figure.cacheBytes > 0)
            caches << QString::fromUtf16(kindName(figure.kind).label)
                    + (figure.kind == Figure::Kind::L1 ? QStringLiteral(" 数据 ") : QStringLiteral(" "))
                    + bytesText(figure.cacheBytes);
    }
    if (!caches.isEmpty())
        lines << QStringLiteral("缓存：") + caches.join(QStringLiteral("，"))
                + QStringLiteral("；每级的延迟在其一半大小处读出");
    if (const Figure* memory = findFigure(result, Figure::Kind::Memory))
        lines << QStringLiteral("内存的延迟在末级缓存的 4 倍（%1）处读出").arg(bytesText(memory->atBytes));
    const Figure* tlb = findFigure(result, Figure::Kind::Tlb);
    // Where the TLB costs nothing measurable, noise can make the 4 KiB pages read faster.
    if (tlb && tlb->seconds > 0.0)
        lines << QStringLiteral("TLB 的开销：%1 处 4 KiB 页比大页每次读多 %2")
                     .arg(bytesText(tlb->atBytes), latencyText(tlb->seconds));
    else if (tlb)
        lines << QStringLiteral("TLB 的开销：%1 处 4 KiB 页不比大页慢").arg(bytesText(tlb->atBytes));
    else if (!result.hugePages)
        lines << QStringLiteral("大页未生效：两条曲线都用的是 4 KiB 页");
    if (result.reduced && !result.curves.empty() && !result.curves.front().points.empty())
        lines << QStringLiteral("可用内存不多，工作集只测到 %1")
                     .arg(bytesText(result.curves.front().points.back().bytes));
    qsizetype disturbed = 0;
    for (const Curve& curve : result.curves)
        disturbed
            += std::count_if(curve.points.begin(), curve.points.end(), [](const Point& p) { return p.disturbed; });
    if (disturbed > 0)
        lines << QStringLiteral("%1 个点测量时线程在 CPU 上的时间不足九成，读数可能偏慢").arg(disturbed);
    return lines.join(QLatin1Char('\n'));
}

ResultCurve resultCurve(const Curve& curve)
{
    ResultCurve drawn { curve.name, curve.xTitle, curve.xUnit, curve.yTitle, curve.yUnit, curve.logarithmicX, {} };
    for (const Point& point : curve.points)
        drawn.points << CurvePoint { double(point.bytes), point.seconds, point.disturbed };
    return drawn;
}

QJsonObject toJson(const LatencyResult& result)
{
    QJsonArray curves;
    for (const Curve& curve : result.curves) {
        QJsonObject object = curveJson(resultCurve(curve));
        QJsonArray shares;
        for (const Point& point : curve.points)
            shares.append(point.onCpuShare);
        object.insert(QStringLiteral("onCpuShare"), shares);
        curves.append(object);
    }
    QJsonArray figures;
    for (const Figure& figure : result.figures) {
        figures.append(QJsonObject {
            { QStringLiteral("kind"), QLatin1String(kindName(figure.kind).key) },
            { QStringLiteral("cacheBytes"), double(figure.cacheBytes) },
            { QStringLiteral("atBytes"), double(figure.atBytes) },
            { QStringLiteral("seconds"), figure.seconds },
        });
    }
    return {
        { QStringLiteral("curves"), curves },
        { QStringLiteral("figures"), figures },
        { QStringLiteral("hugePages"), result.hugePages },
        { QStringLiteral("reduced"), result.reduced },
    };
}

platform::Result<LatencyResult, LatencyJsonError> fromJson(const QJsonObject& json)
{
    LatencyResult result;
    for (auto [key, flag] :
         { std::pair { "hugePages", &result.hugePages }, std::pair { "reduced", &result.reduced } }) {
        const QJsonValue value = json.value(QLatin1String(key));
        if (!value.isBool())
            return bad(QLatin1String(key));
        *flag = value.toBool();
    }
    const QJsonValue curves = json.value(QStringLiteral("curves"));
    if (!curves.isArray())
        return bad(QStringLiteral("curves"));
    for (qsizetype c = 0; c < curves.toArray().size(); ++c) {
        const QString at = QStringLiteral("curves[%1]").arg(c);
        const QJsonObject object = curves.toArray().at(c).toObject();
        Curve curve;
        for (auto [key, text] : { std::pair { "name", &curve.name }, std::pair { "xTitle", &curve.xTitle },
                                  std::pair { "xUnit", &curve.xUnit }, std::pair { "yTitle", &curve.yTitle },
                                  std::pair { "yUnit", &curve.yUnit } }) {
            const QJsonValue value = object.value(QLatin1String(key));
            if (!value.isString())
                return bad(at + QLatin1Char('.') + QLatin1String(key));
            *text = value.toString();
        }
        const QJsonValue logarithmic = object.value(QStringLiteral("logarithmicX"));
        if (!logarithmic.isBool())
            return bad(at + QStringLiteral(".logarithmicX"));
        curve.logarithmicX = logarithmic.toBool();
        if (!object.value(QStringLiteral("points")).isArray())
            return bad(at + QStringLiteral(".points"));
        const QJsonArray points = object.value(QStringLiteral("points")).toArray();
        const QJsonArray shares = object.value(QStringLiteral("onCpuShare")).toArray();
        if (!object.value(QStringLiteral("onCpuShare")).isArray() || shares.size() != points.size())
            return bad(at + QStringLiteral(".onCpuShare"));
        for (qsizetype i = 0; i < points.size(); ++i) {
            const QJsonArray pair = points.at(i).toArray();
            const std::optional<qint64> bytes = pair.size() == 2 ? wholeNumber(pair.at(0), 1) : std::nullopt;
            const bool rising = curve.points.empty() || (bytes && *bytes > curve.points.back().bytes);
            if (!bytes || !rising || !isFinite(pair.at(1)) || pair.at(1).toDouble() < 0.0)
                return bad(at + QStringLiteral(".points[%1]").arg(i));
            const double share = shares.at(i).toDouble(-1.0);
            if (!isFinite(shares.at(i)) || share < 0.0 || share > 1.0)
                return bad(at + QStringLiteral(".onCpuShare[%1]").arg(i));
            curve.points.push_back({ *bytes, pair.at(1).toDouble(), share, false });
        }
        const QJsonValue disturbed = object.value(QStringLiteral("disturbed"));
        if (!disturbed.isArray())
            return bad(at + QStringLiteral(".disturbed"));
        for (const QJsonValue& index : disturbed.toArray()) {
            const std::optional<qint64> i = wholeNumber(index, 0);
            if (!i || *i >= qint64(curve.points.size()))
                return bad(at + QStringLiteral(".disturbed"));
            curve.points[size_t(*i)].disturbed = true;
        }
        result.curves.push_back(std::move(curve));
    }
    const QJsonValue figures = json.value(QStringLiteral("figures"));
    if (!figures.isArray())
        return bad(QStringLiteral("figures"));
    for (qsizetype f = 0; f < figures.toArray().size(); ++f) {
        const QJsonObject object = figures.toArray().at(f).toObject();
        const QString key = object.value(QStringLiteral("kind")).toString();
        const auto kind = std::find_if(kKinds.begin(), kKinds.end(),
                                       [&key](const KindName& k) { return key == QLatin1String(k.key); });
        const std::optional<qint64> cacheBytes = wholeNumber(object.value(QStringLiteral("cacheBytes")), 0);
        const std::optional<qint64> atBytes = wholeNumber(object.value(QStringLiteral("atBytes")), 1);
        const QJsonValue seconds = object.value(QStringLiteral("seconds"));
        if (kind == kKinds.end() || !cacheBytes || !atBytes || !isFinite(seconds))
            return bad(QStringLiteral("figures[%1]").arg(f));
        result.figures.push_back({ kind->kind, *cacheBytes, *atBytes, seconds.toDouble() });
    }
    return result;
}

} // namespace ostrel::latency
