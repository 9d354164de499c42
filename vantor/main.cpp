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
    if (const std::optional<int> status = vantor::answerInvocation(invocation))
        return *status;

    QApplication app(argc, argv);
    vantor::configureApplication();
    vantor::MainInterface mainInterface(invocation.services);
    mainInterface.launch();
    return app.exec();
}
