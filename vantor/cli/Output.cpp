// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/Output.h"

#include "platform/CheckedOutput.h"

#include <QFileDevice>
#include <QIODevice>
#include <cerrno>

namespace vantor::cli {

int write(QIODevice& device, const QByteArray& bytes)
{
    auto* file = qobject_cast<QFileDevice*>(&device);
    if (!file || file->handle() < 0)
        return device.write(bytes) == bytes.size() ? 0 : EIO;
    file->flush();
    return platform::writeAll(file->handle(), bytes);
}

void write(QIODevice& device, const QString& text)
{
    write(device, text.toUtf8());
}

} // namespace vantor::cli
