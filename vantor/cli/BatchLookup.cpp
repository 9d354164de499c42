// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/BatchLookup.h"

#include "platform/Csv.h"
#include "platform/PrintableText.h"
#include "vantor/cli/AddressList.h"
#include "vantor/cli/KnownAnswers.h"
#include "vantor/cli/Outcome.h"
#include "vantor/net/Fetch.h"
#include "vantor/net/IpApiBatch.h"
#include "vantor/net/IpDatabase.h"
#include "vantor/net/IpInfo.h"
#include "vantor/net/OwnAddress.h"

#include <QFile>
#include <QFileDevice>
#include <QHash>
#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <unistd.h>
#include <utility>

namespace vantor::cli {

namespace {

QByteArray csvLine(const QStringList& fields)
{
    return platform::csvRecord(fields, platform::CsvLineEnd::CrLf).toUtf8();
}

// A file name or a reason from outside is shown up to this many characters; an address or a list's line up to
// platform::kLongestEchoedText.
constexpr qsizetype kLongestShownName = 1024;

// How long a list from a pipe may stay silent before a batch that is not full goes anyway, so that a slowly
// written list is answered as it comes.
constexpr int kBatchGatherMs = 1000;

// The entries waiting for a request's answer are written once it is in. Past this much text they wait no longer
// for a batch to fill, so a list of few distinct addresses among many repeats holds only so much.
constexpr qsizetype kLongestQueue = 8 * 1024 * 1024;

// Written at once, so a reader of a pipe sees each answer while the next one is on its way. A file's descriptor is
// written directly, so that a failure's errno is the write's own; 0 when all is written.
int write(QIODevice& device, const QByteArray& bytes)
{
    auto* file = qobject_cast<QFileDevice*>(&device);
    if (!file || file->handle() < 0)
        return device.write(bytes) == bytes.size() ? 0 : EIO;
    file->flush();
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(file->handle(), bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno != EINTR)
            return errno;
        done += std::max<ssize_t>(written, 0);
    }
    return 0;
}

void write(QIODevice& device, const QString& text)
{
    write(device, text.toUtf8());
}

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

// One element of a JSON array exactly as QJsonDocument writes it inside the whole array: indented one step. Texts
// hold their line breaks as escapes, so every line break is one of the layout's.
QByteArray jsonArrayElement(const QJsonObject& object)
{
    QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Indented);
    text.chop(1);
    text.replace('\n', "\n    ");
    return "    " + text;
}

// Writes the answers in the input's order, in the chosen format, as they come: held back only while more input is
// already at hand. JSON is one array, opened with the first element and closed by finish().
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
            m_pending = csvLine({ QStringLiteral("ip"), QStringLiteral("country"), QStringLiteral("region"),
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
        const Failure* failed = outcome.failure == FailureKind::None ? nullptr : &failure(outcome.failure);
        m_exitStatus = std::max(m_exitStatus, failed ? failed->exitStatus : kExitAnswered);
        if (failed && !outcome.reported) {
            QString line = QStringLiteral("vantor-cli: %1: %2")
                               .arg(platform::printable(query), QString::fromUtf16(failed->message));
            if (!outcome.reason.isEmpty())
                line += QStringLiteral(": ") + platform::printable(outcome.reason, kLongestShownName);
            message(line);
        }
        if (m_outputFailed)
            return;
        switch (m_format) {
        case OutputFormat::Json:
            m_pending += m_elements++ == 0 ? "[\n" : ",\n";
            m_pending
                += jsonArrayElement(failed ? failedReport(query, *failed) : answeredReport(query, outcome.answer));
            break;
        case OutputFormat::Csv: {
            const auto value = [&](std::size_t i) { return outcome.answer.values[i].value_or(QString()); };
            if (failed)
                m_pending += csvLine({ query, {}, {}, {}, {}, QLatin1String(failed->error) });
            else
                m_pending += csvLine({ query, value(1), value(2), value(3), value(4), QStringLiteral("ok") });
            break;
        }
        case OutputFormat::Text:
            if (!failed) {
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
        if (m_pending.isEmpty() || m_outputFailed)
            return;
        if (const int error = write(m_out, m_pending)) {
            m_outputFailed = true;
            message(error == EPIPE ? QStringLiteral("vantor-cli: standard output was closed; stopping")
                                   : QStringLiteral("vantor-cli: standard output cannot be written: %1; stopping")
                                         .arg(QString::fromLocal8Bit(std::strerror(error))));
        }
        m_pending.clear();
    }

    // Holds text back until this much is gathered, or until no more input is at hand.
    bool full() const { return m_pending.size() >= 64 * 1024; }

    // Once standard output cannot be written, nothing more is looked up for it.
    bool outputFailed() const { return m_outputFailed; }

    int finish()
    {
        if (m_format == OutputFormat::Json)
            m_pending += m_elements == 0 ? "[\n]\n" : "\n]\n";
        flush();
        return m_outputFailed ? kExitOutputClosed : m_exitStatus;
    }

private:
    OutputFormat m_format;
    QIODevice& m_out;
    QIODevice& m_err;
    ProgressLine* m_progress;
    QByteArray m_pending;
    qsizetype m_elements = 0;
    bool m_rowsWritten = false;
    bool m_outputFailed = false;
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
                m_writer.message(QStringLiteral("vantor-cli: %1: cannot be read: %2")
                                     .arg(platform::printable(source.text, kLongestShownName), file->errorString()));
                return false;
            }
            m_files.insert(source.text, file);
        }
        return true;
    }

    // How many entries the input has, when that can be known without keeping it: the command line's addresses and
    // the lines of lists in regular files, read through once before the lookups. Nothing for a pipe.
    std::optional<qsizetype> count()
    {
        qsizetype total = 0;
        for (const Invocation::AddressSource& source : m_sources) {
            if (source.kind == Invocation::AddressSource::Kind::Address) {
                ++total;
                continue;
            }
            QFile* file = m_files.value(source.text).get();
            if (!file || file->isSequential())
                return std::nullopt;
            AddressListReader list(*file);
            while (list.next())
                ++total;
            if (!file->seek(0))
                return std::nullopt;
        }
        return total;
    }

    std::optional<Entry> next()
    {
        for (;;) {
            if (m_list) {
                if (const std::optional<ListedLine> line = m_list->next()) {
                    if (!line->isAddress)
                        reject(*line);
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
        if (m_device && (m_device->bytesAvailable() > 0 || !m_device->isSequential()))
            return true;
        if (m_device || m_index >= m_sources.size())
            return false;
        const Invocation::AddressSource& source = m_sources[m_index];
        return source.kind == Invocation::AddressSource::Kind::Address || source.text != QLatin1String("-");
    }

    // Whether more input came within that time.
    bool waitForMore(int msecs) const { return moreAtHand() || (m_device && m_device->waitForReadyRead(msecs)); }

    // Whether nothing more will come. A pipe may always have more.
    bool atEnd() const { return m_index >= m_sources.size() && listRead(); }

    // The addresses still to be read, when they are all the command line's.
    std::optional<QStringList> rest() const
    {
        if (!listRead())
            return std::nullopt;
        QStringList addresses;
        for (qsizetype i = m_index; i < m_sources.size(); ++i) {
            if (m_sources[i].kind != Invocation::AddressSource::Kind::Address)
                return std::nullopt;
            addresses << m_sources[i].text;
        }
        return addresses;
    }

private:
    bool listRead() const { return !m_device || (!m_device->isSequential() && m_device->atEnd()); }

    void reject(const ListedLine& line)
    {
        const QString longer
            = line.overlong ? QStringLiteral("longer than %1 bytes, ").arg(kLongestListLine) : QString();
        // In one pass, so that a "%" in the file's name or the line is taken as it is.
        m_writer.message(QStringLiteral("%1:%2: %3not an address: %4")
                             .arg(platform::printable(m_sources[m_index - 1].text, kLongestShownName),
                                  QString::number(line.lineNumber), longer, platform::printable(line.text)));
    }

    const QList<Invocation::AddressSource>& m_sources;
    QIODevice* m_standardInput;
    AnswerWriter& m_writer;
    QHash<QString, std::shared_ptr<QFile>> m_files;
    qsizetype m_index = 0;
    QIODevice* m_device = nullptr;
    std::unique_ptr<AddressListReader> m_list;
};

Outcome rejectedLine()
{
    return { FailureKind::Rejected, {}, {}, true };
}

struct Run
{
    EntryReader& reader;
    AnswerWriter& writer;
    ProgressLine* progress;
    std::optional<qsizetype> total;
    const std::function<bool()>& stopRequested;
    qsizetype written = 0;

    bool stopped() const { return stopRequested && stopRequested(); }

    void add(const QString& query, const Outcome& outcome)
    {
        writer.add(query, outcome);
        if (progress)
            progress->update(++written, total);
    }

    int finish()
    {
        const int status = writer.finish();
        return status == kExitOutputClosed || !stopped() ? status : kExitStopped;
    }
};

// A local database needs no network and answers at once: each entry is looked up as it is read, nothing is kept.
int lookUpLocally(const ServiceConfig& services, Run& run)
{
    const IpInfoFormatAdapter& adapter = ipInfoFormat(services.ipInfoFormat);
    while (!run.stopped() && !run.writer.outputFailed()) {
        const std::optional<Entry> entry = run.reader.next();
        if (!entry)
            break;
        if (entry->isAddress) {
            const IpInfoAnswer answer = adapter.lookUpLocally(services, entry->query);
            run.add(entry->query, { failureOf(answer.kind), answer });
        } else {
            run.add(entry->query, rejectedLine());
        }
        if (run.writer.full() || !run.reader.moreAtHand())
            run.writer.flush();
    }
    return run.finish();
}

// A service is asked once per distinct address, in the order the addresses first appear, a batch of them at a
// time with ip-api. Entries go through as they come: those waiting for an answer are queued until it is in, and of
// the addresses only their numbers and the distinct answers are kept.
class OnlineLookup
{
public:
    OnlineLookup(const ServiceConfig& services, Run& run, const Wait& wait, qsizetype keptAnswersBudget)
        : m_services(services)
        , m_run(run)
        , m_wait(wait)
        , m_batchUrl(services.ipInfoFormat == IpInfoFormat::IpApi && !services.ipApiBatchUrl.isEmpty())
        , m_chunkSize(m_batchUrl ? kIpApiBatchLimit : 1)
        , m_known(keptAnswersBudget)
    {
    }

    int run()
    {
        AnswerWriter& writer = m_run.writer;
        while (!m_cancelled && !m_run.stopped() && !writer.outputFailed()) {
            std::optional<Entry> entry = m_run.reader.next();
            if (!entry)
                break;
            enqueue(std::move(*entry));
            writeQueue();
            if (m_chunk.size() >= m_chunkSize || m_queuedBytes >= kLongestQueue
                || (!m_chunk.isEmpty() && !m_run.reader.waitForMore(kBatchGatherMs))) {
                ask();
                writeQueue();
            }
            if (writer.full() || !m_run.reader.moreAtHand())
                writer.flush();
        }
        if (!m_chunk.isEmpty() && !m_cancelled && !m_run.stopped() && !writer.outputFailed()) {
            ask();
            writeQueue();
        }
        return m_run.finish();
    }

private:
    enum class Waiting {
        Rejected, // a list's line that is not an address
        Answer, // an address, answered or on its way
        Unasked, // an address after the run gave up asking
    };
    struct Queued
    {
        QString query;
        Waiting waiting;
    };

    // What an entry waiting in the queue costs: its text and its place.
    static qsizetype queuedCost(const QString& query) { return 64 + 2 * query.size(); }

    void enqueue(Entry entry)
    {
        Waiting waiting = entry.isAddress ? Waiting::Answer : Waiting::Rejected;
        if (entry.isAddress) {
            const KnownAnswers::State state = m_known.find(entry.query).state;
            if (state == KnownAnswers::State::New || state == KnownAnswers::State::Forgotten) {
                if (m_noAnswerStreak >= kLongestNoAnswerStreak) {
                    giveUp();
                    waiting = Waiting::Unasked;
                } else {
                    if (state == KnownAnswers::State::Forgotten && !m_saidForgotten) {
                        m_saidForgotten = true;
                        m_run.writer.message(
                            QStringLiteral("vantor-cli: %1: 回答太多，没有全部记住，重复的地址将再次查询。")
                                .arg(platform::printable(entry.query)));
                    }
                    m_known.ask(entry.query);
                    m_chunk << entry.query;
                }
            }
        }
        m_queuedBytes += queuedCost(entry.query);
        m_queue.push_back({ std::move(entry.query), waiting });
    }

    // Writes the queue up to the first entry whose answer is still to come.
    void writeQueue()
    {
        while (!m_queue.empty()) {
            const Queued& head = m_queue.front();
            switch (head.waiting) {
            case Waiting::Rejected:
                m_run.add(head.query, rejectedLine());
                break;
            case Waiting::Unasked:
                m_run.add(head.query, { m_streakFailure, {}, {}, true });
                break;
            case Waiting::Answer: {
                const KnownAnswers::Found found = m_known.find(head.query);
                if (found.state != KnownAnswers::State::Answered)
                    return;
                m_run.add(head.query, m_known.outcome(found.id, head.query));
                break;
            }
            }
            m_queuedBytes -= queuedCost(head.query);
            m_queue.pop_front();
        }
        m_known.releaseHeld();
    }

    void pauseFor(std::chrono::seconds pause)
    {
        if (pause.count() <= 0)
            return;
        m_run.writer.message(QStringLiteral("vantor-cli: 查询太频繁，等待 %1 秒后继续。").arg(pause.count()));
        m_run.writer.flush();
        m_wait(pause);
    }

    // Asks for the addresses gathered; waits out the rate limit first, once what came before is written.
    void ask()
    {
        m_run.writer.flush();
        pauseFor(std::exchange(m_pause, std::chrono::seconds(0)));
        if (m_run.stopped())
            return;
        const QStringList chunk = std::exchange(m_chunk, {});
        // A single address of the whole input goes to the single lookup, whose answer is the one the window shows.
        const bool batch = m_batchUrl && (chunk.size() > 1 || m_requests > 0 || !m_run.reader.atEnd());
        ++m_requests;
        FetchFailure fetchFailure;
        std::optional<int> requestsLeft;
        std::optional<int> secondsUntilReset;
        QList<Outcome> outcomes;
        if (batch) {
            const std::optional<IpApiBatchAnswer> answer = lookUpIpApiBatch(
                m_services, chunk, [this](std::chrono::seconds pause) { pauseFor(pause); }, &fetchFailure);
            if (answer) {
                for (const IpInfoAnswer& one : answer->answers)
                    outcomes.append({ failureOf(one.kind), one });
                requestsLeft = answer->requestsLeft;
                secondsUntilReset = answer->secondsUntilReset;
            }
        } else {
            const std::optional<WebAnswer> web
                = fetchAnswer(ipInfoRequest(m_services, chunk[0]), m_services.ipInfoTimeout, &fetchFailure);
            if (web) {
                const IpInfoAnswer answer = ipInfoFormat(m_services.ipInfoFormat).readAnswer(*web);
                outcomes.append({ failureOf(answer.kind), answer });
                requestsLeft = answer.requestsLeft;
                secondsUntilReset = answer.secondsUntilReset;
            }
        }
        if (fetchFailure.kind == FetchFailure::Kind::Cancelled) {
            m_cancelled = true; // what waits for this answer is never written
            return;
        }
        if (outcomes.isEmpty()) {
            const FailureKind failed = failureOf(fetchFailure.kind);
            const QString reason = failed == FailureKind::Insecure ? fetchFailure.reason : QString();
            outcomes = QList<Outcome>(chunk.size(), Outcome { failed, {}, reason });
            m_streakFailure = failed;
            ++m_noAnswerStreak;
        } else {
            m_noAnswerStreak = 0;
        }
        for (qsizetype i = 0; i < chunk.size(); ++i)
            m_known.answer(chunk[i], outcomes[i]);
        if (requestsLeft == 0)
            m_pause = std::min(std::chrono::seconds(secondsUntilReset.value_or(kLongestRateLimitWait.count())),
                               kLongestRateLimitWait);
    }

    // Said once, when the first address would be asked after the streak; how many are left only when the rest of
    // the input is on the command line.
    void giveUp()
    {
        if (m_gaveUp)
            return;
        m_gaveUp = true;
        QString count;
        if (const std::optional<QStringList> rest = m_run.reader.rest()) {
            qsizetype unasked = 1;
            for (const QString& other : *rest)
                unasked += m_known.find(other).state != KnownAnswers::State::Answered;
            count = QStringLiteral(" %1 个").arg(unasked);
        }
        m_run.writer.message(QStringLiteral("vantor-cli: 连续 %1 次请求没有回应，其余%2地址不再查询。")
                                 .arg(kLongestNoAnswerStreak)
                                 .arg(count));
    }

    const ServiceConfig& m_services;
    Run& m_run;
    const Wait& m_wait;
    const bool m_batchUrl;
    const qsizetype m_chunkSize;
    KnownAnswers m_known;
    std::deque<Queued> m_queue;
    qsizetype m_queuedBytes = 0;
    QStringList m_chunk; // distinct addresses not yet asked, in the order they came
    std::chrono::seconds m_pause { 0 }; // waited out just before the next request
    int m_requests = 0;
    int m_noAnswerStreak = 0;
    FailureKind m_streakFailure = FailureKind::TimedOut;
    bool m_gaveUp = false;
    bool m_saidForgotten = false;
    bool m_cancelled = false;
};

// This machine's addresses, IPv4 first; when neither was found, the reason goes to `err`.
OwnAddresses findOwn(const ServiceConfig& services, QIODevice& err)
{
    const OwnAddresses found = findOwnAddresses(services.myAddressUrls, services.myAddressTimeout);
    if (!found.ipv4 && !found.ipv6)
        write(err,
              QStringLiteral("vantor-cli: 没有得到本机的公网地址：%1\n")
                  .arg(platform::printable(found.lastFailure, kLongestShownName)));
    return found;
}

// The search for this machine's addresses, IPv4 first; none (and the reason on `err`) when both failed.
QStringList ownAddresses(const ServiceConfig& services, QIODevice& err)
{
    const OwnAddresses found = findOwn(services, err);
    QStringList addresses;
    for (const std::optional<QString>& address : { found.ipv4, found.ipv6 }) {
        if (address)
            addresses << *address;
    }
    return addresses;
}

} // namespace

int printOwnAddresses(const ServiceConfig& services, bool json, QIODevice& out, QIODevice& err)
{
    const OwnAddresses found = findOwn(services, err);
    const bool none = !found.ipv4 && !found.ipv6;
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
    if (total && done > *total)
        total.reset(); // a list that grew after it was counted
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

int lookUp(const ServiceConfig& services, const QList<Invocation::AddressSource>& sources, const LookupOptions& options,
           QIODevice& out, QIODevice& err, const Wait& wait)
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
    // Counting the lists costs a second reading of them, worth it only when the progress line shows the total.
    const bool counted = options.progress && options.progress->shown();
    Run run { reader, writer, options.progress, counted ? reader.count() : std::nullopt, options.stopRequested };
    if (options.progress)
        options.progress->update(0, run.total);
    const int status
        = local ? lookUpLocally(services, run) : OnlineLookup(services, run, wait, options.keptAnswersBudget).run();
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
