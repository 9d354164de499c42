// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/OutsideFile.h"
#include "platform/WholeFile.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace platform {

// Whether INI text holds a value that QSettings would rebuild with QDataStream ("@Variant(…)" or "@DateTime(…)"),
// however its characters are escaped (\x40, \100, quotes). Neither program writes one, and reading one makes Qt
// reserve whatever size the file names, so a file holding one is refused before QSettings reads any of it.
bool holdsStreamedValue(const QByteArray& iniText);

// How far a settings file is read: far more than any of these programs' holds.
inline constexpr qint64 kMostSettingsBytes = 1 << 20;

// Whether QSettings may read the file at path: nothing when it may (nothing is there, or a regular file of at most
// kMostSettingsBytes that holds no value QSettings would rebuild with QDataStream, EBADMSG), else why not. A FIFO,
// a device or a folder in its place is refused without waiting and without reading it: QSettings would block on
// the one and read the other until memory runs out.
std::optional<FileReadError> settingsFileProblem(const QString& path);

// Every key of the INI file at path with its value, as QSettings reads them (keys as QSettings takes them, with
// their slashes collapsed; a key it gives no value for is left out); none when there is no file. Nothing,
// with errno set, when the file is there but cannot be read (settingsFileProblem()): a write must not drop what it
// holds.
std::optional<QVariantMap> readIniFile(const QString& path);

// INI text from which QSettings reads back exactly these values: texts, numbers, bools, and whatever readIniFile()
// gives (lists, byte arrays, rectangles, sizes, points, invalid values). A key with a '/' goes into the section the
// part before it names; keys come in order, each section once. QSettings writes the same text for a new file.
QByteArray iniText(const QVariantMap& values);

// Writes values as the whole INI file at path (see writeWholeFile()), its modification time left later than the
// one before: QSettings trusts what it read of a file while its size and modification time (to the millisecond)
// stay the same, so two versions must never share both.
Status<FileWriteError> writeIniFile(const QString& path, const QVariantMap& values);

// Sets one key of the INI file at path, keeping every other key it holds (readIniFile()), and writes it whole
// (writeIniFile()). A file holding a value QSettings would rebuild with QDataStream is left as it is (EBADMSG).
Status<FileWriteError> setIniValue(const QString& path, const QString& key, const QVariant& value);

} // namespace platform
