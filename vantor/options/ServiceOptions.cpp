// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/options/ServiceOptions.h"

#include "platform/CheckedOutput.h"
#include "platform/OutsideFile.h"
#include "platform/PrintableText.h"
#include "platform/Version.h"
#include "vantor/net/BundledDatabases.h"
#include "vantor/net/IpInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <iterator>
#include <unistd.h>

namespace vantor::options {

namespace {

// A token file is a line or two, never a whole document.
constexpr qint64 kMaxTokenFileSize = 4096;

struct ServiceOption
{
    ServiceSetting setting;
    std::optional<QString> ServiceSettings::*value; // null for a list
    const char* name;
    const char* valueName;
    const char* description; // the format's: %1 the names of the formats
    std::optional<QStringList> ServiceSettings::*list = nullptr; // a list: the option repeated gives the whole list
};

// In the order --help lists them.
constexpr ServiceOption kServiceOptions[] = {
    { ServiceSetting::IpInfoFormat, &ServiceSettings::ipInfoFormat, "ip-info-format", "FORMAT",
      "How the IP-information service is asked: %1 (the default ip-api over HTTP, ipwhois and ipinfo over HTTPS, "
      "mmdb a local MaxMind DB file instead of a service)." },
    { ServiceSetting::IpInfoUrl, &ServiceSettings::ipInfoUrl, "ip-info-url", "URL",
      "URL prefix of the IP-information service; the address is appended to it (ip-api: http://ip-api.com/json/)." },
    // The option names a file holding the token: a token in the arguments would be in view of every user of the
    // machine.
    { ServiceSetting::IpInfoToken, &ServiceSettings::ipInfoToken, "ip-info-token-file", "FILE",
      "A file holding the ipinfo format's access token, sent as an Authorization header." },
    { ServiceSetting::MyAddressUrls, nullptr, "my-address-url", "URL",
      "A service that answers with this machine's public address; repeat it for several, all asked at once. End the "
      "URL in #ipv4 or #ipv6 to take only that family's address from it.",
      &ServiceSettings::myAddressUrls },
    { ServiceSetting::IpApiBatchUrl, &ServiceSettings::ipApiBatchUrl, "ip-api-batch-url", "URL",
      "URL of ip-api's batch endpoint, asked by vantor-cli for more than one address (default: "
      "http://ip-api.com/batch; empty: one request per address)." },
    { ServiceSetting::IpInfoDatabase, nullptr, "ip-info-database", "FILE",
      "The MaxMind DB file (a City database) of the format mmdb; repeat it for one file per address family (an "
      "address is looked up in the first file that holds its family). Default: the country database of the "
      "vantor-ip-data package.",
      &ServiceSettings::ipInfoDatabases },
    { ServiceSetting::AsnDatabase, &ServiceSettings::asnDatabase, "asn-database", "FILE",
      "A MaxMind ASN database, for the carrier in the format mmdb (optional; with the default country database, "
      "the ASN database of the vantor-ip-data package)." },
};

const ServiceOption& serviceOption(ServiceSetting setting)
{
    return *std::find_if(std::begin(kServiceOptions), std::end(kServiceOptions),
                         [setting](const ServiceOption& option) { return option.setting == setting; });
}

// What --help says of each format, in the order it says it; the name comes from the format table.
struct FormatHelp
{
    IpInfoFormat format;
    const char* lines; // after the name's column, each further line indented to it
};

constexpr FormatHelp kFormatHelp[] = {
    { IpInfoFormat::IpApi,
      "the default, http://ip-api.com/json/: plain HTTP only (anyone\n"
      "on the way sees each address), free for non-commercial use,\n"
      "45 requests a minute." },
    { IpInfoFormat::IpWhois,
      "https://ipwho.is/ over HTTPS, no key, names in Chinese; its free\n"
      "service answers a limited number of requests a day or minute." },
    { IpInfoFormat::IpInfo,
      "https://ipinfo.io/ over HTTPS, two-letter country codes and\n"
      "English names; without a token a limited number of requests a\n"
      "day or minute, with one (ipInfoToken in the file, or\n"
      "--ip-info-token-file) what its terms allow." },
    { IpInfoFormat::GetIpInfo,
      "a service answering PREFIX + ADDRESS, the prefix ending in\n"
      "/service/getIpInfo.php?ip=, with the JSON members code and\n"
      "data; it has no public service, so its URL must be given." },
    { IpInfoFormat::Mmdb,
      "no service and no network: the MaxMind DB files of\n"
      "--ip-info-database (City databases such as DB-IP's City Lite\n"
      "or GeoLite2 City, or DB-IP's in the flat layout of country_code,\n"
      "state1 and city, one file per address family), which Vantor\n"
      "never downloads itself; without one, the country and ASN\n"
      "databases of the vantor-ip-data package (/usr/share/vantor)." },
};

QString formatsHelp()
{
    constexpr qsizetype kNameColumn = 11;
    QString text;
    for (const FormatHelp& help : kFormatHelp) {
        const QString indent = QLatin1String("\n") + QString(2 + kNameColumn, QLatin1Char(' '));
        text += QLatin1String("  ") + QString::fromLatin1(ipInfoFormat(help.format).name).leftJustified(kNameColumn)
            + QString::fromUtf8(help.lines).replace(QLatin1Char('\n'), indent) + QLatin1Char('\n');
    }
    return text;
}

// The sections of --help both programs have.
QString sharedHelp()
{
    return QStringLiteral("\n"
                          "Configuration:\n"
                          "  The options override the keys ipInfoFormat, ipInfoUrl, ipInfoToken,\n"
                          "  myAddressUrls (a comma-separated list; an older myAddressUrl is a list of\n"
                          "  one), ipApiBatchUrl, ipInfoDatabase (one file or a comma-separated list)\n"
                          "  and asnDatabase of the INI file\n"
                          "  $XDG_CONFIG_HOME/vantor/vantor.conf (usually ~/.config/vantor/vantor.conf),\n"
                          "  which is only ever read.\n"
                          "\n"
                          "Formats (choose one with --ip-info-format):\n")
        + formatsHelp()
        + QStringLiteral("  HTTPS is checked against the system's certificates; a service that fails\n"
                         "  the check gets no request, and there is no way to turn the check off.\n"
                         "\n"
                         "Own addresses:\n"
                         "  All my-address services are asked at once over HTTPS, within 3 seconds\n"
                         "  in all; the first good answer of each family wins: ipv4.icanhazip.com,\n"
                         "  api.ipify.org, v4.ident.me and checkip.amazonaws.com for IPv4,\n"
                         "  ipv6.icanhazip.com, api6.ipify.org and v6.ident.me for IPv6.\n");
}

// A file name in a message: whole, as far as a path can be long, and with nothing a terminal acts on.
QString printableFileName(const QString& path)
{
    return platform::printable(path, PATH_MAX);
}

// The file's bytes, or nothing when it cannot be read or holds more than kMaxTokenFileSize. A pipe is read too, as
// `<(pass show ipinfo)` gives one, but no device; no more than one byte past the bound is ever read: a pipe that
// never ends, a huge file (whose size the file system may not even tell).
std::optional<QByteArray> readTokenFile(const QString& path)
{
    const auto file = platform::openOutsideFile(path, platform::FileKinds::RegularFileOrFifo);
    if (!file)
        return std::nullopt;
    const auto bytes = platform::readBounded(file->get(), kMaxTokenFileSize);
    if (!bytes)
        return std::nullopt;
    return *bytes;
}

} // namespace

int printExit(const Exit& exit)
{
    if (exit.status != 0) {
        std::fputs(exit.text.toLocal8Bit().constData(), stderr);
        return exit.status;
    }
    // Help and version on standard output, every byte of it checked.
    if (const int error = platform::writeAll(STDOUT_FILENO, exit.text.toLocal8Bit())) {
        const QString program = QCoreApplication::applicationName();
        std::fputs((platform::outputFailureLine(program, error) + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
        return platform::kExitOutputClosed;
    }
    return exit.status;
}

void printWarnings(const QStringList& warnings)
{
    for (const QString& warning : warnings)
        std::fprintf(stderr, "%s\n", warning.toLocal8Bit().constData());
}

QString optionName(ServiceSetting setting)
{
    return QLatin1String("--") + QLatin1String(serviceOption(setting).name);
}

Result<ResolvedServices> resolveServiceOptions(const ServiceSettings& commandLine, const ServiceSettings& file,
                                               const QString& filePath)
{
    return resolveServices(commandLine, file, filePath, optionName);
}

CommandLine::CommandLine(QString program, const QString& description)
    : m_program(std::move(program))
    , m_help(QStringList { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Show this help and exit."))
    , m_version(QStringLiteral("version"), QStringLiteral("Show the version and exit."))
{
    m_parser.setApplicationDescription(description);
    m_parser.addOption(m_help);
    m_parser.addOption(m_version);
}

void CommandLine::addServiceOptions()
{
    for (const ServiceOption& option : kServiceOptions) {
        QString description = QString::fromUtf8(option.description);
        if (option.setting == ServiceSetting::IpInfoFormat)
            description = description.arg(formatNameList());
        m_parser.addOption(
            QCommandLineOption(QLatin1String(option.name), description, QLatin1String(option.valueName)));
    }
}

platform::Status<Exit> CommandLine::parse(const QStringList& arguments, const QString& usage, const QString& sections)
{
    // Qt's text quotes what was given.
    if (!m_parser.parse(arguments))
        return badUsage(platform::printable(m_parser.errorText(), PATH_MAX));
    if (m_parser.isSet(m_help)) {
        // The parser names the program after the running application, or not at all before there is one.
        QString text = m_parser.helpText();
        text.remove(0, text.indexOf(QLatin1Char('\n')) + 1);
        return Exit {
            0, QStringLiteral("Usage: %1 [options]%2\n").arg(m_program, usage) + text + sharedHelp() + sections
        };
    }
    // The version, then what the bundled databases are and whose data they hold.
    if (m_parser.isSet(m_version))
        return Exit { 0,
                      QStringLiteral("%1 %2\n").arg(m_program, QLatin1String(platform::kVersion))
                          + bundledDataText(bundledDatabases()) };
    return platform::Done {};
}

platform::Result<ResolvedServices, Exit> CommandLine::services(const QString& configurationPath)
{
    ServiceSettings commandLine;
    for (const ServiceOption& option : kServiceOptions) {
        const QStringList values = m_parser.values(QLatin1String(option.name));
        if (values.isEmpty())
            continue;
        if (option.value)
            commandLine.*option.value = values.constLast();
        else
            commandLine.*option.list = values; // repeated, the option gives the whole list
    }
    if (commandLine.ipInfoToken) {
        // Read now, so that the token takes the same checks as one from the configuration file.
        const std::optional<QByteArray> token = readTokenFile(*commandLine.ipInfoToken);
        if (!token)
            return badUsage(
                QStringLiteral("%1: cannot read '%2'")
                    .arg(optionName(ServiceSetting::IpInfoToken), printableFileName(*commandLine.ipInfoToken)));
        commandLine.ipInfoToken = QString::fromUtf8(*token).trimmed();
    }
    QStringList fileWarnings;
    const ServiceSettings file = readConfigurationFile(configurationPath, &fileWarnings);
    Result<ResolvedServices> resolved = resolveServiceOptions(commandLine, file, configurationPath);
    if (!resolved)
        return badUsage(resolved.error().message);
    ResolvedServices services = std::move(resolved).value();
    QStringList warnings;
    for (const QString& warning : fileWarnings + services.warnings)
        warnings << QStringLiteral("%1: %2").arg(m_program, warning);
    services.warnings = warnings;
    return services;
}

Exit CommandLine::badUsage(const QString& message) const
{
    return { kExitBadUsage, QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(m_program, message) };
}

} // namespace vantor::options
