// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/LocalLookup.h"

#include "vantor/cli/LookupRun.h"
#include "vantor/net/IpInfo.h"

namespace vantor::cli {

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

} // namespace vantor::cli
