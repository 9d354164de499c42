// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/Configuration.h"

#include "platform/IniFile.h"
#include "platform/PrintableText.h"
#include "platform/Version.h"
#include "vantor/net/Fetch.h"
#include "vantor/net/IpInfo.h"
#include "vantor/net/OwnAddress.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace vantor {

namespace {

constexpr char kFormatKey[] = "ipInfoFormat";
constexpr char kIpInfoUrlKey[] = "ipInfoUrl";
constexpr char kIpInfoTokenKey[] = "ipInfoToken";
constexpr char kMyAddressUrlsKey[] = "myAddressUrls";
constexpr char kOldMyAddressUrlKey[] = "myAddressUrl";
constexpr char kMyAddressUrlOption[] = "my-address-url";
constexpr char kTokenFileOption[] = "ip-info-token-file";
// A token file is a line or two, never a whole document.
constexpr qint64 kMaxTokenFileSize = 4096;
constexpr char kIpInfoDatabaseKey[] = "ipInfoDatabase";

// A file name in a message: whole, as far as a path can be long, and with nothing a terminal acts on.
QString printableFileName(const QString& path)
{
    return platform::printable(path, PATH_MAX);
}

// The file's bytes, or nothing when it cannot be read or holds more than kMaxTokenFileSize. No more than one byte
// past that bound is ever read, whatever the file is: a device such as /dev/zero, a pipe that never ends, a huge
// file (whose size the file system may not even tell).
std::optional<QByteArray> readTokenFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    QByteArray bytes(kMaxTokenFileSize + 1, Qt::Uninitialized);
    qint64 size = 0;
    while (size < bytes.size()) {
        const qint64 count = file.read(bytes.data() + size, bytes.size() - size);
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            break;
        size += count;
    }
    if (size > kMaxTokenFileSize)
        return std::nullopt;
    bytes.truncate(size);
    return bytes;
}

QString formatNames()
{
    QStringList names;
    for (const IpInfoFormatAdapter& adapter : ipInfoFormats())
        names << QLatin1String(adapter.name);
    const QString last = names.takeLast();
    return names.join(QLatin1String(", ")) + QLatin1String(" or ") + last;
}

// Each returns what is wrong with the value, or nothing.
QString checkFormat(const QString& text)
{
    if (ipInfoFormatNamed(text))
        return {};
    return QStringLiteral("unknown format '%1' (use %2)").arg(platform::printable(text), formatNames());
}

QString checkUrl(const QString& text)
{
    const QUrl url = webUrl(text);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && !url.host().isEmpty() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
        return {};
    return QStringLiteral("'%1' is not an absolute http or https URL").arg(platform::printable(text));
}

// What goes into a request header must be printable ASCII without spaces; the token itself is never named.
QString checkToken(const QString& text)
{
    const bool usable = !text.isEmpty()
        && std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
    return usable ? QString() : QStringLiteral("not a usable access token");
}

// What is wrong with the list, or nothing.
QString checkAddressUrls(const QStringList& urls)
{
    if (urls.isEmpty())
        return QStringLiteral("no URL given");
    for (const QString& url : urls) {
        QString problem;
        if (!addressProvider(url, &problem))
            return problem;
    }
    return {};
}

// An empty batch URL sends one request per address, for a service that has no batch endpoint.
QString checkBatchUrl(const QString& text)
{
    return text.isEmpty() ? QString() : checkUrl(text);
}

QString checkFileName(const QString& text)
{
    if (!text.isEmpty())
        return {};
    return QStringLiteral("an empty file name");
}

struct Setting
{
    std::optional<QString> ServiceSettings::*value;
    const char* key; // in the file
    const char* option; // on the command line
    QString (*check)(const QString&);
};

constexpr Setting kSettings[] = {
    { &ServiceSettings::ipInfoFormat, kFormatKey, "ip-info-format", checkFormat },
    { &ServiceSettings::ipInfoUrl, kIpInfoUrlKey, "ip-info-url", checkUrl },
    // On the command line the option names a file holding the token: a token in the arguments would be in view
    // of every user of the machine.
    { &ServiceSettings::ipInfoToken, kIpInfoTokenKey, kTokenFileOption, checkToken },
    { &ServiceSettings::ipApiBatchUrl, "ipApiBatchUrl", "ip-api-batch-url", checkBatchUrl },
    { &ServiceSettings::ipInfoDatabase, kIpInfoDatabaseKey, "ip-info-database", checkFileName },
    { &ServiceSettings::asnDatabase, "asnDatabase", "asn-database", checkFileName },
};

QString programName(Program program)
{
    return program == Program::Window ? QStringLiteral("vantor") : QStringLiteral("vantor-cli");
}

// Qt's own options of a GUI application: those that take a value, then those that do not.
bool isQtOption(QStringView name, bool* takesValue)
{
    static const char* const withValue[] = {
        "platform",        "platformpluginpath",
        "platformtheme",   "plugin",
        "qwindowgeometry", "geometry",
        "qwindowtitle",    "title",
        "qwindowicon",     "icon",
        "display",         "name",
        "style",           "stylesheet",
        "session",         "qmljsdebugger",
    };
    static const char* const flags[] = { "reverse", "widgetcount", "nograb", "dograb", "testability" };
    for (const char* option : withValue) {
        if (name == QLatin1String(option)) {
            *takesValue = true;
            return true;
        }
    }
    for (const char* option : flags) {
        if (name == QLatin1String(option)) {
            *takesValue = false;
            return true;
        }
    }
    return false;
}

// QApplication takes these out of argv itself; the parser, which runs before it, must not see them.
QStringList withoutQtOptions(const QStringList& arguments)
{
    QStringList kept = arguments.mid(0, 1);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--")) {
            kept += arguments.mid(i);
            break;
        }
        if (argument.size() < 2 || !argument.startsWith(QLatin1Char('-'))) {
            kept << argument;
            continue;
        }
        QStringView name = QStringView(argument).mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        if (equals >= 0)
            name = name.left(equals);
        bool takesValue = false;
        if (!isQtOption(name, &takesValue) || (!takesValue && equals >= 0)) {
            kept << argument;
            continue;
        }
        if (takesValue && equals < 0)
            ++i;
    }
    return kept;
}

// The parser keeps addresses and files apart; the output follows the command line's order, so it is found again
// by walking the arguments: each -f value and each address in the parser's order, where it stands.
QList<Invocation::AddressSource> addressSources(const QStringList& arguments, const QStringList& addresses,
                                                const QStringList& files)
{
    using Source = Invocation::AddressSource;
    QList<Source> sources;
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
                sources.append({ Source::Kind::File, files[nextFile++] });
                ++i;
                continue;
            }
            if (argument == QLatin1String("-f=") + files[nextFile] || argument == QLatin1String("-f") + files[nextFile]
                || argument == QLatin1String("--file=") + files[nextFile]) {
                sources.append({ Source::Kind::File, files[nextFile++] });
                continue;
            }
        }
        if (nextAddress < addresses.size() && argument == addresses[nextAddress]
            && (onlyAddresses || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")))
            sources.append({ Source::Kind::Address, addresses[nextAddress++] });
    }
    // Whatever the walk missed keeps the parser's order at the end.
    while (nextFile < files.size())
        sources.append({ Source::Kind::File, files[nextFile++] });
    while (nextAddress < addresses.size())
        sources.append({ Source::Kind::Address, addresses[nextAddress++] });
    return sources;
}

QString description(Program program)
{
    if (program == Program::Window)
        return QStringLiteral("Looks up IP addresses in a window. At launch Vantor asks web services for\n"
                              "this machine's public IPv4 and IPv6 addresses, prints them on standard output\n"
                              "(IPv4 first), shows both above the table and the country, region, city and\n"
                              "carrier of the IPv4 one (of the IPv6 one when there is no IPv4); any address\n"
                              "typed into the field, or either address clicked, can be looked up too.");
    return QStringLiteral("Looks up each ADDRESS in turn with the IP-information service of the Vantor\n"
                          "window and prints its country, region, city and carrier. Without an ADDRESS\n"
                          "it looks up this machine's public addresses, IPv4 first.\n"
                          "\n"
                          "A list FILE holds one address a line; blank lines and text after '#' are\n"
                          "ignored. With no ADDRESS and no -f, a list piped into standard input is read.\n"
                          "Each distinct address is looked up once; the answers keep the input's order.");
}

QString epilogue(Program program)
{
    QString text = QStringLiteral(
        "\n"
        "Configuration:\n"
        "  The options override the keys ipInfoFormat, ipInfoUrl, ipInfoToken,\n"
        "  myAddressUrls (a comma-separated list; an older myAddressUrl is a list of\n"
        "  one), ipApiBatchUrl, ipInfoDatabase and asnDatabase of the INI file\n"
        "  $XDG_CONFIG_HOME/vantor/vantor.conf (usually ~/.config/vantor/vantor.conf),\n"
        "  which is only ever read.\n"
        "\n"
        "Formats (choose one with --ip-info-format):\n"
        "  ip-api     the default, http://ip-api.com/json/: plain HTTP only (anyone\n"
        "             on the way sees each address), free for non-commercial use,\n"
        "             45 requests a minute.\n"
        "  ipwhois    https://ipwho.is/ over HTTPS, no key, names in Chinese; its free\n"
        "             service answers a limited number of requests a day or minute.\n"
        "  ipinfo     https://ipinfo.io/ over HTTPS, two-letter country codes and\n"
        "             English names; without a token a limited number of requests a\n"
        "             day or minute, with one (ipInfoToken in the file, or\n"
        "             --ip-info-token-file) what its terms allow.\n"
        "  getipinfo  a service answering PREFIX + ADDRESS, the prefix ending in\n"
        "             /service/getIpInfo.php?ip=, with the JSON members code and\n"
        "             data; it has no public service, so its URL must be given.\n"
        "  mmdb       no service and no network: the MaxMind DB file of\n"
        "             --ip-info-database (a City database such as DB-IP's City Lite\n"
        "             or GeoLite2 City), which Vantor never downloads itself.\n"
        "  HTTPS is checked against the system's certificates; a service that fails\n"
        "  the check gets no request, and there is no way to turn the check off.\n"
        "\n"
        "Own addresses:\n"
        "  All my-address services are asked at once over HTTPS, within 3 seconds\n"
        "  in all; the first good answer of each family wins: ipv4.icanhazip.com,\n"
        "  api.ipify.org, v4.ident.me and checkip.amazonaws.com for IPv4,\n"
        "  ipv6.icanhazip.com, api6.ipify.org and v6.ident.me for IPv6.\n");
    if (program == Program::Cli)
        text += QStringLiteral("\n"
                               "Output:\n"
                               "  Five lines KEY<TAB>VALUE per address (IP, country, region, city and\n"
                               "  carrier, with Chinese keys), a blank line between addresses; an address\n"
                               "  that gets no rows prints one line on standard error instead. With --json,\n"
                               "  one array of objects with the members query, ok, and either ip, country,\n"
                               "  region, city and isp (null where the service did not say), or error:\n"
                               "  rejected, unreadable, rate-limited, token-refused, not-found (not in the\n"
                               "  database), network or insecure (the service failed the certificate check).\n"
                               "  With --csv, the header ip,country,region,city,isp,status and one row per\n"
                               "  input address (RFC 4180, UTF-8), status ok or one of those errors. A line\n"
                               "  of a list that is not an address is reported as FILE:LINE on standard\n"
                               "  error and counts as rejected. On a terminal, standard error shows how far\n"
                               "  a list has come. With --own, the addresses one a line, or with --json one\n"
                               "  object {\"ipv4\": ..., \"ipv6\": ...}, null for a family not found.\n"
                               "\n"
                               "  With ip-api and more than one address, vantor-cli asks its batch endpoint,\n"
                               "  100 addresses a request (15 requests a minute for free). When ip-api says\n"
                               "  that no requests are left, vantor-cli waits until its limit resets before\n"
                               "  the next request.\n"
                               "\n"
                               "  Answers are written as they come, and a line on standard error names the\n"
                               "  address it is about. A list's line over 1024 bytes is rejected unread.\n"
                               "  After 3 requests in a row without an answer the remaining addresses are\n"
                               "  not sent and fail as network failures. Ctrl-C or SIGTERM stops after the\n"
                               "  address at hand, and what is written is complete (a JSON array closed).\n"
                               "\n"
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
    return text;
}

} // namespace

QString configurationFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QLatin1String("/vantor/vantor.conf");
}

ServiceSettings readConfigurationFile(const QString& path, QStringList* warnings)
{
    ServiceSettings settings;
    if (!QFileInfo(path).isFile())
        return settings;
    if (platform::fileHoldsStreamedValue(path)) {
        if (warnings)
            *warnings << QStringLiteral("%1: holds a serialized value (@Variant or @DateTime), which Vantor never "
                                        "reads; using the defaults")
                             .arg(printableFileName(path));
        return settings;
    }
    const QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        if (warnings)
            *warnings << QStringLiteral("%1: cannot be read; using the defaults").arg(printableFileName(path));
        return settings;
    }
    for (const Setting& setting : kSettings) {
        const QVariant value = file.value(QLatin1String(setting.key));
        if (!value.isValid())
            continue;
        // An unquoted comma makes QSettings read a list; the text is what was written.
        settings.*setting.value
            = value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(',')) : value.toString();
    }
    // A list in the INI file is written with commas; one item reads as a text. The older key held one URL, commas
    // and all.
    if (const QVariant list = file.value(QLatin1String(kMyAddressUrlsKey)); list.isValid()) {
        settings.myAddressUrls = list.typeId() == QMetaType::QStringList ? list.toStringList()
                                                                          : QStringList { list.toString() };
        settings.myAddressUrls->removeAll(QString());
    } else if (const QVariant one = file.value(QLatin1String(kOldMyAddressUrlKey)); one.isValid()) {
        settings.myAddressUrls = QStringList {
            one.typeId() == QMetaType::QStringList ? one.toStringList().join(QLatin1Char(',')) : one.toString()
        };
    }
    return settings;
}

ResolvedServices resolveServices(const ServiceSettings& commandLine, const ServiceSettings& file,
                                 const QString& filePath)
{
    ResolvedServices resolved;
    ServiceSettings fromFile = file;
    const QString fileName = printableFileName(filePath);
    for (const Setting& setting : kSettings) {
        if (const auto& value = commandLine.*setting.value) {
            const QString problem = setting.check(*value);
            if (!problem.isEmpty()) {
                resolved.error = QStringLiteral("--%1: %2").arg(QLatin1String(setting.option), problem);
                return resolved;
            }
        }
        if (const auto& value = fromFile.*setting.value) {
            const QString problem = setting.check(*value);
            if (!problem.isEmpty()) {
                resolved.warnings << QStringLiteral("%1: %2: %3; using the default")
                                         .arg(fileName, QLatin1String(setting.key), problem);
                (fromFile.*setting.value).reset();
                // The file's URL was meant for the format it names, not for the default one.
                if (setting.value == &ServiceSettings::ipInfoFormat)
                    fromFile.ipInfoUrl.reset();
            }
        }
    }

    ServiceConfig& services = resolved.services;
    const IpInfoFormatAdapter* fileFormat = &ipInfoFormat(services.ipInfoFormat);
    if (fromFile.ipInfoFormat)
        fileFormat = ipInfoFormatNamed(*fromFile.ipInfoFormat);
    const IpInfoFormatAdapter* format
        = commandLine.ipInfoFormat ? ipInfoFormatNamed(*commandLine.ipInfoFormat) : fileFormat;
    QString prefix = QLatin1String(format->defaultPrefix);
    if (commandLine.ipInfoUrl)
        prefix = *commandLine.ipInfoUrl;
    else if (format == fileFormat && fromFile.ipInfoUrl)
        prefix = *fromFile.ipInfoUrl;

    // A local format asks no service; it needs its database instead.
    const bool local = format->lookUpLocally != nullptr;
    const bool hasDatabase = commandLine.ipInfoDatabase || fromFile.ipInfoDatabase;
    if (local && !hasDatabase) {
        const QString problem
                = QStringLiteral("%1 needs a database file").arg(QLatin1String(format->name));
        if (commandLine.ipInfoFormat) {
            resolved.error = QStringLiteral("--ip-info-format: %1 (--ip-info-database)").arg(problem);
            return resolved;
        }
        resolved.warnings << QStringLiteral("%1: %2: %3 as %4; using the default")
                                 .arg(fileName, QLatin1String(kFormatKey), problem, QLatin1String(kIpInfoDatabaseKey));
        format = &ipInfoFormat(ServiceConfig().ipInfoFormat);
        prefix = QLatin1String(format->defaultPrefix);
    } else if (prefix.isEmpty() && !local) {
        const QString problem
            = QStringLiteral("%1 has no public service; its URL must be given").arg(QLatin1String(format->name));
        if (commandLine.ipInfoFormat) {
            resolved.error = QStringLiteral("--ip-info-format: %1 with --ip-info-url").arg(problem);
            return resolved;
        }
        resolved.warnings << QStringLiteral("%1: %2: %3 as %4; using the default")
                                 .arg(fileName, QLatin1String(kFormatKey), problem, QLatin1String(kIpInfoUrlKey));
        format = &ipInfoFormat(ServiceConfig().ipInfoFormat);
        prefix = QLatin1String(format->defaultPrefix);
    }
    services.ipInfoFormat = format->format;
    services.ipInfoPrefix = prefix;
    if (commandLine.ipInfoToken)
        services.ipInfoToken = *commandLine.ipInfoToken;
    else if (fromFile.ipInfoToken)
        services.ipInfoToken = *fromFile.ipInfoToken;

    if (commandLine.myAddressUrls) {
        const QString problem = checkAddressUrls(*commandLine.myAddressUrls);
        if (!problem.isEmpty()) {
            resolved.error = QStringLiteral("--%1: %2").arg(QLatin1String(kMyAddressUrlOption), problem);
            return resolved;
        }
        services.myAddressUrls = *commandLine.myAddressUrls;
    }
    if (fromFile.myAddressUrls) {
        const QString problem = checkAddressUrls(*fromFile.myAddressUrls);
        if (!problem.isEmpty())
            resolved.warnings << QStringLiteral("%1: %2: %3; using the default")
                                     .arg(fileName, QLatin1String(kMyAddressUrlsKey), problem);
        else if (!commandLine.myAddressUrls)
            services.myAddressUrls = *fromFile.myAddressUrls;
    }
    services.ipApiBatchUrl = commandLine.ipApiBatchUrl.value_or(fromFile.ipApiBatchUrl.value_or(services.ipApiBatchUrl));
    services.ipInfoDatabase = commandLine.ipInfoDatabase.value_or(fromFile.ipInfoDatabase.value_or(QString()));
    services.asnDatabase = commandLine.asnDatabase.value_or(fromFile.asnDatabase.value_or(QString()));
    return resolved;
}

Invocation parseInvocation(Program program, const QStringList& arguments, const QString& configurationPath)
{
    const QString name = programName(program);
    Invocation invocation;
    const auto badUsage = [&](const QString& message) {
        invocation.action = Invocation::Action::BadUsage;
        invocation.text = QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(name, message);
        return invocation;
    };

    QCommandLineParser parser;
    parser.setApplicationDescription(description(program));
    const QCommandLineOption help(QStringList { QStringLiteral("h"), QStringLiteral("help") },
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version and exit."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print the answers as one JSON array on standard output."));
    const QCommandLineOption own(QStringLiteral("own"),
                                 QStringLiteral("Print this machine's public addresses only, IPv4 first, one a "
                                                "line (with --json, one object); no lookup."));
    const QCommandLineOption format(
        QStringLiteral("ip-info-format"),
        QStringLiteral("How the IP-information service is asked: %1 (the default ip-api over HTTP, ipwhois and "
                       "ipinfo over HTTPS, mmdb a local MaxMind DB file instead of a service).")
            .arg(formatNames()),
        QStringLiteral("FORMAT"));
    const QCommandLineOption tokenFile(
        QLatin1String(kTokenFileOption),
        QStringLiteral("A file holding the ipinfo format's access token, sent as an Authorization header."),
        QStringLiteral("FILE"));
    const QCommandLineOption ipInfoUrl(
        QStringLiteral("ip-info-url"),
        QStringLiteral("URL prefix of the IP-information service; the address is appended to it "
                       "(ip-api: http://ip-api.com/json/)."),
        QStringLiteral("URL"));
    const QCommandLineOption myAddressUrl(
        QLatin1String(kMyAddressUrlOption),
        QStringLiteral("A service that answers with this machine's public address; repeat it for several, all "
                       "asked at once. End the URL in #ipv4 or #ipv6 to take only that family's address from it."),
        QStringLiteral("URL"));
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 QStringLiteral("Print the answers as CSV: a header line, then one row per address."));
    const QCommandLineOption listFile(QStringList { QStringLiteral("f"), QStringLiteral("file") },
                                  QStringLiteral("Read addresses from FILE, one a line ('-': standard input). "
                                                 "May be given more than once."),
                                  QStringLiteral("FILE"));
    const QCommandLineOption ipApiBatchUrl(
        QStringLiteral("ip-api-batch-url"),
        QStringLiteral("URL of ip-api's batch endpoint, asked by vantor-cli for more than one address "
                       "(default: http://ip-api.com/batch; empty: one request per address)."),
        QStringLiteral("URL"));
    const QCommandLineOption ipInfoDatabase(
        QStringLiteral("ip-info-database"),
        QStringLiteral("The MaxMind DB file (a City database) of the format mmdb."), QStringLiteral("FILE"));
    const QCommandLineOption asnDatabase(
        QStringLiteral("asn-database"),
        QStringLiteral("A MaxMind ASN database, for the carrier in the format mmdb (optional)."),
        QStringLiteral("FILE"));
    parser.addOption(help);
    parser.addOption(version);
    if (program == Program::Cli) {
        parser.addOption(json);
        parser.addOption(own);
        parser.addOption(csv);
        parser.addOption(listFile);
    }
    parser.addOption(format);
    parser.addOption(ipInfoUrl);
    parser.addOption(tokenFile);
    parser.addOption(myAddressUrl);
    parser.addOption(ipApiBatchUrl);
    parser.addOption(ipInfoDatabase);
    parser.addOption(asnDatabase);
    if (program == Program::Cli)
        parser.addPositionalArgument(QStringLiteral("ADDRESS"), QStringLiteral("An IPv4 or IPv6 address to look up."),
                                     QStringLiteral("[ADDRESS | -f FILE]..."));

    const QStringList parsed = program == Program::Window ? withoutQtOptions(arguments) : arguments;
    // Qt's text quotes what was given.
    if (!parser.parse(parsed))
        return badUsage(platform::printable(parser.errorText(), PATH_MAX));

    if (parser.isSet(help)) {
        // The parser names the program after the running application, or not at all before there is one.
        QString text = parser.helpText();
        text.remove(0, text.indexOf(QLatin1Char('\n')) + 1);
        invocation.action = Invocation::Action::Help;
        invocation.text = QStringLiteral("Usage: %1 [options]%2\n")
                              .arg(name, program == Program::Cli ? QStringLiteral(" [ADDRESS | -f FILE]...") : QString())
            + text + epilogue(program);
        return invocation;
    }
    if (parser.isSet(version)) {
        invocation.action = Invocation::Action::Version;
        invocation.text = QStringLiteral("%1 %2\n").arg(name, QLatin1String(platform::kVersion));
        return invocation;
    }
    if (program == Program::Window && !parser.positionalArguments().isEmpty())
        return badUsage(QStringLiteral("Unexpected argument '%1'.")
                            .arg(platform::printable(parser.positionalArguments().constFirst())));

    ServiceSettings commandLine;
    for (const Setting& setting : kSettings) {
        const QStringList values = parser.values(QLatin1String(setting.option));
        if (!values.isEmpty())
            commandLine.*setting.value = values.constLast();
    }
    if (commandLine.ipInfoToken) {
        // Read now, so that the token takes the same checks as one from the configuration file.
        const std::optional<QByteArray> token = readTokenFile(*commandLine.ipInfoToken);
        if (!token)
            return badUsage(QStringLiteral("--%1: cannot read '%2'")
                                .arg(QLatin1String(kTokenFileOption), printableFileName(*commandLine.ipInfoToken)));
        commandLine.ipInfoToken = QString::fromUtf8(*token).trimmed();
    }
    if (parser.isSet(myAddressUrl))
        commandLine.myAddressUrls = parser.values(myAddressUrl);
    QStringList fileWarnings;
    const ServiceSettings file = readConfigurationFile(configurationPath, &fileWarnings);
    ResolvedServices resolved = resolveServices(commandLine, file, configurationPath);
    if (!resolved.error.isEmpty())
        return badUsage(resolved.error);

    for (const QString& warning : fileWarnings + resolved.warnings)
        invocation.warnings << QStringLiteral("%1: %2").arg(name, warning);
    invocation.services = resolved.services;
    invocation.json = program == Program::Cli && parser.isSet(json);
    invocation.ownOnly = program == Program::Cli && parser.isSet(own);
    if (invocation.ownOnly && (!parser.positionalArguments().isEmpty() || parser.isSet(listFile)))
        return badUsage(QStringLiteral("--own takes no ADDRESS and no -f"));
    if (invocation.ownOnly && parser.isSet(csv))
        return badUsage(QStringLiteral("--own and --csv cannot be given together."));
    invocation.addresses = program == Program::Cli ? parser.positionalArguments() : QStringList();
    if (program == Program::Cli) {
        invocation.csv = parser.isSet(csv);
        if (invocation.json && invocation.csv)
            return badUsage(QStringLiteral("--json and --csv cannot be given together."));
        invocation.sources = addressSources(arguments, invocation.addresses, parser.values(listFile));
    }
    return invocation;
}

std::optional<int> answerInvocation(const Invocation& invocation)
{
    using Action = Invocation::Action;
    if (invocation.action != Action::Run) {
        const bool bad = invocation.action == Action::BadUsage;
        std::fputs(invocation.text.toLocal8Bit().constData(), bad ? stderr : stdout);
        return bad ? kExitBadUsage : 0;
    }
    for (const QString& warning : invocation.warnings)
        std::fprintf(stderr, "%s\n", warning.toLocal8Bit().constData());
    return std::nullopt;
}

} // namespace vantor
