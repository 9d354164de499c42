// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as the gettext catalogue of iso-codes' country names.
#include "vantor/net/CountryNames.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    (void)vantor::readMoCatalogue(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
