// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/Summary.h"

#include "platform/Csv.h"
#include "platform/PrintableText.h"
#include "vantor/cli/AnswerWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <arpa/inet.h>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace vantor::cli {

namespace {

constexpr int kRegisterBits = 14;
constexpr std::size_t kRegisters = std::size_t(1) << kRegisterBits;

std::uint64_t mixed(std::uint64_t x)
{
    // splitmix64's finaliser: every bit of the input moves every bit of the output.
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

std::uint64_t hashOf(const AddressKey& key)
{
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::memcpy(&high, key.data(), 8);
    std::memcpy(&low, key.data() + 8, 8);
    return mixed(high ^ mixed(low + 0x9e3779b97f4a7c15ULL));
}

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QString shareText(double share)
{
    return QString::number(share, 'f', 4);
}

// How many columns of a terminal the text takes: East Asian wide characters two, the rest one.
qsizetype displayWidth(const QString& text)
{
    qsizetype width = 0;
    for (const char32_t c : text.toUcs4()) {
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3)
            || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60)
            || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x20000 && c <= 0x3FFFD);
        width += wide ? 2 : 1;
    }
    return width;
}

// Rows of cells in columns as wide as their widest cell, two spaces apart; the columns `rightAligned` names (by a
// bit each) are aligned to the right, as numbers are.
QString table(const QList<QStringList>& rows, unsigned rightAligned, const QString& indent)
{
    QList<qsizetype> widths;
    for (const QStringList& row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (widths.size() <= i)
                widths.append(0);
            widths[i] = std::max(widths[i], displayWidth(row[i]));
        }
    }
    QString text;
    for (const QStringList& row : rows) {
        QString line = indent;
        for (qsizetype i = 0; i < row.size(); ++i) {
            const QString padding(widths[i] - displayWidth(row[i]), QLatin1Char(' '));
            if (i > 0)
                line += QStringLiteral("  ");
            line += (rightAligned >> i) & 1 ? padding + row[i] : row[i] + padding;
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        text += line + QLatin1Char('\n');
    }
    return text;
}

} // namespace

AddressKey addressKey(std::string_view address)
{
    AddressKey key {};
    char text[64];
    if (address.size() < sizeof text) {
        std::memcpy(text, address.data(), address.size());
        text[address.size()] = '\0';
        if (::inet_pton(AF_INET6, text, key.data()) == 1)
            return key;
        if (::inet_pton(AF_INET, text, key.data() + 12) == 1) {
            key[10] = key[11] = 0xff;
            return key;
        }
    }
    const std::uint64_t high = mixed(std::hash<std::string_view>()(address));
    const std::uint64_t low = mixed(high ^ address.size());
    std::memcpy(key.data(), &high, 8);
    std::memcpy(key.data() + 8, &low, 8);
    return key;
}

DistinctCount::DistinctCount(std::size_t exactBound)
    : m_exactBound(exactBound)
    , m_registers(kRegisters, 0)
{
}

bool DistinctCount::insertExactly(const AddressKey& key, std::uint64_t hash)
{
    if (key == AddressKey {}) {
        const bool added = !m_zeroSeen;
        m_zeroSeen = true;
        return added;
    }
    // At most half full, but never larger than the bound needs: the key past it gives the table up.
    if (2 * (m_used + 1) > m_slots.size() && m_slots.size() < std::bit_ceil(2 * m_exactBound)) {
        std::vector<AddressKey> old(std::max<std::size_t>(1024, 2 * m_slots.size()));
        old.swap(m_slots);
        m_used = 0;
        for (const AddressKey& kept : old) {
            if (kept != AddressKey {})
                insertExactly(kept, hashOf(kept));
        }
    }
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        if (m_slots[slot] == key)
            return false;
        if (m_slots[slot] == AddressKey {}) {
            m_slots[slot] = key;
            ++m_used;
            return true;
        }
    }
}

void DistinctCount::add(const AddressKey& key)
{
    const std::uint64_t hash = hashOf(key);
    // The register by the hash's top bits; its value the place of the first one bit in the rest.
    std::uint8_t& highest = m_registers[hash >> (64 - kRegisterBits)];
    const std::uint64_t rest = hash << kRegisterBits;
    const auto rank = std::uint8_t(rest == 0 ? 64 - kRegisterBits + 1 : std::countl_zero(rest) + 1);
    highest = std::max(highest, rank);
    if (m_estimated)
        return;
    insertExactly(key, hash);
    if (m_used + (m_zeroSeen ? 1 : 0) > m_exactBound) {
        m_estimated = true;
        std::vector<AddressKey>().swap(m_slots);
    }
}

std::uint64_t DistinctCount::count() const
{
    if (!m_estimated)
        return m_used + (m_zeroSeen ? 1 : 0);
    const double m = double(kRegisters);
    double sum = 0;
    std::size_t zeros = 0;
    for (const std::uint8_t value : m_registers) {
        sum += std::ldexp(1.0, -int(value));
        zeros += value == 0;
    }
    double estimate = 0.7213 / (1 + 1.079 / m) * m * m / sum;
    if (estimate <= 2.5 * m && zeros > 0)
        estimate = m * std::log(m / double(zeros));
    // More than the bound came, whatever the estimate says.
    return std::max<std::uint64_t>(std::uint64_t(std::llround(estimate)), m_exactBound + 1);
}

Summary::Summary(std::size_t top, bool carrierNamesAs, Limits limits)
    : m_top(top)
    , m_carrierNamesAs(carrierNamesAs)
    , m_distinct(limits.exactAddresses)
    , m_countries(std::numeric_limits<std::size_t>::max())
    , m_asns(limits.keptKeys)
    , m_networks(limits.keptKeys)
{
}

void Summary::add(const QString& query, const Outcome& outcome)
{
    if (outcome.special) {
        const QByteArray address = query.toUtf8();
        special(outcome.special->name, std::string_view(address.constData(), std::size_t(address.size())));
        return;
    }
    ++m_read;
    if (outcome.notAddress) {
        ++m_notAddresses;
        return;
    }
    const QByteArray address = query.toUtf8();
    m_distinct.add(addressKey(std::string_view(address.constData(), std::size_t(address.size()))));
    if (outcome.failure != FailureKind::None) {
        ++m_failed[failure(outcome.failure).error];
        return;
    }
    const IpInfoAnswer& answer = outcome.answer;
    const QByteArray country = answer.values[1].value_or(QString()).toUtf8();
    QByteArray carrier = answer.values[kInfoFieldCount - 1].value_or(QString()).toUtf8();
    std::optional<std::uint32_t> asn;
    // "AS15169 Google LLC": the number, then the organisation.
    if (m_carrierNamesAs && carrier.startsWith("AS")) {
        std::uint32_t number = 0;
        const char* end = carrier.constData() + carrier.size();
        const auto [after, error] = std::from_chars(carrier.constData() + 2, end, number);
        if (error == std::errc() && (after == end || *after == ' ')) {
            asn = number;
            carrier = QByteArray(after, end - after).trimmed();
        }
    }
    const QByteArray network = answer.network.value_or(QString()).toUtf8();
    answered(std::string_view(country.constData(), std::size_t(country.size())), asn,
             std::string_view(carrier.constData(), std::size_t(carrier.size())),
             std::string_view(network.constData(), std::size_t(network.size())));
}

void Summary::addFound(const AddressKey& address, const DatabaseRecord& record)
{
    ++m_read;
    m_distinct.add(address);
    answered(record.texts[0], record.asn, record.texts[3], std::string_view(record.network.data()));
}

void Summary::special(std::string_view blockName, std::string_view address)
{
    ++m_read;
    ++m_special[std::string(blockName)];
    if (!address.empty())
        m_distinct.add(addressKey(address));
}

void Summary::answered(std::string_view country, std::optional<std::uint32_t> asn, std::string_view organisation,
                       std::string_view network)
{
    ++m_answered;
    if (!country.empty())
        m_countries.add(country);
    if (asn)
        m_asns.add(*asn, organisation);
    if (!network.empty())
        m_networks.add(network);
}

double Summary::shareOf(std::uint64_t count) const
{
    return m_answered ? double(count) / double(m_answered) : 0.0;
}

QByteArray Summary::written(OutputFormat format) const
{
    return (this->*answerFormat(format).summary)();
}

QByteArray Summary::asJson() const
{
    const auto countries = m_countries.top(m_top);
    const auto asns = m_asns.top(m_top);
    const auto networks = m_networks.top(m_top);

    const auto counts = [](const std::map<std::string, std::uint64_t>& counts) {
        QJsonObject object;
        for (const auto& [name, count] : counts)
            object.insert(fromUtf8(name), qint64(count));
        return object;
    };
    // A share to four places, as the other formats give it.
    const auto shareValue = [&](std::uint64_t count) { return std::round(shareOf(count) * 1e4) / 1e4; };
    QJsonArray countryList;
    for (const auto& c : countries)
        countryList.append(QJsonObject {
            { "country", fromUtf8(c.key) }, { "count", qint64(c.count) }, { "share", shareValue(c.count) } });
    QJsonArray asnList;
    for (const auto& a : asns)
        asnList.append(QJsonObject { { "asn", qint64(a.key) },
                                     { "organization", a.name.empty() ? QJsonValue() : fromUtf8(a.name) },
                                     { "count", qint64(a.count) },
                                     { "share", shareValue(a.count) } });
    QJsonArray networkList;
    for (const auto& n : networks)
        networkList.append(QJsonObject {
            { "network", fromUtf8(n.key) }, { "count", qint64(n.count) }, { "share", shareValue(n.count) } });
    const QJsonObject summary {
        { "read", qint64(m_read) },
        { "distinct", qint64(m_distinct.count()) },
        { "answered", qint64(m_answered) },
        { "special", counts(m_special) },
        { "notAddresses", qint64(m_notAddresses) },
        { "failed", counts(m_failed) },
        { "top", qint64(m_top) },
        { "countries", countryList },
        { "asns", asnList },
        { "networks", networkList },
        { "estimated",
          QJsonObject { { "distinct", m_distinct.estimated() },
                        { "asns", m_asns.estimated() },
                        { "networks", m_networks.estimated() } } },
    };
    return QJsonDocument(summary).toJson(QJsonDocument::Indented);
}

QByteArray Summary::asCsv() const
{
    const auto countries = m_countries.top(m_top);
    const auto asns = m_asns.top(m_top);
    const auto networks = m_networks.top(m_top);
    const auto number = [](std::uint64_t n) { return QString::number(n); };

    QList<QStringList> rows { { "kind", "key", "name", "count", "share" } };
    rows.append({ "read", {}, {}, number(m_read), {} });
    rows.append({ "distinct", {}, m_distinct.estimated() ? "estimate" : "exact", number(m_distinct.count()), {} });
    rows.append({ "answered", {}, {}, number(m_answered), {} });
    for (const auto& [name, count] : m_special)
        rows.append({ "special", fromUtf8(name), {}, number(count), {} });
    rows.append({ "not-address", {}, {}, number(m_notAddresses), {} });
    for (const auto& [name, count] : m_failed)
        rows.append({ "failed", fromUtf8(name), {}, number(count), {} });
    for (const auto& c : countries)
        rows.append({ "country", fromUtf8(c.key), {}, number(c.count), shareText(shareOf(c.count)) });
    for (const auto& a : asns)
        rows.append({ "asn", number(a.key), fromUtf8(a.name), number(a.count), shareText(shareOf(a.count)) });
    for (const auto& n : networks)
        rows.append({ "network", fromUtf8(n.key), {}, number(n.count), shareText(shareOf(n.count)) });
    // Counts past the bound are estimates: said by a row each.
    if (m_asns.estimated())
        rows.append({ "estimated", "asn", {}, {}, {} });
    if (m_networks.estimated())
        rows.append({ "estimated", "network", {}, {}, {} });
    QByteArray csv;
    for (const QStringList& row : rows)
        csv += platform::csvRecord(row, platform::CsvLineEnd::CrLf).toUtf8();
    return csv;
}

QByteArray Summary::asText() const
{
    const auto countries = m_countries.top(m_top);
    const auto asns = m_asns.top(m_top);
    const auto networks = m_networks.top(m_top);
    const auto number = [](std::uint64_t n) { return QString::number(n); };

    const QString estimate = QStringLiteral("（估计）");
    const auto shown = [](std::string_view text) { return platform::printable(fromUtf8(text)); };
    const auto percent = [&](std::uint64_t count) { return QString::number(100 * shareOf(count), 'f', 1) + u'%'; };
    QList<QStringList> totals {
        { QStringLiteral("读取地址"), number(m_read) },
        { QStringLiteral("不同地址"), number(m_distinct.count()), m_distinct.estimated() ? estimate : QString() },
        { QStringLiteral("有回答"), number(m_answered) },
    };
    for (const auto& [name, count] : m_special)
        totals.append({ QStringLiteral("特殊用途：") + shown(name), number(count) });
    totals.append({ QStringLiteral("不是地址"), number(m_notAddresses) });
    for (const auto& [name, count] : m_failed)
        totals.append({ QStringLiteral("查询失败：") + fromUtf8(name), number(count) });
    QString text = table(totals, 0b10, {});

    const auto heading = [&](const QString& what, bool estimated) {
        return QStringLiteral("\n%1（前 %2 个，占有回答的比例）%3\n")
            .arg(what)
            .arg(m_top)
            .arg(estimated ? estimate : QString());
    };
    QList<QStringList> rows { { QStringLiteral("国家"), QStringLiteral("数量"), QStringLiteral("占比") } };
    for (const auto& c : countries)
        rows.append({ shown(c.key), number(c.count), percent(c.count) });
    text += heading(QStringLiteral("国家"), false) + table(rows, 0b110, QStringLiteral("  "));
    rows = { { QStringLiteral("自治系统"), QStringLiteral("组织"), QStringLiteral("数量"), QStringLiteral("占比") } };
    for (const auto& a : asns)
        rows.append({ QStringLiteral("AS") + number(a.key), shown(a.name), number(a.count), percent(a.count) });
    text += heading(QStringLiteral("自治系统"), m_asns.estimated()) + table(rows, 0b1100, QStringLiteral("  "));
    rows = { { QStringLiteral("网络"), QStringLiteral("数量"), QStringLiteral("占比") } };
    for (const auto& n : networks)
        rows.append({ shown(n.key), number(n.count), percent(n.count) });
    text += heading(QStringLiteral("网络"), m_networks.estimated()) + table(rows, 0b110, QStringLiteral("  "));
    if (m_distinct.estimated() || m_asns.estimated() || m_networks.estimated())
        text += QStringLiteral("\n标有“估计”的数字超出了精确计数的范围，是估计值。\n");
    return text.toUtf8();
}

} // namespace vantor::cli
