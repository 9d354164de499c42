// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/CountryNames.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

namespace {

// A .mo file of the translations, in either byte order, as GNU msgfmt lays it out.
QByteArray moFile(const std::map<std::string, std::string>& translations, bool bigEndian)
{
    QByteArray bytes;
    const auto word = [&](std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes += char(value >> (bigEndian ? 24 - 8 * i : 8 * i));
    };
    const auto count = std::uint32_t(translations.size());
    const std::uint32_t originals = 28;
    const std::uint32_t translated = originals + 8 * count;
    std::uint32_t text = translated + 8 * count;
    QByteArray texts;
    for (const std::uint32_t value : { 0x950412deu, 0u, count, originals, translated, 0u, 0u })
        word(value);
    for (const bool original : { true, false }) {
        for (const auto& [id, name] : translations) {
            const std::string& s = original ? id : name;
            word(std::uint32_t(s.size()));
            word(text + std::uint32_t(texts.size()));
            texts += QByteArray(s.data(), qsizetype(s.size())) + '\0';
        }
    }
    return bytes + texts;
}

TEST(CountryNamesTest, ChineseElseEnglishElseTheCode)
{
    const QTemporaryDir folder;
    const QString list = folder.filePath(QStringLiteral("iso_3166-1.json"));
    QFile json(list);
    ASSERT_TRUE(json.open(QIODevice::WriteOnly));
    json.write(R"({"3166-1": [{"alpha_2": "DE", "name": "Germany"}, {"alpha_2": "FR", "name": "France"},
                              {"alpha_2": "TW", "common_name": "Taiwan", "name": "Taiwan, Province of China"}]})");
    json.close();
    const std::map<std::string, std::string> translations {
        { "", "Content-Type: text/plain; charset=UTF-8\n" },
        { "Germany", "德国" },
        { "Taiwan, Province of China", "中国台湾省" },
        { "Taiwan", "台湾" },
    };
    const auto written = [&](const char* name, const QByteArray& bytes) {
        const QString path = folder.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return path;
    };
    const QByteArray little = moFile(translations, false);
    const struct
    {
        const char* name;
        QString catalogue;
        bool translated;
    } catalogues[] = {
        { "little-endian", written("le.mo", little), true },
        { "big-endian", written("be.mo", moFile(translations, true)), true },
        // An offset past the end: no catalogue, the English names stay.
        { "cut short", written("short.mo", little.left(little.size() - 4)), false },
        { "missing", folder.filePath(QStringLiteral("none.mo")), false },
    };
    for (const auto& c : catalogues) {
        SCOPED_TRACE(c.name);
        const vantor::CountryNames names = vantor::CountryNames::load(list, c.catalogue);
        const struct
        {
            std::string_view code;
            std::string_view name;
        } cases[] = {
            { "DE", c.translated ? "德国" : "Germany" },
            { "de", c.translated ? "德国" : "Germany" },
            { "TW", c.translated ? "中国台湾省" : "Taiwan, Province of China" }, // the name, not the common name
            { "FR", "France" },
            { "ZZ", "ZZ" },
            { "D", "D" },
            { "DEU", "DEU" },
            { "", "" },
        };
        for (const auto& n : cases)
            EXPECT_EQ(names.name(n.code), n.name) << n.code;
    }
    // Debian's own files.
    EXPECT_EQ(vantor::isoCountryNames().name("DE"), "德国");
    EXPECT_EQ(vantor::isoCountryNames().name("ZZ"), "ZZ");
}

} // namespace
