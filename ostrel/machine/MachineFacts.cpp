// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/machine/MachineFacts.h"

#include "ostrel/machine/SystemFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>

namespace ostrel::machine {

namespace {

QString readLine(const QString& path)
{
    return QString::fromUtf8(readSystemFile(path)).trimmed();
}

// "key\t: value" lines of /proc/cpuinfo and /proc/meminfo.
QByteArray valueOf(const QByteArray& line, const QByteArray& key)
{
    const qsizetype colon = line.indexOf(':');
    if (colon < 0 || line.left(colon).trimmed() != key)
        return {};
    return line.mid(colon + 1).trimmed();
}

// Mount points in mountinfo write space, tab, newline and backslash as octal escapes.
QString unescapeMountPath(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok && code < 256) {
                out.append(char(code));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QString::fromUtf8(out);
}

bool contains(const QString& mountPoint, const QString& path)
{
    if (mountPoint == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == mountPoint || path.startsWith(mountPoint + QLatin1Char('/'));
}

int countProcessors(const QByteArray& cpuInfo)
{
    int count = 0;
    for (const QByteArray& line : cpuInfo.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon >= 0 && line.left(colon).trimmed() == "processor")
            ++count;
    }
    return count;
}

qint64 memTotalBytes(const QByteArray& memInfo)
{
    for (const QByteArray& line : memInfo.split('\n')) {
        const QByteArray value = valueOf(line, "MemTotal");
        if (value.isEmpty())
            continue;
        // "16314516 kB"
        bool ok = false;
        const qint64 kib = value.split(' ').first().toLongLong(&ok);
        return ok ? kib * 1024 : 0;
    }
    return 0;
}

QString osReleasePrettyName(const QByteArray& osRelease)
{
    for (const QByteArray& line : osRelease.split('\n')) {
        if (!line.startsWith("PRETTY_NAME="))
            continue;
        QByteArray value = line.mid(int(sizeof("PRETTY_NAME=") - 1)).trimmed();
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return QString::fromUtf8(value);
    }
    return {};
}

} // namespace

QString cpuModelOf(const QByteArray& cpuInfo)
{
    // In order of preference: x86 and many others, older ARM, MIPS, ARM boards, PowerPC, RISC-V.
    static const QByteArray keys[] = { "model name", "Processor", "cpu model", "Hardware", "cpu", "uarch" };
    const QList<QByteArray> lines = cpuInfo.split('\n');
    for (const QByteArray& key : keys) {
        for (const QByteArray& line : lines) {
            const QByteArray value = valueOf(line, key);
            if (!value.isEmpty())
                return QString::fromUtf8(value).simplified();
        }
    }
    return {};
}

QString fileSystemOf(const QString& path, const QByteArray& mountInfo)
{
    QString best;
    qsizetype bestLength = -1;
    for (const QByteArray& line : mountInfo.split('\n')) {
        // id parent major:minor root mount-point options [optional fields...] - type source super-options
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() < 5 || separator < 5 || separator + 1 >= fields.size())
            continue;
        const QString mountPoint = unescapeMountPath(fields[4]);
        if (!contains(mountPoint, path) || mountPoint.size() < bestLength)
            continue;
        bestLength = mountPoint.size();
        best = QString::fromUtf8(fields[separator + 1]);
    }
    return best;
}

MachineFacts readMachineFacts(const QString& scratchFolder, const SystemRoots& roots)
{
    MachineFacts facts;
    const QByteArray cpuInfo = readSystemFile(roots.proc + QStringLiteral("/cpuinfo"));
    facts.cpuModel = cpuModelOf(cpuInfo);
    if (facts.cpuModel.isEmpty())
        facts.cpuModel = QSysInfo::currentCpuArchitecture();
    facts.logicalCpus = countProcessors(cpuInfo);
    if (facts.logicalCpus == 0)
        facts.logicalCpus = QThread::idealThreadCount();
    facts.memoryBytes = memTotalBytes(readSystemFile(roots.proc + QStringLiteral("/meminfo")));

    facts.kernel = readLine(roots.proc + QStringLiteral("/sys/kernel/osrelease"));
    if (facts.kernel.isEmpty())
        facts.kernel = QSysInfo::kernelVersion();
    facts.os = osReleasePrettyName(readSystemFile(roots.etc + QStringLiteral("/os-release")));
    if (facts.os.isEmpty())
        facts.os = QSysInfo::prettyProductName();
    facts.architecture = QSysInfo::currentCpuArchitecture();
    facts.governor = readLine(roots.sys + QStringLiteral("/devices/system/cpu/cpu0/cpufreq/scaling_governor"));

    // The mount table names resolved paths: follow symbolic links first.
    QString folder = QFileInfo(scratchFolder).canonicalFilePath();
    if (folder.isEmpty())
        folder = QDir::cleanPath(QDir(scratchFolder).absolutePath());
    facts.fileSystem = fileSystemOf(folder, readSystemFile(roots.proc + QStringLiteral("/self/mountinfo")));
    return facts;
}

} // namespace ostrel::machine
