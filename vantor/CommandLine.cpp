// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/CommandLine.h"

#include "platform/PrintableText.h"

namespace vantor {

namespace {

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

} // namespace

platform::Result<WindowOptions, options::Exit> parseWindowCommandLine(const QStringList& arguments,
                                                                      const QString& configurationPath)
{
    options::CommandLine commandLine(
        QStringLiteral("vantor"),
        QStringLiteral("Looks up IP addresses in a window. At launch Vantor asks web services for\n"
                       "this machine's public IPv4 and IPv6 addresses, prints them on standard output\n"
                       "(IPv4 first), shows both above the table and the country, region, city and\n"
                       "carrier of the IPv4 one (of the IPv6 one when there is no IPv4); any address\n"
                       "typed into the field, or either address clicked, can be looked up too."));
    commandLine.addServiceOptions();
    if (const platform::Status<options::Exit> parsed
        = commandLine.parse(withoutQtOptions(arguments), QString(), QString());
        !parsed)
        return parsed.error();
    const QStringList positional = commandLine.parser().positionalArguments();
    if (!positional.isEmpty())
        return commandLine.badUsage(
            QStringLiteral("Unexpected argument '%1'.").arg(platform::printable(positional.constFirst())));
    platform::Result<ResolvedServices, options::Exit> services = commandLine.services(configurationPath);
    if (!services)
        return services.error();
    return WindowOptions { std::move(services->services), std::move(services->warnings) };
}

} // namespace vantor
