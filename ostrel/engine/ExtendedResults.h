// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <any>
#include <utility>
#include <vector>

namespace ostrel {

// The results of the extended tests that a run had, each under its test's key ("disk"). A result is
// the plain record its test describes (ostrel/extended/ExtendedTests.h); the run and the history keep them without
// knowing what they hold.
class ExtendedResults
{
public:
    // One test's result, of any record type that compares with ==.
    class Entry
    {
    public:
        template <class Record>
        Entry(QString test, Record record)
            : m_test(std::move(test))
            , m_record(std::move(record))
            , m_equal([](const std::any& a, const std::any& b) {
                const Record* left = std::any_cast<Record>(&a);
                const Record* right = std::any_cast<Record>(&b);
                return left && right && *left == *right;
            })
        {
        }

        const QString& test() const { return m_test; }
        // Nothing when the record is not a Record.
        template <class Record> const Record* as() const { return std::any_cast<Record>(&m_record); }

        friend bool operator==(const Entry& a, const Entry& b)
        {
            return a.m_test == b.m_test && a.m_equal(a.m_record, b.m_record);
        }

    private:
        QString m_test;
        std::any m_record;
        bool (*m_equal)(const std::any&, const std::any&);
    };

    // Replaces the test's result, or adds it last.
    void set(Entry entry)
    {
        for (Entry& kept : m_entries) {
            if (kept.test() == entry.test()) {
                kept = std::move(entry);
                return;
            }
        }
        m_entries.push_back(std::move(entry));
    }
    template <class Record> void set(const QString& test, Record record) { set(Entry(test, std::move(record))); }

    void remove(const QString& test)
    {
        std::erase_if(m_entries, [&](const Entry& entry) { return entry.test() == test; });
    }

    const Entry* find(const QString& test) const
    {
        for (const Entry& entry : m_entries) {
            if (entry.test() == test)
                return &entry;
        }
        return nullptr;
    }
    // The first result that is a Record: a test's record type is its own.
    template <class Record> const Record* find() const
    {
        for (const Entry& entry : m_entries) {
            if (const Record* record = entry.as<Record>())
                return record;
        }
        return nullptr;
    }
    template <class Record> Record* find() { return const_cast<Record*>(std::as_const(*this).find<Record>()); }

    bool isEmpty() const { return m_entries.empty(); }
    auto begin() const { return m_entries.begin(); }
    auto end() const { return m_entries.end(); }

    // The same tests with equal results, in any order.
    friend bool operator==(const ExtendedResults& a, const ExtendedResults& b)
    {
        if (a.m_entries.size() != b.m_entries.size())
            return false;
        for (const Entry& entry : a.m_entries) {
            const Entry* other = b.find(entry.test());
            if (!other || !(*other == entry))
                return false;
        }
        return true;
    }

private:
    std::vector<Entry> m_entries;
};

} // namespace ostrel
