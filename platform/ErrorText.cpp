// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ErrorText.h"

#include <cerrno>
#include <cstring>

namespace platform {

QString errorText(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("磁盘空间不足");
    case EDQUOT:
        return QStringLiteral("超出磁盘配额");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有权限");
    case EROFS:
        return QStringLiteral("文件系统只读");
    case EFBIG:
        return QStringLiteral("文件超出大小限制");
    case ELOOP:
        // What open() with O_NOFOLLOW says of a link, and the writers refuse to write through one.
        return QStringLiteral("这是一个符号链接，不是普通文件");
    case EBADMSG:
        // A file this program did not write as it is (see IniFile.h).
        return QStringLiteral("文件格式有误");
    default:
        break;
    }
    char buffer[256];
    // The GNU strerror_r: thread-safe, and it may return a static text
    // instead of filling the buffer.
    return QString::fromLocal8Bit(::strerror_r(error, buffer, sizeof buffer));
}

} // namespace platform
