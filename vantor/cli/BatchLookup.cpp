// SPDX-License-Identifier: GPL-3.0-or-later
#include "BatchLookup.h"

#include "AddressList.h"
#include "Csv.h"
#include "vantor/net/Fetch.h"
#include "vantor/net/IpApiBatch.h"
#include "vantor/net/IpDatabase.h"
#include "vantor/net/IpInfo.h"
#include "vantor/net/OwnAddress.h"

#include <QFile>
#include <QFileDevice>
#include <QHash>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <memory>
#include <utility>

namespace vantor::cli {

namespace {

// Written at once, so a reader of a pipe sees each answer while the next one is on its way.
void write(QIODevice& device, const QString& text)
{
    device.write(text.toUtf8());
    if (auto* file = qobject_cast<QFileDevice*>(&device))
        file->flush();
}

struct Failure
{
    const char* error; // in the JSON report and the CSV's status
    const char16_t* message; // the window's alert, as one line
    int exitStatus;
};

constexpr Failure kNoNetwork { "network", u"连接超时: 您的网络不太给力哦！", kExitNoNetwork };
// The certificate alert's text; its reason follows on a line of its own.
constexpr Failure kInsecure { "insecure", u"无法安全连接到IP信息服务", kExitNoNetwork };
constexpr Failure kRejected { "rejected", u"查询错误: 您输入的IP有误", kExitNotAnswered };

const Failure* failureOf(IpInfoAnswer::Kind kind)
{
    static constexpr Failure rateLimited { "rate-limited", u"查询错误: 查询太频繁，请稍后再试。", kExitNotAnswered };
    static constexpr Failure unreadable { "unreadable", u"查询错误: 无法读取IP信息服务的回答。", kExitNotAnswered };
    static constexpr Failure tokenRefused { "token-refused", u"查询错误: IP信息服务拒绝了访问令牌。",
                                            kExitNotAnswered };
    static constexpr Failure notFound { "not-found", u"查询错误: 数据库中没有这个地址。", kExitNotAnswered };
    switch (kind) {
    case IpInfoAnswer::Kind::Rows:
        return nullptr;
    case IpInfoAnswer::Kind::Rejected:
        return &kRejected;
    case IpInfoAnswer::Kind::RateLimited:
        return &rateLimited;
    case IpInfoAnswer::Kind::TokenRefused:
        return &tokenRefused;
    case IpInfoAnswer::Kind::NotFound:
        return &notFound;
    case IpInfoAnswer::Kind::Unreadable:
    case IpInfoAnswer::Kind::Unavailable:
        break;
    }
    return &unreadable;
}

// What became of one address: rows, or why there are none.
struct Outcome
{
    const Failure* failure = nullptr;
    IpInfoAnswer answer;
    bool reported = false; // the failure is already on standard error
    QString reason = {}; // follows the failure's message, e.g. why a certificate was refused
};

QJsonObject answeredReport(const QString& query, const IpInfoAnswer& answer)
{
    QJsonObject report { { QStringLiteral("query"), query }, { QStringLiteral("ok"), true } };
    for (std::size_t i = 0; i < kInfoFieldCount; ++i) {
        const std::optional<QString>& value = answer.values[i];
        report.insert(QLatin1String(kInfoFields[i].name), value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null));
    }
    return report;
}

QJsonObject failedReport(const QString& query, const Failure& failure)
{
    return { { QStringLiteral("query"), query },
             { QStringLiteral("ok"), false },
             { QStringLiteral("error"), QLatin1String(failure.error) } };
}

// Writes the answers in the input's order, in the chosen format. Text and CSV go out as they come, held back only
// while more input is already at hand; JSON is one array at the end.
class AnswerWriter
{
public:
    AnswerWriter(OutputFormat format, QIODevice& out, QIODevice& err, ProgressLine* progress)
        : m_format(format)
        , m_out(out)
        , m_err(err)
        , m_progress(progress)
    {
        if (m_format == OutputFormat::Csv) {
            m_pending = csvRecord({ QStringLiteral("ip"), QStringLiteral("country"), QStringLiteral("region"),
                                    QStringLiteral("city"), QStringLiteral("isp"), QStringLiteral("status") });
        }
    }

    void message(const QString& line)
    {
        if (m_progress)
            m_progress->clear();
        write(m_err, line + QLatin1Char('\n'));
    }

    void add(const QString& query, const Outcome& outcome)
    {
        m_exitStatus = std::max(m_exitStatus, outcome.failure ? outcome.failure->exitStatus : kExitAnswered);
        if (outcome.failure && !outcome.reported)
            message(QString::fromUtf16(outcome.failure->message)
                    + (outcome.reason.isEmpty() ? QString() : QStringLiteral(": ") + outcome.reason));
        switch (m_format) {
        case OutputFormat::Json:
            m_report.append(outcome.failure ? failedReport(query, *outcome.failure)
                                            : answeredReport(query, outcome.answer));
            break;
        case OutputFormat::Csv: {
            const auto value = [&](std::size_t i) { return outcome.answer.values[i].value_or(QString()); };
            if (outcome.failure) {
                m_pending += csvRecord({ query, {}, {}, {}, {}, QLatin1String(outcome.failure->error) });
            } else {
                m_pending += csvRecord({ query, value(1), value(2), value(3), value(4), QStringLiteral("ok") });
            }
            break;
        }
        case OutputFormat::Text:
            if (!outcome.failure) {
                if (m_rowsWritten)
                    m_pending += '\n';
                m_pending += rowsAsText(outcome.answer.rows()).toUtf8();
                m_rowsWritten = true;
            }
            break;
        }
    }

    void flush()
    {
        if (m_pending.isEmpty())
            return;
        m_out.write(m_pending);
        m_pending.clear();
        if (auto* file = qobject_cast<QFileDevice*>(&m_out))
            file->flush();
    }

    // Holds text back until this much is gathered, or until no more input is at hand.
    bool full() const { return m_pending.size() >= 64 * 1024; }

    int finish()
    {
        if (m_format == OutputFormat::Json)
            m_pending += QJsonDocument(m_report).toJson();
        flush();
        return m_exitStatus;
    }

private:
    OutputFormat m_format;
    QIODevice& m_out;
    QIODevice& m_err;
    ProgressLine* m_progress;
    QByteArray m_pending;
    QJsonArray m_report;
    bool m_rowsWritten = false;
    int m_exitStatus = kExitAnswered;
};

// One entry of the input: an address to look up, or a list's line that is none.
struct Entry
{
    QString query;
    bool isAddress = true;
};

// The sources one after another: addresses as they are, lists line by line.
class EntryReader
{
public:
    EntryReader(const QList<Invocation::AddressSource>& sources, QIODevice* standardInput, AnswerWriter& writer)
        : m_sources(sources)
        , m_standardInput(standardInput)
        , m_writer(writer)
    {
    }

    // Opens every list first, so a list that cannot be read stops everything before the first lookup.
    bool open()
    {
        for (const Invocation::AddressSource& source : m_sources) {
            if (source.kind != Invocation::AddressSource::Kind::File)
                continue;
            if (source.text == QLatin1String("-")) {
                if (!m_standardInput) {
                    m_writer.message(QStringLiteral("vantor-cli: -: standard input cannot be read"));
                    return false;
                }
                continue;
            }
            auto file = std::make_shared<QFile>(source.text);
            if (!file->open(QIODevice::ReadOnly)) {
                m_writer.message(QStringLiteral("vantor-cli: %1: cannot be read: %2").arg(source.text, file->errorString()));
                return false;
            }
            m_files.insert(source.text, file);
        }
        return true;
    }

    std::optional<Entry> next()
    {
        for (;;) {
            if (m_list) {
                if (const std::optional<ListedLine> line = m_list->next()) {
                    if (!line->isAddress)
                        m_writer.message(QStringLiteral("%1:%2: not an address: %3")
                                             .arg(m_sources[m_index - 1].text)
                                             .arg(line->lineNumber)
                                             .arg(line->text));
                    return Entry { line->text, line->isAddress };
                }
                m_list.reset();
                m_device = nullptr;
            }
            if (m_index >= m_sources.size())
                return std::nullopt;
            const Invocation::AddressSource& source = m_sources[m_index++];
            if (source.kind == Invocation::AddressSource::Kind::Address)
                return Entry { source.text, true };
            m_device = source.text == QLatin1String("-") ? m_standardInput : m_files.value(source.text).get();
            m_list = std::make_unique<AddressListReader>(*m_device);
        }
    }

    // Whether the next entry can be had without waiting for a writer at the other end of a pipe.
    bool moreAtHand() const
    {
        if (m_device)
            return m_device->bytesAvailable() > 0;
        return m_index < m_sources.size() && m_sources[m_index].kind == Invocation::AddressSource::Kind::Address;
    }

private:
    const QList<Invocation::AddressSource>& m_sources;
    QIODevice* m_standardInput;
    AnswerWriter& m_writer;
    QHash<QString, std::shared_ptr<QFile>> m_files;
    qsizetype m_index = 0;
    QIODevice* m_device = nullptr;
    std::unique_ptr<AddressListReader> m_list;
};

Outcome outcomeOf(const IpInfoAnswer& answer)
{
    return { failureOf(answer.kind), answer };
}

// A local database needs no network and answers at once: each entry is looked up as it is read, nothing is kept.
int lookUpLocally(const ServiceConfig& services, EntryReader& reader, AnswerWriter& writer, ProgressLine* progress)
{
    const IpInfoFormatAdapter& adapter = ipInfoFormat(services.ipInfoFormat);
    qsizetype done = 0;
    while (const std::optional<Entry> entry = reader.next()) {
        if (entry->isAddress)
            writer.add(entry->query, outcomeOf(adapter.lookUpLocally(services, entry->query)));
        else
            writer.add(entry->query, { &kRejected, {}, true });
        if (progress)
            progress->update(++done, std::nullopt);
        if (writer.full() || !reader.moreAtHand())
            writer.flush();
    }
    return writer.finish();
}

// A service is asked once per distinct address, in the order the addresses first appear; the whole input is read
// first, so the progress line knows the total and a batch can be filled.
int lookUpOnline(const ServiceConfig& services, EntryReader& reader, AnswerWriter& writer, ProgressLine* progress,
                 const Wait& wait)
{
    QList<Entry> entries;
    QStringList distinct;
    QHash<QString, Outcome> outcomes;
    while (std::optional<Entry> entry = reader.next()) {
        if (entry->isAddress && !outcomes.contains(entry->query)) {
            distinct << entry->query;
            outcomes.insert(entry->query, {});
        }
        entries << std::move(*entry);
    }
    outcomes.clear();

    const bool batch = services.ipInfoFormat == IpInfoFormat::IpApi && !services.ipApiBatchUrl.isEmpty()
        && distinct.size() > 1;
    const qsizetype chunkSize = batch ? kIpApiBatchLimit : 1;
    const auto pauseFor = [&](std::chrono::seconds pause) {
        if (pause.count() <= 0)
            return;
        writer.message(QStringLiteral("vantor-cli: 查询太频繁，等待 %1 秒后继续。").arg(pause.count()));
        wait(pause);
    };

    qsizetype resolved = 0;
    qsizetype written = 0;
    // Waited out just before the next request, once what came before is written.
    std::chrono::seconds pause { 0 };
    if (progress)
        progress->update(0, entries.size());
    for (const Entry& entry : entries) {
        if (entry.isAddress && !outcomes.contains(entry.query)) {
            writer.flush();
            pauseFor(std::exchange(pause, std::chrono::seconds(0)));
            // The entry's address is the first distinct one not yet asked for.
            const QStringList chunk = distinct.mid(resolved, chunkSize);
            resolved += chunk.size();
            std::optional<int> requestsLeft;
            std::optional<int> secondsUntilReset;
            if (batch) {
                const std::optional<IpApiBatchAnswer> answer = lookUpIpApiBatch(services, chunk, pauseFor);
                for (qsizetype i = 0; i < chunk.size(); ++i)
                    outcomes.insert(chunk[i], answer ? outcomeOf(answer->answers[i]) : Outcome { &kNoNetwork, {} });
                if (answer) {
                    requestsLeft = answer->requestsLeft;
                    secondsUntilReset = answer->secondsUntilReset;
                }
            } else {
                FetchFailure fetchFailure;
                const std::optional<WebAnswer> web
                    = fetchAnswer(ipInfoRequest(services, chunk[0]), services.ipInfoTimeout, &fetchFailure);
                const IpInfoAnswer answer
                    = web ? ipInfoFormat(services.ipInfoFormat).readAnswer(*web) : IpInfoAnswer();
                if (web)
                    outcomes.insert(chunk[0], outcomeOf(answer));
                else if (fetchFailure.kind == FetchFailure::Kind::Insecure)
                    outcomes.insert(chunk[0], Outcome { &kInsecure, {}, false, fetchFailure.reason });
                else
                    outcomes.insert(chunk[0], Outcome { &kNoNetwork, {} });
                requestsLeft = answer.requestsLeft;
                secondsUntilReset = answer.secondsUntilReset;
            }
            if (resolved < distinct.size() && requestsLeft == 0)
                pause = std::min(std::chrono::seconds(secondsUntilReset.value_or(kLongestRateLimitWait.count())),
                                 kLongestRateLimitWait);
        }
        writer.add(entry.query, entry.isAddress ? outcomes.value(entry.query) : Outcome { &kRejected, {}, true });
        if (progress)
            progress->update(++written, entries.size());
    }
    return writer.finish();
}

// The search for this machine's addresses, IPv4 first; none (and the reason on `err`) when both failed.
QStringList ownAddresses(const ServiceConfig& services, QIODevice& err)
{
    const OwnAddresses found = findOwnAddresses(services.myAddressUrls, services.myAddressTimeout);
    QStringList addresses;
    for (const std::optional<QString>& address : { found.ipv4, found.ipv6 }) {
        if (address)
            addresses << *address;
    }
    if (addresses.isEmpty())
        write(err, QStringLiteral("vantor-cli: 没有得到本机的公网地址：%1\n").arg(found.lastFailure));
    return addresses;
}

} // namespace

int printOwnAddresses(const ServiceConfig& services, bool json, QIODevice& out, QIODevice& err)
{
    const OwnAddresses found = findOwnAddresses(services.myAddressUrls, services.myAddressTimeout);
    const bool none = !found.ipv4 && !found.ipv6;
    if (none)
        write(err, QStringLiteral("vantor-cli: 没有得到本机的公网地址：%1\n").arg(found.lastFailure));
    if (json) {
        const auto value = [](const std::optional<QString>& address) {
            return address ? QJsonValue(*address) : QJsonValue(QJsonValue::Null);
        };
        const QJsonObject report { { QStringLiteral("ipv4"), value(found.ipv4) },
                                   { QStringLiteral("ipv6"), value(found.ipv6) } };
        write(out, QString::fromUtf8(QJsonDocument(report).toJson()));
    } else {
        for (const std::optional<QString>& address : { found.ipv4, found.ipv6 }) {
            if (address)
                write(out, *address + QLatin1Char('\n'));
        }
    }
    return none ? kExitNoNetwork : kExitAnswered;
}

ProgressLine::ProgressLine(QIODevice& err, bool shown)
    : m_err(err)
    , m_shown(shown)
{
}

void ProgressLine::update(qsizetype done, std::optional<qsizetype> total)
{
    m_done = done;
    m_total = total;
    // A terminal cannot show a million updates; a few a second say as much.
    const bool last = total && done == *total;
    if (!m_shown || (m_visible && m_sinceShown.isValid() && m_sinceShown.elapsed() < 100 && !last))
        return;
    show(total ? QStringLiteral("已查询 %1/%2").arg(done).arg(*total) : QStringLiteral("已查询 %1").arg(done));
}

void ProgressLine::waiting(std::chrono::seconds left)
{
    if (!m_shown)
        return;
    const QString done
        = m_total ? QStringLiteral("已查询 %1/%2").arg(m_done).arg(*m_total) : QStringLiteral("已查询 %1").arg(m_done);
    show(QStringLiteral("%1，查询太频繁，%2 秒后继续").arg(done).arg(left.count()));
}

void ProgressLine::clear()
{
    if (!m_visible)
        return;
    write(m_err, QStringLiteral("\r\x1b[K"));
    m_visible = false;
}

void ProgressLine::show(const QString& text)
{
    write(m_err, QLatin1Char('\r') + text + QStringLiteral("\x1b[K"));
    m_visible = true;
    m_sinceShown.start();
}

int lookUp(const ServiceConfig& services, const QList<Invocation::AddressSource>& sources,
           const LookupOptions& options, QIODevice& out, QIODevice& err, const Wait& wait)
{
    const bool local = ipInfoFormat(services.ipInfoFormat).lookUpLocally != nullptr;
    if (local) {
        QString problem;
        if (!sharedIpDatabases(services, &problem)) {
            write(err, QStringLiteral("vantor-cli: %1\n").arg(problem));
            return kExitBadUsage;
        }
    }

    QList<Invocation::AddressSource> queries = sources;
    if (queries.isEmpty()) {
        const QStringList addresses = ownAddresses(services, err);
        if (addresses.isEmpty()) {
            if (options.format == OutputFormat::Json)
                write(out, QStringLiteral("[]\n"));
            if (options.format == OutputFormat::Csv)
                write(out, QStringLiteral("ip,country,region,city,isp,status\r\n"));
            return kExitNoNetwork;
        }
        for (const QString& address : addresses)
            queries.append({ Invocation::AddressSource::Kind::Address, address });
    }

    AnswerWriter writer(options.format, out, err, options.progress);
    EntryReader reader(queries, options.standardInput, writer);
    if (!reader.open())
        return kExitBadUsage;
    const int status = local ? lookUpLocally(services, reader, writer, options.progress)
                             : lookUpOnline(services, reader, writer, options.progress, wait);
    if (options.progress)
        options.progress->clear();
    return status;
}

int lookUpAll(const ServiceConfig& services, const QStringList& addresses, bool json, QIODevice& out, QIODevice& err,
              const Wait& wait)
{
    QList<Invocation::AddressSource> sources;
    for (const QString& address : addresses)
        sources.append({ Invocation::AddressSource::Kind::Address, address });
    LookupOptions options;
    options.format = json ? OutputFormat::Json : OutputFormat::Text;
    return lookUp(services, sources, options, out, err, wait);
}

} // namespace vantor::cli
