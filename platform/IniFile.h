// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Whether INI text holds a value that QSettings would rebuild with QDataStream ("@Variant(…)" or "@DateTime(…)"),
// however its characters are escaped (\x40, \100, quotes). Neither program writes one, and reading one makes Qt
// reserve whatever size the file names, so a file holding one is refused before QSettings reads any of it.
bool holdsStreamedValue(const QByteArray& iniText);

// The same for a file; false when it cannot be read (QSettings then finds nothing either).
bool fileHoldsStreamedValue(const QString& path);

} // namespace platform
