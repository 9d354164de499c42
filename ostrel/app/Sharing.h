// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Result.h"

#include <QString>
#include <QUrl>
#include <functional>

class QMenu;
class QWidget;

namespace ostrel {

struct Panel;

// The sentence that reports the five scores exactly as their labels read.
QString resultSentence(const QString& intLabel, const QString& doubleLabel, const QString& piLabel,
                       const QString& memoryLabel, const QString& diskLabel);
QString resultSentence(const Panel& panel);

// A mailto: link whose body is the text, every byte outside the unreserved
// set percent-encoded so that mail programs read it back unchanged.
QUrl mailUrl(const QString& text);

// Why a text could not be saved: for the user, without the path.
struct SaveTextError
{
    QString reason;
};

// Writes the text as UTF-8, replacing the file whole or not at all.
platform::Status<SaveTextError> saveText(const QString& path, const QString& text);

// What the sharing picker hands the text to. Tests replace the parts that
// would open a dialog or another program.
struct SharingServices
{
    // Opens a URL in the user's program for it; false when none took it.
    std::function<bool(const QUrl&)> openUrl;
    // Asks where to save; an empty path means the user cancelled.
    std::function<QString(QWidget* parent, const QString& suggestedPath)> chooseSaveFile;

    static SharingServices desktop();
};

// Linux has no system sharing picker, so this is one: a menu of the
// services that take one text. Each entry works on its own when triggered;
// a service that fails says so in an alert on the parent's window. The menu
// deletes itself when it closes.
QMenu* makeSharingPicker(const QString& text, QWidget* parent, const SharingServices& services);

// Opens the picker beside the sender, against its minimum-x edge: the
// menu's right edge meets the sender's left edge, tops aligned, and the
// menu moves only as far as the screen requires.
void showSharingPicker(QMenu* picker, QWidget* sender);

} // namespace ostrel
