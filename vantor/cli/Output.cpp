// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/Output.h"

#include <QFileDevice>
#include <QIODevice>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace vantor::cli {

int write(QIODevice& device, const QByteArray& bytes)
{
    auto* file = qobject_cast<QFileDevice*>(&device);
    if (!file || file->handle() < 0)
        return device.write(bytes) == bytes.size() ? 0 : EIO;
    file->flush();
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(file->handle(), bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno != EINTR)
            return errno;
        done += std::max<ssize_t>(written, 0);
    }
    return 0;
}

void write(QIODevice& device, const QString& text)
{
    write(device, text.toUtf8());
}

} // namespace vantor::cli
