#pragma once

#include <QString>
#include <QStringList>

namespace ostrel::cli {

struct Options
{
    bool json = false;
    bool help = false;
    bool version = false;
    // Set when the arguments cannot be used; says why.
    QString error;
};

Options parseArguments(const QStringList& arguments);

QString usage(const QString& program);

} // namespace ostrel::cli
