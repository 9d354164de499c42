// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/AddressesInText.h"

#include "vantor/cli/AddressList.h"

#include <QString>
#include <algorithm>
#include <array>
#include <cstring>

namespace vantor::cli {

namespace {

enum ByteClass : unsigned char {
    Other = 0,
    Digit = 1,
    HexLetter = 2,
    Letter = 4, // a word's, neither a digit nor a hexadecimal letter
    Dot = 8,
    Colon = 16,
};

constexpr std::array<unsigned char, 256> byteClasses()
{
    std::array<unsigned char, 256> classes {};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9')
            classes[c] = Digit;
        else if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))
            classes[c] = HexLetter;
        else if ((c >= 'g' && c <= 'z') || (c >= 'G' && c <= 'Z') || c == '_')
            classes[c] = Letter;
        else if (c == '.')
            classes[c] = Dot;
        else if (c == ':')
            classes[c] = Colon;
    }
    return classes;
}

// A table: the scan looks at every byte of every line.
constexpr std::array<unsigned char, 256> kByteClasses = byteClasses();

unsigned char byteClass(char c)
{
    return kByteClasses[static_cast<unsigned char>(c)];
}

// Only these words are worth the validator, which costs an allocation and, for IPv6, QHostAddress's parsing.
bool ipv4Shaped(QByteArrayView word)
{
    if (word.size() < 7 || word.size() > 15)
        return false;
    int dots = 0;
    for (const char c : word) {
        if (c == '.')
            ++dots;
        else if (byteClass(c) != Digit)
            return false;
    }
    return dots == 3;
}

bool ipv6Shaped(QByteArrayView word)
{
    // Three characters at least: "::", the unspecified address, is punctuation in text more often than not.
    if (word.size() < 3 || word.size() > 45)
        return false;
    int colons = 0;
    bool dot = false;
    for (const char c : word) {
        if (c == ':')
            ++colons;
        else if (c == '.')
            dot = true;
        else if (byteClass(c) == Letter)
            return false;
    }
    // Without "::", all eight groups are written, the last two maybe as an IPv4 address; a time has fewer.
    return colons >= 2 && colons <= 7 && (word.contains("::") || colons == 7 || (colons == 6 && dot));
}

bool takeIfAddress(QByteArrayView word, QStringList& found)
{
    if (!ipv4Shaped(word) && !ipv6Shaped(word))
        return false;
    // The list's own check, so that -x never takes what a list would refuse.
    QString text = QString::fromLatin1(word);
    if (!isIpAddress(text))
        return false;
    found << std::move(text);
    return true;
}

// The word itself; or without the full stops, then the colons, after it; or else, when it is no IPv6 address
// written wrong, the IPv4 addresses among its parts between colons (an address and its port, "SRC:1.2.3.4").
void addressesInWord(QByteArrayView word, QStringList& found)
{
    if (takeIfAddress(word, found))
        return;
    QByteArrayView shorter = word;
    for (const char end : { '.', ':' }) {
        const qsizetype before = shorter.size();
        while (shorter.endsWith(end))
            shorter.chop(1);
        if (shorter.size() < before && takeIfAddress(shorter, found))
            return;
    }
    if (shorter.contains("::"))
        return;
    qsizetype start = 0;
    for (qsizetype colon = shorter.indexOf(':'); colon >= 0; colon = shorter.indexOf(':', start)) {
        if (const QByteArrayView part = shorter.sliced(start, colon - start); ipv4Shaped(part))
            takeIfAddress(part, found);
        start = colon + 1;
    }
    // The last part, after a colon; a word without one was taken whole or not at all.
    if (start > 0 && ipv4Shaped(shorter.sliced(start)))
        takeIfAddress(shorter.sliced(start), found);
}

} // namespace

QStringList addressesInText(QByteArrayView line)
{
    QStringList found;
    const char* const begin = line.data();
    const char* const end = begin + line.size();
    // Only words with a dot or a colon are looked at, found by memchr(): most words of a log ("GET", "HTTP", "200")
    // have neither, and the bytes between are never looked at one by one.
    const auto next = [end](const char* from, char mark) {
        const void* at = from < end ? std::memchr(from, mark, std::size_t(end - from)) : nullptr;
        return at ? static_cast<const char*>(at) : end;
    };
    const char* dot = next(begin, '.');
    const char* colon = next(begin, ':');
    while (dot < end || colon < end) {
        const char* start = std::min(dot, colon);
        while (start > begin && byteClass(start[-1]) != Other)
            --start;
        unsigned char classes = 0;
        const char* stop = start;
        for (; stop < end && byteClass(*stop) != Other; ++stop)
            classes |= byteClass(*stop);
        // Without a colon, only a word of digits and dots can be (or end with) an address, "0.0.0.0" at least.
        if ((classes & Colon) ? stop - start >= 3 : !(classes & (HexLetter | Letter)) && stop - start >= 7)
            addressesInWord(QByteArrayView(start, stop), found);
        if (dot < stop)
            dot = next(stop, '.');
        if (colon < stop)
            colon = next(stop, ':');
    }
    return found;
}

} // namespace vantor::cli
