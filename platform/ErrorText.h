// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace platform {

// What an error number (errno) means, for a user: the common causes of a
// failed write in plain Chinese, the system's own text for the rest.
QString errorText(int error);

} // namespace platform
