// SPDX-License-Identifier: GPL-3.0-or-later
// vantor-cli -x's reading of a web server's log against the plain reading of a list: the same lines read as text
// (every address found in them), the same lines read as a list (each rejected), and a list of only their addresses.
// vantor-extract-bench [LINES]: LINES log lines (1,000,000 by default), one in five from an IPv6 client.
#include "vantor/cli/AddressList.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <utility>

namespace {

double cpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The best of three readings of the file to its end, in seconds of processor time (the machine may be shared), through
// QFile as vantor-cli reads a list named with -f (a QBuffer reads a line a byte at a time); `count` gets what one
// reading counted.
double bestTime(const QString& file, vantor::cli::ListKind kind, qsizetype& count)
{
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        QFile device(file);
        if (!device.open(QIODevice::ReadOnly))
            return 0;
        vantor::cli::AddressListReader reader(device, {}, kind);
        count = 0;
        const double start = cpuSeconds();
        while (const std::optional<vantor::cli::ListedLine> line = reader.next())
            count += line->found.isEmpty() ? 1 : line->found.size();
        best = std::min(best, cpuSeconds() - start);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const long lines = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000000;
    if (lines <= 0) {
        std::fprintf(stderr, "usage: vantor-extract-bench [LINES]\n");
        return 2;
    }
    QByteArray log;
    QByteArray list;
    for (long i = 0; i < lines; ++i) {
        // Public addresses, a different one each line.
        const QByteArray address = i % 5 == 4
            ? QByteArray("2606:4700:") + QByteArray::number(qlonglong(i % 65536), 16) + "::" + QByteArray::number(i % 7)
            : QByteArray::number(1 + i % 200) + '.' + QByteArray::number(i / 200 % 256) + '.'
                + QByteArray::number(i / 51200 % 256) + '.' + QByteArray::number(i % 251);
        log += address + " - - [09/Dec/2026:10:" + QByteArray::number(i / 60 % 60) + ':' + QByteArray::number(i % 60)
            + " +0000] \"GET /static/app.js?v=4.2.1 HTTP/1.1\" 200 5123 \"https://example.org/index.html\" "
              "\"Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0\"\n";
        list += address + '\n';
    }

    QTemporaryDir folder;
    const QString logFile = folder.filePath(QStringLiteral("access.log"));
    const QString listFile = folder.filePath(QStringLiteral("addresses"));
    for (const auto& [name, bytes] : { std::pair { logFile, log }, std::pair { listFile, list } }) {
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "vantor-extract-bench: cannot write %s\n", qPrintable(name));
            return 1;
        }
    }

    using vantor::cli::ListKind;
    qsizetype listed = 0;
    qsizetype rejected = 0;
    qsizetype extracted = 0;
    const double plain = bestTime(listFile, ListKind::Addresses, listed);
    const double logAsList = bestTime(logFile, ListKind::Addresses, rejected);
    const double text = bestTime(logFile, ListKind::Text, extracted);
    if (listed != lines || rejected != lines || extracted != lines) {
        std::fprintf(stderr, "vantor-extract-bench: read %lld, %lld and %lld entries of %ld lines\n", qlonglong(listed),
                     qlonglong(rejected), qlonglong(extracted), lines);
        return 1;
    }
    const auto report = [&](const char* what, double seconds, qsizetype bytes) {
        std::printf("%-34s %8.3f s %10.0f lines/s %8.1f MB/s %6.2f x the plain list\n", what, seconds,
                    double(lines) / seconds, double(bytes) / seconds / 1e6, seconds / plain);
    };
    std::printf("%ld lines, %.1f MB of log, %.1f MB of addresses\n", lines, double(log.size()) / 1e6,
                double(list.size()) / 1e6);
    report("list of the addresses", plain, list.size());
    report("the log read as a list", logAsList, log.size());
    report("the log read as text (-x)", text, log.size());
    return 0;
}
