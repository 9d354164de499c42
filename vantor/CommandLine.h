// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Services.h"
#include "vantor/options/ServiceOptions.h"

#include <QStringList>

namespace vantor {

// What the window's command line asks for.
struct WindowOptions
{
    ServiceConfig services;
    QStringList warnings; // for standard error; the window opens all the same
};

// arguments[0] is the program's path. Qt's own options (-platform, -style, …) are let through to QApplication;
// anything else that is no option of the window's is a mistake.
platform::Result<WindowOptions, options::Exit> parseWindowCommandLine(const QStringList& arguments,
                                                                      const QString& configurationPath);

} // namespace vantor
