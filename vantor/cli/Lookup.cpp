// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/Lookup.h"

#include "vantor/cli/AnswerWriter.h"
#include "vantor/cli/EntryReader.h"
#include "vantor/cli/LocalLookup.h"
#include "vantor/cli/LookupRun.h"
#include "vantor/cli/OnlineLookup.h"
#include "vantor/cli/Output.h"
#include "vantor/cli/OwnAddresses.h"
#include "vantor/cli/ProgressLine.h"
#include "vantor/cli/Summary.h"
#include "vantor/net/IpDatabase.h"
#include "vantor/net/IpInfo.h"

#include <QDateTime>
#include <algorithm>

namespace vantor::cli {

namespace {

// Said once a run: the answers of a bundled database built long ago may be out of date.
void warnOfOldBundledData(const ServiceConfig& services, QIODevice& err)
{
    const std::vector<DatabaseAge> ages = databaseAges(services, QDateTime::currentSecsSinceEpoch());
    const auto stale = std::find_if(ages.begin(), ages.end(), [](const DatabaseAge& age) { return age.stale; });
    if (stale != ages.end())
        write(err,
              QStringLiteral("vantor-cli: 本地数据库建于 %1，已超过 %2 天，结果可能过时\n")
                  .arg(stale->built.toString(Qt::ISODate))
                  .arg(kBundledDataFreshDays));
}

} // namespace

int lookUp(const ServiceConfig& services, const QList<AddressSource>& sources, const LookupOptions& options,
           QIODevice& out, QIODevice& err, const Wait& wait)
{
    // A local database is opened here, before anything is read: a file that cannot be used stops the run at once.
    std::optional<IpDatabases> databases;
    if (ipInfoFormat(services.ipInfoFormat).lookUpLocally) {
        Result<IpDatabases> opened = sharedIpDatabases(services);
        if (!opened) {
            write(err, QStringLiteral("vantor-cli: %1\n").arg(opened.error().message));
            return kExitBadUsage;
        }
        databases = std::move(*opened);
        warnOfOldBundledData(services, err);
    }

    std::optional<Summary> summary;
    if (options.summaryTop)
        summary.emplace(*options.summaryTop, services.ipInfoFormat == IpInfoFormat::IpInfo);
    AnswerWriter writer(options.format, out, err, options.progress, summary ? &*summary : nullptr);
    QList<AddressSource> queries = sources;
    if (queries.isEmpty()) {
        const QStringList addresses = findOwnAddressList(services, err);
        if (addresses.isEmpty()) {
            writer.finishWithoutAddresses();
            return kExitNoNetwork;
        }
        for (const QString& address : addresses)
            queries.append({ AddressSource::Kind::Address, address });
    }
    EntryReader reader(queries, options.standardInput, options.interruption, options.stopRequested);
    if (options.extract)
        reader.extractAddresses();
    if (const platform::Status<QString> opened = reader.open(); !opened) {
        writer.message(opened.error());
        return kExitBadUsage;
    }
    // Counting the lists costs a second reading of them, worth it only when the progress line shows the total.
    const bool counted = options.progress && options.progress->shown();
    Run run { reader, writer, options.progress, counted ? reader.count() : std::nullopt, options.stopRequested };
    if (options.progress)
        options.progress->update(0, run.total);
    const int status
        = databases ? lookUpLocally(*databases, run) : lookUpOnline(services, run, wait, options.keptAnswersBudget);
    if (options.progress)
        options.progress->clear();
    return status;
}

int lookUpAll(const ServiceConfig& services, const QStringList& addresses, bool json, QIODevice& out, QIODevice& err,
              const Wait& wait)
{
    QList<AddressSource> sources;
    for (const QString& address : addresses)
        sources.append({ AddressSource::Kind::Address, address });
    LookupOptions options;
    options.format = json ? OutputFormat::Json : OutputFormat::Text;
    return lookUp(services, sources, options, out, err, wait);
}

} // namespace vantor::cli
