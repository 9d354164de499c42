// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as a settings file that a store then sets one value in: every key the file held must read back the
// same after the write, beside the new one, or a save would lose or change what another program stored there.
#include "platform/IniFile.h"
#include "platform/testing/FuzzedFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

bool isList(const QVariant& value)
{
    return value.typeId() == QMetaType::QStringList || value.typeId() == QMetaType::QVariantList;
}

// QSettings gives a list holding an element that starts with '@' as a QVariantList, and the same list written back
// (with that '@' doubled, as QSettings writes it too) as a QStringList: the same texts.
bool sameValue(const QVariant& a, const QVariant& b)
{
    if (isList(a) && isList(b))
        return a.toStringList() == b.toStringList();
    return a == b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = platform::testing::writeFuzzedFile("ini-merge", data, size);
    if (path.isEmpty() || platform::settingsFileProblem(path))
        return 0;
    std::optional<QVariantMap> before = platform::readIniFile(path);
    if (!before)
        return 0;
    const QString key = QStringLiteral("lastTime");
    const QVariant value = 1765270000.25;
    if (!platform::setIniValue(path, key, value))
        return 0;
    // QSettings reads a number back as its text.
    before->insert(key, value.toString());
    const std::optional<QVariantMap> after = platform::readIniFile(path);
    if (!after || after->keys() != before->keys())
        std::abort();
    for (auto it = before->cbegin(); it != before->cend(); ++it) {
        if (!sameValue(after->value(it.key()), it.value()))
            std::abort();
    }
    return 0;
}
