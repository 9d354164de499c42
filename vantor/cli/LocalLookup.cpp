// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/LocalLookup.h"

#include "platform/UsableCpus.h"
#include "vantor/cli/LookupRun.h"
#include "vantor/cli/Output.h"
#include "vantor/cli/Summary.h"
#include "vantor/net/IpDatabase.h"
#include "vantor/net/ReservedBlocks.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <semaphore>
#include <thread>
#include <vector>

namespace vantor::cli {

namespace {

// Entries read together and looked up by one worker: enough to make handing them over cheap, few enough that the
// batches in flight take little memory.
constexpr std::size_t kBatchEntries = 512;

struct Batch
{
    // What became of an entry: its answer ends at `end` in `answers`, or it is `outcome`.
    struct Piece
    {
        std::size_t end = 0;
        std::optional<Outcome> outcome;
    };

    std::vector<Entry> entries;
    std::string answers;
    std::vector<Piece> pieces;
    // For a summary, in place of the answers: each entry's address and record.
    std::vector<AddressKey> addresses;
    std::vector<DatabaseRecord> records;
    std::atomic<bool> done = false;
};

// Looks each entry of the batch up, each answer written as the format's element, or for a summary kept as its
// record; the rest as add() takes it.
void lookUp(const IpDatabases& databases, const AnswerFormat& format, bool summarizing, RecordTexts& texts,
            Batch& batch)
{
    batch.answers.clear(); // keeps its capacity
    batch.pieces.resize(batch.entries.size());
    if (summarizing) {
        batch.addresses.resize(batch.entries.size());
        batch.records.resize(batch.entries.size());
    }
    for (std::size_t i = 0; i < batch.entries.size(); ++i) {
        const Entry& entry = batch.entries[i];
        Batch::Piece& piece = batch.pieces[i];
        piece.outcome.reset();
        if (entry.kind == Entry::Kind::Rejected) {
            piece.outcome = rejectedLine();
            continue;
        }
        // An address is short ASCII: copied as it is, without a QByteArray of its own.
        char ascii[64];
        QByteArray utf8;
        std::string_view address;
        if (entry.query.size() < qsizetype(sizeof ascii)
            && std::all_of(entry.query.begin(), entry.query.end(), [](QChar c) { return c.unicode() < 0x80; })) {
            std::transform(entry.query.begin(), entry.query.end(), ascii, [](QChar c) { return char(c.unicode()); });
            ascii[entry.query.size()] = '\0';
            address = std::string_view(ascii, std::size_t(entry.query.size()));
        } else {
            utf8 = entry.query.toUtf8();
            address = std::string_view(utf8.constData(), std::size_t(utf8.size()));
        }
        // Never looked up: no database can place an address that is not on the public Internet.
        if (const std::optional<SpecialPurposeBlock> special = specialPurposeBlock(address.data())) {
            if (!summarizing && format.element(batch.answers, specialText(address, *special)))
                piece.end = std::size_t(batch.answers.size());
            else
                piece.outcome = Outcome { .special = special };
            continue;
        }
        const DatabaseRecord record = findInDatabases(databases, address.data(), &texts);
        if (summarizing && record.kind == DatabaseRecord::Kind::Found) {
            batch.addresses[i] = addressKey(address);
            batch.records[i] = record;
            continue;
        }
        if (record.kind == DatabaseRecord::Kind::Found) {
            // Texts that are not UTF-8 take the way through QString below.
            if (const std::optional<AnswerText> found = foundText(address, record);
                found && format.element(batch.answers, *found)) {
                piece.end = std::size_t(batch.answers.size());
                continue;
            }
        }
        const IpInfoAnswer answer = answerOf(record, entry.query);
        piece.outcome = Outcome { failureOf(answer.kind), answer };
    }
}

// As many threads as the CPUs this process may run on, each looking up one batch after another, taken in the order
// they were handed over.
class Workers
{
public:
    Workers(const IpDatabases& databases, const AnswerFormat& format, bool summarizing)
        : m_databases(databases)
        , m_format(format)
        , m_summarizing(summarizing)
        , m_count(std::size_t(platform::usableCpuCount()))
        // Every batch in flight and each thread's end fit at once.
        , m_slots(2 * m_count + m_count)
    {
        for (std::size_t i = 0; i < m_count; ++i)
            m_threads.emplace_back([this] { work(); });
    }

    ~Workers()
    {
        for (std::size_t i = 0; i < m_count; ++i)
            hand(nullptr);
        for (std::thread& thread : m_threads)
            thread.join();
    }

    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    // How many batches may be in flight: two a thread keep each busy while the one before is written.
    std::size_t mostInFlight() const { return 2 * m_count; }

    void submit(Batch& batch)
    {
        batch.done.store(false, std::memory_order_relaxed);
        hand(&batch);
    }

    void waitFor(const Batch& batch) { batch.done.wait(false, std::memory_order_acquire); }

private:
    // A batch, or the end (null), into the next slot. A slot comes round again only after its batch was waited for.
    void hand(Batch* batch)
    {
        m_slots[m_handed++ % m_slots.size()].store(batch, std::memory_order_release);
        m_ready.release();
    }

    void work()
    {
        const auto texts = std::make_unique<RecordTexts>();
        for (;;) {
            m_ready.acquire();
            // acq_rel: the thread that took the slot before this one saw its batch handed over, so this one sees it
            // too.
            const std::size_t slot = m_taken.fetch_add(1, std::memory_order_acq_rel) % m_slots.size();
            Batch* batch = m_slots[slot].load(std::memory_order_acquire);
            if (!batch)
                return;
            lookUp(m_databases, m_format, m_summarizing, *texts, *batch);
            batch->done.store(true, std::memory_order_release);
            batch->done.notify_one();
        }
    }

    const IpDatabases& m_databases;
    const AnswerFormat& m_format;
    const bool m_summarizing;
    const std::size_t m_count;
    std::vector<std::atomic<Batch*>> m_slots;
    std::size_t m_handed = 0; // by the reading thread only
    std::atomic<std::size_t> m_taken = 0;
    std::counting_semaphore<> m_ready { 0 }; // one for each slot handed over
    std::vector<std::thread> m_threads;
};

// The batch's answers in its order, to the writer.
void write(Run& run, const Batch& batch)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < batch.entries.size(); ++i) {
        const Batch::Piece& piece = batch.pieces[i];
        if (piece.outcome) {
            // A rejected line is said as its place in the answers comes.
            if (batch.entries[i].kind == Entry::Kind::Rejected)
                run.writer.message(batch.entries[i].rejection);
            run.add(batch.entries[i].query, *piece.outcome);
            continue;
        }
        if (run.writer.summary()) {
            run.addRecord(batch.addresses[i], batch.records[i]);
            continue;
        }
        run.addElement(std::string_view(batch.answers.data() + start, piece.end - start));
        start = piece.end;
    }
}

} // namespace

int lookUpLocally(const IpDatabases& databases, Run& run)
{
    Workers workers(databases, run.writer.format(), run.writer.summary() != nullptr);
    const std::size_t mostInFlight = workers.mostInFlight();
    std::vector<std::unique_ptr<Batch>> batches;
    std::deque<Batch*> inFlight;
    std::vector<Batch*> spare;
    bool ended = false;
    for (;;) {
        const bool reading = !ended && !run.stopped() && !run.writer.outputFailed();
        // Reads on while input is at hand; a read that would wait only once every answer before it is out.
        if (reading && inFlight.size() < mostInFlight && (inFlight.empty() || run.reader.moreAtHand())) {
            if (spare.empty()) {
                batches.push_back(std::make_unique<Batch>());
                spare.push_back(batches.back().get());
            }
            Batch& batch = *spare.back();
            batch.entries.clear();
            while (batch.entries.size() < kBatchEntries) {
                if (!batch.entries.empty() && (run.stopped() || !run.reader.moreAtHand()))
                    break;
                std::optional<Entry> entry = run.reader.next();
                if (!entry) {
                    ended = true;
                    break;
                }
                batch.entries.push_back(std::move(*entry));
            }
            if (!batch.entries.empty()) {
                spare.pop_back();
                workers.submit(batch);
                inFlight.push_back(&batch);
            }
            continue;
        }
        if (inFlight.empty())
            break;
        Batch& oldest = *inFlight.front();
        workers.waitFor(oldest);
        inFlight.pop_front();
        // Once standard output is gone, what is under way is dropped: nothing more is said of it.
        if (!run.writer.outputFailed())
            write(run, oldest);
        spare.push_back(&oldest);
        if (run.writer.full() || (inFlight.empty() && !run.reader.moreAtHand()))
            run.writer.flush();
    }
    return run.finish();
}

} // namespace vantor::cli
