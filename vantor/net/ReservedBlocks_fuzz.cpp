// SPDX-License-Identifier: GPL-3.0-or-later
// Any text as an address to check for a special-purpose block, as a list's line or a typed address reaches it.
#include "vantor/net/ReservedBlocks.h"

#include <QHostAddress>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<vantor::SpecialPurposeBlock> fromBytes = vantor::specialPurposeBlock(bytes.c_str());
    const QString text = QString::fromLatin1(bytes.c_str());
    const std::optional<vantor::SpecialPurposeBlock> fromText = vantor::specialPurposeBlock(QStringView(text));
    // Both readings of the text agree.
    if (fromBytes.has_value() != fromText.has_value() || (fromBytes && fromBytes->block != fromText->block))
        __builtin_trap();
    // Qt reads scopes its own way; an address without one it must read as the same address.
    if (fromBytes && !text.contains(QLatin1Char('%'))) {
        const QHostAddress address(text);
        const std::optional<vantor::SpecialPurposeBlock> fromAddress = vantor::specialPurposeBlock(address);
        if (!fromAddress || fromAddress->block != fromBytes->block)
            __builtin_trap();
    }
    return 0;
}
