// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/CommandLine.h"

#include "vantor/cli/AddressList.h"
#include "vantor/cli/AnswerWriter.h"
#include "vantor/cli/OnlineLookup.h"
#include "vantor/net/Failure.h"
#include "vantor/net/IpApiBatch.h"
#include "vantor/net/IpInfo.h"

namespace vantor::cli {

namespace {

const QString kUsage = QStringLiteral(" [ADDRESS | -f FILE]...");

// The parser keeps addresses and files apart; the output follows the command line's order, so it is found again
// by walking the arguments: each -f value and each address in the parser's order, where it stands.
QList<AddressSource> addressSources(const QStringList& arguments, const QStringList& addresses,
                                    const QStringList& files)
{
    using Kind = AddressSource::Kind;
    QList<AddressSource> sources;
    qsizetype nextAddress = 0;
    qsizetype nextFile = 0;
    bool onlyAddresses = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!onlyAddresses && argument == QLatin1String("--")) {
            onlyAddresses = true;
            continue;
        }
        if (!onlyAddresses && nextFile < files.size()) {
            if ((argument == QLatin1String("-f") || argument == QLatin1String("--file")) && i + 1 < arguments.size()
                && arguments[i + 1] == files[nextFile]) {
                sources.append({ Kind::File, files[nextFile++] });
                ++i;
                continue;
            }
            if (argument == QLatin1String("-f=") + files[nextFile] || argument == QLatin1String("-f") + files[nextFile]
                || argument == QLatin1String("--file=") + files[nextFile]) {
                sources.append({ Kind::File, files[nextFile++] });
                continue;
            }
        }
        if (nextAddress < addresses.size() && argument == addresses[nextAddress]
            && (onlyAddresses || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")))
            sources.append({ Kind::Address, addresses[nextAddress++] });
    }
    // Whatever the walk missed keeps the parser's order at the end.
    while (nextFile < files.size())
        sources.append({ Kind::File, files[nextFile++] });
    while (nextAddress < addresses.size())
        sources.append({ Kind::Address, addresses[nextAddress++] });
    return sources;
}

// The text in lines of no more than kHelpWidth characters, each indented by two spaces.
QString wrapped(const QString& text)
{
    constexpr qsizetype kHelpWidth = 76;
    QString lines;
    QString line;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > kHelpWidth) {
            lines += line + QLatin1Char('\n');
            line.clear();
        }
        line += (line.isEmpty() ? QStringLiteral("  ") : QStringLiteral(" ")) + word;
    }
    return line.isEmpty() ? lines : lines + line + QLatin1Char('\n');
}

// The sections of --help after the shared ones: the output's members, columns and error names come from the tables
// that make them.
QString outputHelp()
{
    QStringList members;
    for (const InfoField& field : kInfoFields)
        members << QLatin1String(field.name);
    const QString lastMember = members.takeLast();
    // In one pass, so that nothing put in is read for a place marker.
    const QString output
        = QStringLiteral("Five lines KEY<TAB>VALUE per address (IP, country, region, city and carrier, with Chinese "
                         "keys), a blank line between addresses; an address that gets no rows prints one line on "
                         "standard error instead. With --json, one array of objects with the members query, ok, and "
                         "either %1, %2 and network (null where the service did not say), or error: %3. With "
                         "--csv, the header %4 and one row per input address (RFC 4180, UTF-8), status ok or one "
                         "of those errors. The network is the one the local database (mmdb) holds the address in, "
                         "e.g. 142.250.7.0/24; the online services do not say. An address of a special-purpose block "
                         "(private, shared, loopback, link-local, documentation, multicast, ...) is answered at once "
                         "and never looked up: 特殊地址 with the block's name, the block and its RFC in place of the "
                         "four lines; in JSON a member special {block, name, rfc} and the block as network; in CSV "
                         "the block as network and its name as special. A line of a list that is not an address "
                         "(with -x, only one over the bound below) is reported as FILE:LINE on standard "
                         "error and counts as rejected. On a terminal, standard error shows how far a list has come. "
                         "With --own, the addresses one a line, or with --json one object {\"ipv4\": ..., "
                         "\"ipv6\": ...}, null for a family not found.")
              .arg(members.join(QLatin1String(", ")), lastMember, errorNameList(), csvColumns().join(QLatin1Char(',')));
    const QString batches
        = QStringLiteral("With ip-api and more than one address, vantor-cli asks its batch endpoint, %1 addresses a "
                         "request (15 requests a minute for free). When ip-api says that no requests are left, "
                         "vantor-cli waits until its limit resets before the next request.")
              .arg(kIpApiBatchLimit);
    const QString asTheyCome
        = QStringLiteral("Answers are written as they come, and a line on standard error names the address it is "
                         "about. A list's line over %1 bytes is rejected unread. After %2 requests in a row without "
                         "an answer the remaining addresses are not sent and fail as network failures. Ctrl-C or "
                         "SIGTERM stops after the address at hand, also while a list waits for its writer, and what "
                         "is written is complete (a JSON array closed). With mmdb the lookups run on as many threads "
                         "as the CPUs vantor-cli may use.")
              .arg(QString::number(kLongestListLine), QString::number(kLongestNoAnswerStreak));
    return QStringLiteral("\nOutput:\n") + wrapped(output) + QLatin1Char('\n') + wrapped(batches) + QLatin1Char('\n')
        + wrapped(asTheyCome)
        + QStringLiteral("\n"
                         "Exit status:\n"
                         "  0  every address was answered\n"
                         "  1  an address was rejected, not in the database, its answer was\n"
                         "     unreadable or the service busy\n"
                         "  2  bad usage, a list that cannot be read, or a database file that cannot\n"
                         "     be opened or is not a MaxMind DB\n"
                         "  3  no answer came over the network, or no secure one, for an address,\n"
                         "     or no own address was found (this wins over 1)\n"
                         "  130  stopped by Ctrl-C or SIGTERM\n"
                         "  141  standard output was closed (e.g. by head): the run stops there\n");
}

} // namespace

platform::Result<CliOptions, options::Exit> parseCliCommandLine(const QStringList& arguments,
                                                                const QString& configurationPath)
{
    options::CommandLine commandLine(
        QStringLiteral("vantor-cli"),
        QStringLiteral("Looks up each ADDRESS in turn with the IP-information service of the Vantor\n"
                       "window and prints its country, region, city and carrier. Without an ADDRESS\n"
                       "it looks up this machine's public addresses, IPv4 first.\n"
                       "\n"
                       "A list FILE holds one address a line; blank lines and text after '#' are\n"
                       "ignored. With no ADDRESS and no -f, standard input is read as a list when it\n"
                       "is a pipe, a file or a socket; a terminal or /dev/null is none. Cron gives its\n"
                       "jobs a pipe, so the own addresses need it redirected from /dev/null:\n"
                       "  0 * * * * vantor-cli --json < /dev/null >> ~/own-address.log\n"
                       "Each distinct address is looked up once; the answers keep the input's order."));
    QCommandLineParser& parser = commandLine.parser();
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print the answers as one JSON array on standard output."));
    const QCommandLineOption own(QStringLiteral("own"),
                                 QStringLiteral("Print this machine's public addresses only, IPv4 first, one a "
                                                "line (with --json, one object); no lookup."));
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 QStringLiteral("Print the answers as CSV: a header line, then one row per address."));
    const QCommandLineOption listFile(QStringList { QStringLiteral("f"), QStringLiteral("file") },
                                      QStringLiteral("Read addresses from FILE, one a line ('-': standard input). "
                                                     "FILE is a regular file or a FIFO; a device or a folder is "
                                                     "refused. May be given more than once."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption extract(
        QStringList { QStringLiteral("x"), QStringLiteral("extract") },
        QStringLiteral("Read each line (of a list, standard input or an ADDRESS) as text, e.g. a log, and look up "
                       "every IPv4 and IPv6 address standing in it as a word of its own, in order: "
                       "\"1.2.3.4:8080\", \"[2606:4700::1111]:443\", \"SRC=1.2.3.4\", not \"v1.2.3.4\". A line "
                       "without one is passed over."));
    parser.addOption(json);
    parser.addOption(own);
    parser.addOption(csv);
    const QCommandLineOption summary(
        QStringLiteral("summary"),
        QStringLiteral("In place of the answers, print what they come to: addresses read (each time they come), "
                       "distinct, answered, not addresses, failed by kind, and the top countries, ASNs and "
                       "networks with their counts and shares of the answered. As text, with --json one object, "
                       "with --csv rows kind,key,name,count,share."));
    const QCommandLineOption top(QStringLiteral("top"),
                                 QStringLiteral("With --summary, list the top N of each kind (default 10)."),
                                 QStringLiteral("N"));
    parser.addOption(listFile);
    parser.addOption(extract);
    parser.addOption(summary);
    parser.addOption(top);
    commandLine.addServiceOptions();
    parser.addPositionalArgument(QStringLiteral("ADDRESS"), QStringLiteral("An IPv4 or IPv6 address to look up."),
                                 kUsage.trimmed());

    if (const platform::Status<options::Exit> parsed = commandLine.parse(arguments, kUsage, outputHelp()); !parsed)
        return parsed.error();
    platform::Result<ResolvedServices, options::Exit> services = commandLine.services(configurationPath);
    if (!services)
        return services.error();

    CliOptions options;
    options.services = std::move(services->services);
    options.warnings = std::move(services->warnings);
    options.ownOnly = parser.isSet(own);
    options.extract = parser.isSet(extract);
    if (options.ownOnly && (!parser.positionalArguments().isEmpty() || parser.isSet(listFile) || options.extract))
        return commandLine.badUsage(QStringLiteral("--own takes no ADDRESS, no -f and no -x"));
    if (options.ownOnly && parser.isSet(csv))
        return commandLine.badUsage(QStringLiteral("--own and --csv cannot be given together."));
    if (parser.isSet(json) && parser.isSet(csv))
        return commandLine.badUsage(QStringLiteral("--json and --csv cannot be given together."));
    if (parser.isSet(summary) && options.ownOnly)
        return commandLine.badUsage(QStringLiteral("--own and --summary cannot be given together."));
    if (parser.isSet(top) && !parser.isSet(summary))
        return commandLine.badUsage(QStringLiteral("--top needs --summary."));
    if (parser.isSet(summary)) {
        bool number = false;
        const uint count = parser.isSet(top) ? parser.value(top).toUInt(&number) : 10;
        if (parser.isSet(top) && (!number || count == 0 || count > 1000000))
            return commandLine.badUsage(QStringLiteral("--top takes a number from 1 to 1000000."));
        options.summaryTop = count;
    }
    options.format = parser.isSet(csv) ? OutputFormat::Csv
        : parser.isSet(json)           ? OutputFormat::Json
                                       : OutputFormat::Text;
    options.sources = addressSources(arguments, parser.positionalArguments(), parser.values(listFile));
    return options;
}

} // namespace vantor::cli
