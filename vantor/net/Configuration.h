// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Services.h"

#include <QString>
#include <QStringList>

#include <QList>
#include <optional>

namespace vantor {

// $XDG_CONFIG_HOME/vantor/vantor.conf (usually ~/.config/vantor/vantor.conf). Vantor only ever reads it.
QString configurationFilePath();

// The service settings as texts, before they are checked; absent where not given.
struct ServiceSettings
{
    std::optional<QString> ipInfoFormat;
    std::optional<QString> ipInfoUrl;
    std::optional<QString> ipInfoToken; // the token itself, also when the command line names a file holding it
    std::optional<QStringList> myAddressUrls;
    std::optional<QString> ipApiBatchUrl;
    std::optional<QString> ipInfoDatabase;
    std::optional<QString> asnDatabase;
};

// The top-level keys ipInfoFormat, ipInfoUrl, ipInfoToken, myAddressUrls, ipApiBatchUrl, ipInfoDatabase and
// asnDatabase of the INI file; without myAddressUrls, the older myAddressUrl is a list of one. A missing file has
// none; a file that cannot be read has none and adds a warning.
ServiceSettings readConfigurationFile(const QString& path, QStringList* warnings);

struct ResolvedServices
{
    ServiceConfig services;
    QStringList warnings; // bad values in the file, each replaced by its default
    QString error; // a bad value on the command line; nothing else counts then
};

// Each setting comes from the command line, else the file, else its default. The file's ipInfoUrl belongs to the
// file's format (ip-api when the file names none) and is not used when the command line picks another one. A bad
// value is a format no adapter has, a URL that is not absolute http or https, an empty file name, getipinfo without
// a prefix, which has no public default, mmdb without ipInfoDatabase, a my-address URL with a fragment other than
// #ipv4 or #ipv6, an empty list of them, or a token that cannot go into a request header. No message ever holds
// the token.
ResolvedServices resolveServices(const ServiceSettings& commandLine, const ServiceSettings& file,
                                 const QString& filePath);

enum class Program { Window, Cli };

inline constexpr int kExitBadUsage = 2;

// What the command line asks of a program. Parsing needs no application object, so --help, --version and bad
// usage are answered before any window (or display connection) exists.
struct Invocation
{
    enum class Action {
        Run,
        Help, // print text on standard output, exit 0
        Version, // likewise
        BadUsage, // print text on standard error, exit kExitBadUsage
    };

    Action action = Action::Run;
    QString text;
    QStringList warnings; // for standard error, even when the program runs
    ServiceConfig services;
    bool json = false; // vantor-cli only
    bool ownOnly = false; // vantor-cli --own: the machine's addresses, no lookup
    QStringList addresses; // vantor-cli only
    bool csv = false; // vantor-cli only

    // vantor-cli only: where the addresses come from, in the order of the command line.
    struct AddressSource
    {
        enum class Kind { Address, File };
        Kind kind;
        QString text; // the address, or the file's name ("-" for standard input)
        friend bool operator==(const AddressSource&, const AddressSource&) = default;
    };
    QList<AddressSource> sources;
};

// arguments[0] is the program's path. The window's program lets Qt's own options (-platform, -style, …) through
// to QApplication. The configuration file is read only when the program is to run.
Invocation parseInvocation(Program program, const QStringList& arguments, const QString& configurationPath);

// Prints what the invocation has to say: its warnings, or the text of help, version or bad usage. Returns the
// exit status when the program must not run.
std::optional<int> answerInvocation(const Invocation& invocation);

} // namespace vantor
