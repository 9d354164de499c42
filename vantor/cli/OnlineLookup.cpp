// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/OnlineLookup.h"

#include "platform/PrintableText.h"
#include "vantor/cli/KnownAnswers.h"
#include "vantor/cli/LookupRun.h"
#include "vantor/net/Fetch.h"
#include "vantor/net/IpApiBatch.h"
#include "vantor/net/IpInfo.h"
#include "vantor/net/ReservedBlocks.h"

#include <algorithm>
#include <deque>
#include <utility>

namespace vantor::cli {

namespace {

// How long a list from a pipe may stay silent before a batch that is not full goes anyway, so that a slowly
// written list is answered as it comes.
constexpr int kBatchGatherMs = 1000;

// The entries waiting for a request's answer are written once it is in. Past this much text they wait no longer
// for a batch to fill, so a list of few distinct addresses among many repeats holds only so much.
constexpr qsizetype kLongestQueue = 8 * 1024 * 1024;

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
        Special, // an address of a special-purpose block: never asked
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
        const bool isAddress = entry.kind == Entry::Kind::Address;
        // A rejected line is said as it is read, ahead of the answers still to come before it.
        if (!isAddress)
            m_run.writer.message(entry.rejection);
        Waiting waiting = isAddress ? Waiting::Answer : Waiting::Rejected;
        if (isAddress && specialPurposeBlock(QStringView(entry.query)))
            waiting = Waiting::Special;
        if (waiting == Waiting::Answer) {
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
            case Waiting::Special:
                m_run.add(head.query,
                          { FailureKind::None, {}, {}, false, specialPurposeBlock(QStringView(head.query)) });
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
            const platform::Result<IpApiBatchAnswer, FetchFailure> answer
                = lookUpIpApiBatch(m_services, chunk, [this](std::chrono::seconds pause) { pauseFor(pause); });
            if (answer) {
                for (const IpInfoAnswer& one : answer->answers)
                    outcomes.append({ failureOf(one.kind), one });
                requestsLeft = answer->requestsLeft;
                secondsUntilReset = answer->secondsUntilReset;
            } else {
                fetchFailure = answer.error();
            }
        } else {
            const platform::Result<WebAnswer, FetchFailure> web
                = fetchAnswer(ipInfoRequest(m_services, chunk[0]), m_services.ipInfoTimeout);
            if (web) {
                const IpInfoAnswer answer = ipInfoFormat(m_services.ipInfoFormat).readAnswer(*web);
                outcomes.append({ failureOf(answer.kind), answer });
                requestsLeft = answer.requestsLeft;
                secondsUntilReset = answer.secondsUntilReset;
            } else {
                fetchFailure = web.error();
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

} // namespace

int lookUpOnline(const ServiceConfig& services, Run& run, const Wait& wait, qsizetype keptAnswersBudget)
{
    return OnlineLookup(services, run, wait, keptAnswersBudget).run();
}

} // namespace vantor::cli
