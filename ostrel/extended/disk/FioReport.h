// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace ostrel::disk {

// One job of a fio report, as fio measured it.
struct FioJobReport
{
    QString name;
    // fio's error number for the job; 0 when it ran.
    int error = 0;
    double readBytesPerSecond = 0.0;
    double readIops = 0.0;
    double writeBytesPerSecond = 0.0;
    double writeIops = 0.0;
};

struct FioReport
{
    // "fio-3.33"; empty when the report does not say.
    QString version;
    QList<FioJobReport> jobs;
};

// Why fio's output is no report, for the user.
struct FioReportError
{
    QString reason;
};

// What fio --output-format=json wrote on its standard output. fio may put
// lines of its own before the report ("fio: terminating on signal 15");
// they are skipped. Rates come from "bw_bytes", or from "bw" in KiB/s where
// an older fio gives only that.
platform::Result<FioReport, FioReportError> readFioReport(const QByteArray& output);

} // namespace ostrel::disk
