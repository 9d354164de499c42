// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vantor {

// Where Debian's iso-codes package keeps the countries (alpha_2 and the English name) and their Chinese names.
inline constexpr char kIsoCountriesFile[] = "/usr/share/iso-codes/json/iso_3166-1.json";
inline constexpr char kIsoCountriesCatalogue[] = "/usr/share/locale/zh_CN/LC_MESSAGES/iso_3166-1.mo";

// The translations of a GNU gettext .mo file (msgid to msgstr, the first form of each), in either byte order, or
// nullopt when the bytes are not one. Read here rather than through gettext(), which translates nothing in the C
// locale a Qt program may run in.
std::optional<std::unordered_map<std::string, std::string>> readMoCatalogue(std::string_view bytes);

// Country names by ISO 3166-1 two-letter code: the catalogue's Chinese name, else the English one.
class CountryNames
{
public:
    // From iso-codes' JSON list of countries and its catalogue; a catalogue that cannot be read leaves the English
    // names, a list that cannot be read leaves none.
    static CountryNames load(const QString& countriesFile, const QString& catalogueFile);

    // The name for the code (either case), or the code itself when it names no country known here.
    std::string_view name(std::string_view code) const;

private:
    std::vector<std::string> m_names; // 26 × 26, by the code's letters; empty for none
};

// The names from iso-codes' files where Debian puts them, read at the first call, once per process.
const CountryNames& isoCountryNames();

} // namespace vantor
