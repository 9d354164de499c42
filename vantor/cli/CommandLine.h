// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Services.h"
#include "vantor/options/ServiceOptions.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace vantor::cli {

enum class OutputFormat {
    Text, // five "Key<TAB>Value" lines per address, a blank line between
    Json, // one array
    Csv, // ip,country,region,city,isp,status
};

// Where addresses come from: one given as it is, or a list's file ("-" for standard input).
struct AddressSource
{
    enum class Kind { Address, File };
    Kind kind;
    QString text;
    friend bool operator==(const AddressSource&, const AddressSource&) = default;
};

// What vantor-cli's command line asks for.
struct CliOptions
{
    ServiceConfig services;
    QStringList warnings; // for standard error, even when the program runs
    OutputFormat format = OutputFormat::Text;
    bool ownOnly = false; // --own: the machine's addresses, no lookup
    bool extract = false; // -x: the addresses standing in lines of text
    std::optional<std::size_t> summaryTop; // --summary, with --top's number (10 by default)
    QList<AddressSource> sources; // in the order of the command line
};

// arguments[0] is the program's path.
platform::Result<CliOptions, options::Exit> parseCliCommandLine(const QStringList& arguments,
                                                                const QString& configurationPath);

} // namespace vantor::cli
