// SPDX-License-Identifier: GPL-3.0-or-later
// Measures each extended test on this machine, with the bench its folder provides, in the table's order. Run by
// hand:
// ostrel-extended-bench [repetitions] [--disk-folder DIR]
#include "ostrel/extended/ExtendedBench.h"
#include "ostrel/extended/ExtendedTests.h"

#include <QCoreApplication>
#include <QDir>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    ostrel::bench::BenchOptions options;
    options.folder = QDir::currentPath();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--disk-folder")); at >= 0 && at + 1 < arguments.size()) {
        options.folder = arguments[at + 1];
        arguments.remove(at, 2);
    }
    options.repetitions = arguments.isEmpty() ? 3 : std::max(1, arguments.constFirst().toInt());
    for (const ostrel::ExtendedKind& kind : ostrel::extendedTests()) {
        const auto bench = ostrel::bench::extendedBenches().find(kind.key);
        if (bench != ostrel::bench::extendedBenches().end())
            bench->second(options);
    }
    return 0;
}
