// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/engine/ExtendedResults.h"
#include "ostrel/extended/ExtendedTest.h"

#include <QStringList>
#include <typeindex>

namespace ostrel {

// A figure of any test's result: the CSV, the history window and the comparison of two runs follow these.
struct ExtendedFigure
{
    // The test's key: "disk".
    QString test;
    // Its CSV column: "disk_seqRead_mbps".
    QString key;
    QString title;
    int decimals = 0;
    Better better = Better::Neither;
    bool listed = false;
    std::function<std::optional<double>(const ExtendedResults::Entry&)> value;

    // Empty for a run without the test.
    std::optional<double> of(const ExtendedResults& results) const;
    // The value with this figure's decimals.
    QString text(double figure) const;
};

// One row of the table of extended tests: what its folder's TestDescription gives, for any record type.
class ExtendedKind
{
public:
    template <class Record> explicit ExtendedKind(const TestDescription<Record>& d);

    QString key;
    QString name;
    QString help;
    QString summary;
    std::unique_ptr<AnyExtendedTest> make(const ExtendedSetup& setup) const { return m_make(setup); }
    // Runs a test that make() gave.
    ExtendedResult<ExtendedResults::Entry> run(AnyExtendedTest& test, const FinishedRun& finished,
                                               const std::atomic<bool>& stop, ExtendedProgress& progress) const
    {
        return m_run(test, finished, stop, progress);
    }
    std::function<QString(const ExtendedResults::Entry&)> line;
    std::function<QString(const ExtendedResults::Entry&, const FinishedRun&)> details;
    std::function<QString(const ExtendedResults::Entry&)> historyTip;
    QList<ExtendedFigure> figures;
    // The CSV columns before the figures, and their texts for a result.
    QStringList textColumns;
    std::function<QStringList(const ExtendedResults::Entry&)> texts;
    std::function<QJsonObject(const ExtendedResults::Entry&)> toJson;
    std::function<ExtendedResult<ExtendedResults::Entry>(const QJsonObject&)> fromJson;
    std::function<QList<MetricFamily>(const ExtendedResults::Entry&)> metrics;
    // None for a test that gives none.
    std::function<QList<ResultCurve>(const ExtendedResults::Entry&)> curves;
    void (*removeLeftovers)(const QString& scratchFolder, const QString& folder,
                            std::chrono::system_clock::time_point before)
        = nullptr;

    // "磁盘：未能测试，" and why.
    QString problemLine(const QString& problem) const;

    // Whether its results are Records: each test's record type is its own.
    template <class Record> bool gives() const { return m_record == std::type_index(typeid(Record)); }

private:
    std::function<std::unique_ptr<AnyExtendedTest>(const ExtendedSetup&)> m_make;
    std::function<ExtendedResult<ExtendedResults::Entry>(AnyExtendedTest&, const FinishedRun&, const std::atomic<bool>&,
                                                         ExtendedProgress&)>
        m_run;
    std::type_index m_record;
};

template <class Record>
ExtendedKind::ExtendedKind(const TestDescription<Record>& d)
    : key(QLatin1String(d.key))
    , name(QString::fromUtf16(d.name))
    , help(QLatin1String(d.help))
    , summary(QLatin1String(d.summary))
    , removeLeftovers(d.removeLeftovers)
    , m_record(typeid(Record))
{
    using Entry = ExtendedResults::Entry;
    // Every entry a row is handed is its own test's, so the record is always there.
    const auto record = [](const Entry& entry) -> const Record& { return *entry.as<Record>(); };
    const QString test = key;
    m_make = [make = d.make](const ExtendedSetup& setup) -> std::unique_ptr<AnyExtendedTest> { return make(setup); };
    m_run = [test](AnyExtendedTest& any, const FinishedRun& finished, const std::atomic<bool>& stop,
                   ExtendedProgress& progress) -> ExtendedResult<Entry> {
        ExtendedResult<Record> result = static_cast<ExtendedTest<Record>&>(any).run(finished, stop, progress);
        if (!result)
            return result.error();
        return Entry(test, std::move(result).value());
    };
    line = [record, f = d.line](const Entry& entry) { return f(record(entry)); };
    details = [record, f = d.details](const Entry& entry, const FinishedRun& finished) {
        return f(record(entry), finished);
    };
    historyTip = [record, f = d.historyTip](const Entry& entry) { return f(record(entry)); };
    for (const Figure<Record>& figure : d.figures()) {
        figures << ExtendedFigure { test,
                                    test + QLatin1Char('_') + figure.key,
                                    figure.title,
                                    figure.decimals,
                                    figure.better,
                                    figure.listed,
                                    [record, value = figure.value](const Entry& entry) {
                                        return value(record(entry));
                                    } };
    }
    const QList<TextColumn<Record>> columns = d.texts ? d.texts() : QList<TextColumn<Record>> {};
    for (const TextColumn<Record>& column : columns)
        textColumns << test + QLatin1Char('_') + column.key;
    texts = [record, columns](const Entry& entry) {
        QStringList row;
        for (const TextColumn<Record>& column : columns)
            row << column.text(record(entry));
        return row;
    };
    toJson = [record, f = d.toJson](const Entry& entry) { return f(record(entry)); };
    fromJson = [test, f = d.fromJson](const QJsonObject& object) -> ExtendedResult<Entry> {
        ExtendedResult<Record> read = f(object);
        if (!read)
            return read.error();
        return Entry(test, std::move(read).value());
    };
    metrics = [record, f = d.metrics](const Entry& entry) { return f(record(entry)); };
    curves = [record, f = d.curves](const Entry& entry) { return f ? f(record(entry)) : QList<ResultCurve> {}; };
}

} // namespace ostrel
