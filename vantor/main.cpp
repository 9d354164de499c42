// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/MainInterface.h"
#include "vantor/net/Configuration.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    // Answered before QApplication exists, so --help, --version and mistakes need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const vantor::Invocation invocation
        = vantor::parseInvocation(vantor::Program::Window, arguments, vantor::configurationFilePath());
    using Action = vantor::Invocation::Action;
    if (invocation.action != Action::Run) {
        const bool bad = invocation.action == Action::BadUsage;
        std::fputs(invocation.text.toLocal8Bit().constData(), bad ? stderr : stdout);
        return bad ? vantor::kExitBadUsage : 0;
    }
    for (const QString& warning : invocation.warnings)
        std::fprintf(stderr, "%s\n", warning.toLocal8Bit().constData());

    QApplication app(argc, argv);
    vantor::configureApplication();
    vantor::MainInterface mainInterface(invocation.services);
    mainInterface.launch();
    return app.exec();
}
