// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as a service's answers for --summary: each line QUERY<TAB>COUNTRY<TAB>CARRIER<TAB>NETWORK, counted
// with small bounds (so the estimates run too) and written in every format.
#include "vantor/cli/Summary.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    vantor::cli::Summary summary(3, true, { 4, 4 });
    qint64 lines = 0;
    for (const QByteArray& line : bytes.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        vantor::cli::Outcome outcome;
        if (fields.size() < 2) {
            outcome = { vantor::FailureKind::NotFound, {}, {}, false };
        } else {
            outcome.answer.kind = vantor::IpInfoAnswer::Kind::Rows;
            outcome.answer.values[1] = QString::fromUtf8(fields[1]);
            if (fields.size() > 2)
                outcome.answer.values[4] = QString::fromUtf8(fields[2]);
            if (fields.size() > 3)
                outcome.answer.network = QString::fromUtf8(fields[3]);
        }
        summary.add(QString::fromUtf8(fields[0]), outcome);
        ++lines;
    }
    const QJsonObject json = QJsonDocument::fromJson(summary.written(vantor::cli::OutputFormat::Json)).object();
    if (json.value(QLatin1String("read")).toInteger() != lines || summary.answered() > summary.read()
        || summary.countries().top(3).size() > 3)
        std::abort();
    (void)summary.written(vantor::cli::OutputFormat::Csv);
    (void)summary.written(vantor::cli::OutputFormat::Text);
    return 0;
}
