// SPDX-License-Identifier: GPL-3.0-or-later
// Any body of the own-address service, decoded as UTF-8 the way the fetch decodes it, then read for an address.
#include "vantor/net/OwnAddress.h"

#include <QHostAddress>
#include <QStringDecoder>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(QByteArrayView(data, qsizetype(size)));
    if (decoder.hasError())
        return 0;
    // Whatever is taken for an address must be one: it is printed and looked up as it stands.
    if (const std::optional<QString> address = vantor::ownAddressFromAnswer(text); address && QHostAddress(*address).isNull())
        __builtin_trap();
    return 0;
}
