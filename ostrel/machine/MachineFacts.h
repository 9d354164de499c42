// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/machine/SystemFiles.h"

#include <QString>

namespace ostrel::machine {

// What a score depends on besides the run itself, read once per run.
struct MachineFacts
{
    QString cpuModel;
    int logicalCpus = 0;
    // Total memory in bytes, as the kernel reports it (MemTotal).
    qint64 memoryBytes = 0;
    QString kernel;
    QString os;
    QString architecture;
    // Scaling governor of CPU 0; empty when the kernel exposes none.
    QString governor;
    // File system type of the folder holding the disk test's scratch file; empty when unknown.
    QString fileSystem;

    friend bool operator==(const MachineFacts&, const MachineFacts&) = default;
};

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

} // namespace ostrel::machine
