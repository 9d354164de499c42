// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/Configuration.h"

#include "platform/IniFile.h"
#include "platform/ListText.h"
#include "platform/PrintableText.h"
#include "vantor/net/BundledDatabases.h"
#include "vantor/net/Fetch.h"
#include "vantor/net/IpInfo.h"
#include "vantor/net/OwnAddress.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <climits>

namespace vantor {

namespace {

constexpr char kFormatKey[] = "ipInfoFormat";
constexpr char kIpInfoUrlKey[] = "ipInfoUrl";
constexpr char kIpInfoTokenKey[] = "ipInfoToken";
constexpr char kMyAddressUrlsKey[] = "myAddressUrls";
constexpr char kOldMyAddressUrlKey[] = "myAddressUrl";
constexpr char kIpInfoDatabaseKey[] = "ipInfoDatabase";

// A file name in a message: whole, as far as a path can be long, and with nothing a terminal acts on.
QString printableFileName(const QString& path)
{
    return platform::printable(path, PATH_MAX);
}

} // namespace

QString formatNameList()
{
    QStringList names;
    for (const IpInfoFormatAdapter& adapter : ipInfoFormats())
        names << QLatin1String(adapter.name);
    return platform::joinedList(names, u", ", u" or ");
}

namespace {

Status bad(const QString& problem)
{
    return VantorError { VantorError::Kind::BadSetting, problem };
}

// Each says what is wrong with the value, if anything.
Status checkFormat(const QString& text)
{
    if (ipInfoFormatNamed(text))
        return Done {};
    return bad(QStringLiteral("unknown format '%1' (use %2)").arg(platform::printable(text), formatNameList()));
}

Status checkUrl(const QString& text)
{
    const QUrl url = webUrl(text);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && !url.host().isEmpty() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
        return Done {};
    return bad(QStringLiteral("'%1' is not an absolute http or https URL").arg(platform::printable(text)));
}

// What goes into a request header must be printable ASCII without spaces; the token itself is never named.
Status checkToken(const QString& text)
{
    const bool usable = !text.isEmpty()
        && std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
    return usable ? Status(Done {}) : bad(QStringLiteral("not a usable access token"));
}

Status checkAddressUrls(const QStringList& urls)
{
    if (urls.isEmpty())
        return bad(QStringLiteral("no URL given"));
    for (const QString& url : urls) {
        if (const Result<AddressProvider> provider = addressProvider(url); !provider)
            return provider.error();
    }
    return Done {};
}

// An empty batch URL sends one request per address, for a service that has no batch endpoint.
Status checkBatchUrl(const QString& text)
{
    return text.isEmpty() ? Status(Done {}) : checkUrl(text);
}

Status checkFileName(const QString& text)
{
    if (!text.isEmpty())
        return Done {};
    return bad(QStringLiteral("an empty file name"));
}

Status checkFileNames(const QStringList& names)
{
    if (names.isEmpty())
        return bad(QStringLiteral("no file given"));
    for (const QString& name : names) {
        if (const Status checked = checkFileName(name); !checked)
            return checked;
    }
    return Done {};
}

struct Setting
{
    ServiceSetting setting;
    std::optional<QString> ServiceSettings::*value;
    const char* key; // in the file
    Status (*check)(const QString&);
};

// Every setting but the lists of my-address services and of City databases.
constexpr Setting kSettings[] = {
    { ServiceSetting::IpInfoFormat, &ServiceSettings::ipInfoFormat, kFormatKey, checkFormat },
    { ServiceSetting::IpInfoUrl, &ServiceSettings::ipInfoUrl, kIpInfoUrlKey, checkUrl },
    { ServiceSetting::IpInfoToken, &ServiceSettings::ipInfoToken, kIpInfoTokenKey, checkToken },
    { ServiceSetting::IpApiBatchUrl, &ServiceSettings::ipApiBatchUrl, "ipApiBatchUrl", checkBatchUrl },
    { ServiceSetting::AsnDatabase, &ServiceSettings::asnDatabase, "asnDatabase", checkFileName },
};

} // namespace

QString configurationFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QLatin1String("/vantor/vantor.conf");
}

ServiceSettings readConfigurationFile(const QString& path, QStringList* warnings)
{
    ServiceSettings settings;
    if (!QFileInfo::exists(path))
        return settings;
    if (const std::optional<platform::FileReadError> problem = platform::settingsFileProblem(path)) {
        if (warnings)
            *warnings << (problem->error == EBADMSG
                              ? QStringLiteral("%1: holds a serialized value (@Variant or @DateTime), which Vantor "
                                               "never reads; using the defaults")
                                    .arg(printableFileName(path))
                              : QStringLiteral("%1: cannot be read: %2; using the defaults")
                                    .arg(printableFileName(path), problem->reason));
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
        settings.myAddressUrls
            = list.typeId() == QMetaType::QStringList ? list.toStringList() : QStringList { list.toString() };
        settings.myAddressUrls->removeAll(QString());
    } else if (const QVariant one = file.value(QLatin1String(kOldMyAddressUrlKey)); one.isValid()) {
        settings.myAddressUrls
            = QStringList { one.typeId() == QMetaType::QStringList ? one.toStringList().join(QLatin1Char(','))
                                                                   : one.toString() };
    }
    // One name, as before, or several; a name with a comma is written in quotes.
    if (const QVariant databases = file.value(QLatin1String(kIpInfoDatabaseKey)); databases.isValid())
        settings.ipInfoDatabases = databases.typeId() == QMetaType::QStringList ? databases.toStringList()
                                                                                : QStringList { databases.toString() };
    return settings;
}

Result<ResolvedServices> resolveServices(const ServiceSettings& commandLine, const ServiceSettings& file,
                                         const QString& filePath, const SettingName& commandLineName)
{
    ResolvedServices resolved;
    ServiceSettings fromFile = file;
    const QString fileName = printableFileName(filePath);
    for (const Setting& setting : kSettings) {
        if (const auto& value = commandLine.*setting.value) {
            if (const Status checked = setting.check(*value); !checked)
                return VantorError { checked.error().kind,
                                     QStringLiteral("%1: %2").arg(commandLineName(setting.setting),
                                                                  checked.error().message) };
        }
        if (const auto& value = fromFile.*setting.value) {
            if (const Status checked = setting.check(*value); !checked) {
                resolved.warnings << QStringLiteral("%1: %2: %3; using the default")
                                         .arg(fileName, QLatin1String(setting.key), checked.error().message);
                (fromFile.*setting.value).reset();
                // The file's URL was meant for the format it names, not for the default one.
                if (setting.value == &ServiceSettings::ipInfoFormat)
                    fromFile.ipInfoUrl.reset();
            }
        }
    }

    if (commandLine.ipInfoDatabases) {
        if (const Status checked = checkFileNames(*commandLine.ipInfoDatabases); !checked)
            return VantorError { checked.error().kind,
                                 QStringLiteral("%1: %2").arg(commandLineName(ServiceSetting::IpInfoDatabase),
                                                              checked.error().message) };
    }
    if (fromFile.ipInfoDatabases) {
        if (const Status checked = checkFileNames(*fromFile.ipInfoDatabases); !checked) {
            resolved.warnings << QStringLiteral("%1: %2: %3; using the default")
                                     .arg(fileName, QLatin1String(kIpInfoDatabaseKey), checked.error().message);
            fromFile.ipInfoDatabases.reset();
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

    // A local format asks no service; it needs its database instead, the bundled one when none is named.
    const bool local = format->lookUpLocally != nullptr;
    const bool named = commandLine.ipInfoDatabases || fromFile.ipInfoDatabases;
    const BundledDatabases bundled = local && !named ? bundledDatabases() : BundledDatabases {};
    if (local && !named && bundled.country.isEmpty()) {
        const QString problem = QStringLiteral("%1 needs a database file (the vantor-ip-data package provides one)")
                                    .arg(QLatin1String(format->name));
        if (commandLine.ipInfoFormat)
            return VantorError { VantorError::Kind::MissingSetting,
                                 QStringLiteral("%1: %2 (%3)")
                                     .arg(commandLineName(ServiceSetting::IpInfoFormat), problem,
                                          commandLineName(ServiceSetting::IpInfoDatabase)) };
        resolved.warnings << QStringLiteral("%1: %2: %3 as %4; using the default")
                                 .arg(fileName, QLatin1String(kFormatKey), problem, QLatin1String(kIpInfoDatabaseKey));
        format = &ipInfoFormat(ServiceConfig().ipInfoFormat);
        prefix = QLatin1String(format->defaultPrefix);
    } else if (prefix.isEmpty() && !local) {
        const QString problem
            = QStringLiteral("%1 has no public service; its URL must be given").arg(QLatin1String(format->name));
        if (commandLine.ipInfoFormat)
            return VantorError { VantorError::Kind::MissingSetting,
                                 QStringLiteral("%1: %2 with %3")
                                     .arg(commandLineName(ServiceSetting::IpInfoFormat), problem,
                                          commandLineName(ServiceSetting::IpInfoUrl)) };
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
        if (const Status checked = checkAddressUrls(*commandLine.myAddressUrls); !checked)
            return VantorError { checked.error().kind,
                                 QStringLiteral("%1: %2").arg(commandLineName(ServiceSetting::MyAddressUrls),
                                                              checked.error().message) };
        services.myAddressUrls = *commandLine.myAddressUrls;
    }
    if (fromFile.myAddressUrls) {
        if (const Status checked = checkAddressUrls(*fromFile.myAddressUrls); !checked)
            resolved.warnings << QStringLiteral("%1: %2: %3; using the default")
                                     .arg(fileName, QLatin1String(kMyAddressUrlsKey), checked.error().message);
        else if (!commandLine.myAddressUrls)
            services.myAddressUrls = *fromFile.myAddressUrls;
    }
    services.ipApiBatchUrl
        = commandLine.ipApiBatchUrl.value_or(fromFile.ipApiBatchUrl.value_or(services.ipApiBatchUrl));
    services.ipInfoDatabases = commandLine.ipInfoDatabases.value_or(fromFile.ipInfoDatabases.value_or(QStringList()));
    services.asnDatabase = commandLine.asnDatabase.value_or(fromFile.asnDatabase.value_or(QString()));
    // What the user names takes precedence: the bundled ASN database only comes with the bundled country one.
    if (services.ipInfoFormat == IpInfoFormat::Mmdb && services.ipInfoDatabases.isEmpty()
        && !bundled.country.isEmpty()) {
        services.ipInfoDatabases = QStringList { bundled.country };
        if (services.asnDatabase.isEmpty())
            services.asnDatabase = bundled.asn;
    }
    return resolved;
}

} // namespace vantor
