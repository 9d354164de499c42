// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/history/RunRecord.h"
#include "ostrel/history/SystemFiles.h"

#include <QString>

namespace ostrel::history {

// The facts of this machine, each from the kernel's files where they are and from QSysInfo where they are not.
// scratchFolder is the folder of the disk test's scratch file; its file system type is looked up in
// <proc>/self/mountinfo.
MachineFacts readMachineFacts(const QString& scratchFolder, const SystemRoots& roots = {});

// The file system type of the mount that holds path (the longest mount point that contains it; the last one
// mounted when several share it), from the text of a mountinfo file. Empty when none matches.
QString fileSystemOf(const QString& path, const QByteArray& mountInfo);

// The CPU model from the text of /proc/cpuinfo: "model name" (x86), else the keys other architectures use.
// Empty when none is there.
QString cpuModelOf(const QByteArray& cpuInfo);

} // namespace ostrel::history
