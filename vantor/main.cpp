// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/CommandLine.h"
#include "vantor/MainInterface.h"

#include <QApplication>

int main(int argc, char** argv)
{
    // Answered before QApplication exists, so --help, --version and mistakes need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const auto parsed = vantor::parseWindowCommandLine(arguments, vantor::configurationFilePath());
    if (!parsed)
        return vantor::options::printExit(parsed.error());
    vantor::options::printWarnings(parsed->warnings);

    QApplication app(argc, argv);
    vantor::configureApplication();
    vantor::MainInterface mainInterface(parsed->services);
    mainInterface.launch();
    return app.exec();
}
