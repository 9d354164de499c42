// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Services.h"
#include "vantor/net/VantorError.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace vantor {

// $XDG_CONFIG_HOME/vantor/vantor.conf (usually ~/.config/vantor/vantor.conf). Vantor only ever reads it.
QString configurationFilePath();

// The names of the IP-information formats for a sentence: "ip-api, getipinfo, ipwhois, ipinfo or mmdb".
QString formatNameList();

// The service settings as texts, before they are checked; absent where not given.
struct ServiceSettings
{
    std::optional<QString> ipInfoFormat;
    std::optional<QString> ipInfoUrl;
    std::optional<QString> ipInfoToken; // the token itself, also when the command line names a file holding it
    std::optional<QStringList> myAddressUrls;
    std::optional<QString> ipApiBatchUrl;
    std::optional<QStringList> ipInfoDatabases;
    std::optional<QString> asnDatabase;
};

// The top-level keys ipInfoFormat, ipInfoUrl, ipInfoToken, myAddressUrls, ipApiBatchUrl, ipInfoDatabase and
// asnDatabase of the INI file; without myAddressUrls, the older myAddressUrl is a list of one; ipInfoDatabase is a
// list too, one name or several. A missing file has none; a file that cannot be read has none and adds a warning.
ServiceSettings readConfigurationFile(const QString& path, QStringList* warnings);

// The settings, each named once: the configuration file's keys, and in messages about the command line whatever
// names the program gives them.
enum class ServiceSetting {
    IpInfoFormat,
    IpInfoUrl,
    IpInfoToken,
    MyAddressUrls,
    IpApiBatchUrl,
    IpInfoDatabase,
    AsnDatabase
};

// The setting's key in the file.
QLatin1String settingKey(ServiceSetting setting);

struct ResolvedServices
{
    ServiceConfig services;
    QStringList warnings; // bad values in the file, each replaced by its default
};

// How a program's command line names a setting, for its messages.
using SettingName = std::function<QString(ServiceSetting)>;

// Each setting comes from the command line, else the file, else its default. The file's ipInfoUrl belongs to the
// file's format (ip-api when the file names none) and is not used when the command line picks another one. A bad
// value is a format no adapter has, a URL that is not absolute http or https, an empty file name, getipinfo without
// a prefix, which has no public default, mmdb without ipInfoDatabase when no bundled database is installed either, a
// my-address URL with a fragment other than #ipv4 or #ipv6, an empty list of them, or a token that cannot go into a
// request header. A bad value on the command line is the error, named with `commandLineName`; nothing else counts
// then. No message ever holds the token. With mmdb and no City database named, the bundled ones are used
// (bundledDatabases()): the country database, and the ASN database unless one is named.
Result<ResolvedServices> resolveServices(const ServiceSettings& commandLine, const ServiceSettings& file,
                                         const QString& filePath, const SettingName& commandLineName);

} // namespace vantor
