// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/CountryNames.h"

#include "platform/OutsideFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>

namespace vantor {

namespace {

// iso-codes' files are some hundred KiB; anything much larger is not one of them.
constexpr qint64 kLargestFile = 16 << 20;

constexpr std::size_t kLetters = 26;

// The code's place in the table, or nullopt for anything but two ASCII letters.
std::optional<std::size_t> codeIndex(std::string_view code)
{
    if (code.size() != 2)
        return std::nullopt;
    std::size_t index = 0;
    for (const char c : code) {
        const char upper = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        if (upper < 'A' || upper > 'Z')
            return std::nullopt;
        index = index * kLetters + std::size_t(upper - 'A');
    }
    return index;
}

std::optional<QByteArray> fileBytes(const QString& path)
{
    auto bytes = platform::readOutsideFile(path, kLargestFile);
    if (!bytes)
        return std::nullopt;
    return std::move(bytes).value();
}

} // namespace

std::optional<std::unordered_map<std::string, std::string>> readMoCatalogue(std::string_view bytes)
{
    constexpr std::uint32_t kMagic = 0x950412de;
    const auto word = [&](std::uint64_t at, bool bigEndian) -> std::optional<std::uint32_t> {
        if (at + 4 > bytes.size())
            return std::nullopt;
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const std::uint32_t byte = std::uint8_t(bytes[at + (bigEndian ? i : 3 - i)]);
            value = value << 8 | byte;
        }
        return value;
    };
    const std::optional<std::uint32_t> little = word(0, false);
    if (!little)
        return std::nullopt;
    const bool bigEndian = *little != kMagic;
    if (bigEndian && word(0, true) != kMagic)
        return std::nullopt;
    const auto revision = word(4, bigEndian);
    const auto count = word(8, bigEndian);
    const auto originals = word(12, bigEndian);
    const auto translations = word(16, bigEndian);
    // Major revisions 0 and 1 share the tables read here.
    if (!revision || *revision >> 16 > 1 || !count || !originals || !translations)
        return std::nullopt;
    // A text as a table's entry gives it (length, then offset), up to its first NUL: a plural's first form.
    const auto text = [&](std::uint64_t entry) -> std::optional<std::string_view> {
        const auto length = word(entry, bigEndian);
        const auto offset = word(entry + 4, bigEndian);
        if (!length || !offset || std::uint64_t(*offset) + *length > bytes.size())
            return std::nullopt;
        const std::string_view whole = bytes.substr(*offset, *length);
        return whole.substr(0, whole.find('\0'));
    };
    if (std::uint64_t(*originals) + 8 * std::uint64_t(*count) > bytes.size()
        || std::uint64_t(*translations) + 8 * std::uint64_t(*count) > bytes.size())
        return std::nullopt;
    std::unordered_map<std::string, std::string> catalogue;
    for (std::uint64_t i = 0; i < *count; ++i) {
        const auto original = text(*originals + 8 * i);
        const auto translation = text(*translations + 8 * i);
        if (!original || !translation)
            return std::nullopt;
        // The empty msgid is the catalogue's header.
        if (!original->empty() && !translation->empty())
            catalogue.emplace(*original, *translation);
    }
    return catalogue;
}

CountryNames CountryNames::load(const QString& countriesFile, const QString& catalogueFile)
{
    CountryNames names;
    names.m_names.resize(kLetters * kLetters);
    const std::optional<QByteArray> list = fileBytes(countriesFile);
    if (!list)
        return names;
    std::unordered_map<std::string, std::string> chinese;
    if (const std::optional<QByteArray> mo = fileBytes(catalogueFile)) {
        if (auto read = readMoCatalogue(std::string_view(mo->constData(), std::size_t(mo->size()))))
            chinese = std::move(*read);
    }
    const QJsonArray countries = QJsonDocument::fromJson(*list).object().value(QLatin1String("3166-1")).toArray();
    for (const QJsonValue& country : countries) {
        const QByteArray code = country[QLatin1String("alpha_2")].toString().toLatin1();
        const std::string english = country[QLatin1String("name")].toString().toStdString();
        const std::optional<std::size_t> index
            = codeIndex(std::string_view(code.constData(), std::size_t(code.size())));
        if (!index || english.empty())
            continue;
        const auto translated = chinese.find(english);
        names.m_names[*index] = translated != chinese.end() ? translated->second : english;
    }
    return names;
}

std::string_view CountryNames::name(std::string_view code) const
{
    const std::optional<std::size_t> index = codeIndex(code);
    if (!index || m_names.empty() || m_names[*index].empty())
        return code;
    return m_names[*index];
}

const CountryNames& isoCountryNames()
{
    static const CountryNames names
        = CountryNames::load(QString::fromLatin1(kIsoCountriesFile), QString::fromLatin1(kIsoCountriesCatalogue));
    return names;
}

} // namespace vantor
