// SPDX-License-Identifier: GPL-3.0-or-later
#include "IniFile.h"

#include <QFile>

namespace platform {

namespace {

int digitValue(char c, int base)
{
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

} // namespace

bool holdsStreamedValue(const QByteArray& iniText)
{
    // The text with QSettings' numeric escapes decoded and quotes dropped; other escapes stand for characters no
    // marker is made of, so they are kept as they are.
    QString text;
    text.reserve(iniText.size());
    for (qsizetype i = 0; i < iniText.size(); ++i) {
        const char c = iniText[i];
        if (c == '"')
            continue;
        if (c == '\\' && i + 1 < iniText.size()) {
            const bool hex = iniText[i + 1] == 'x';
            const int base = hex ? 16 : 8;
            qsizetype j = hex ? i + 2 : i + 1;
            unsigned code = 0;
            bool any = false;
            for (; j < iniText.size() && digitValue(iniText[j], base) >= 0; ++j) {
                code = (code * unsigned(base) + unsigned(digitValue(iniText[j], base))) & 0xffffu;
                any = true;
            }
            if (any) {
                text += QChar(char16_t(code));
                i = j - 1;
                continue;
            }
        }
        text += QLatin1Char(c);
    }
    return text.contains(QLatin1String("@Variant(")) || text.contains(QLatin1String("@DateTime("));
}

bool fileHoldsStreamedValue(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return holdsStreamedValue(file.readAll());
}

} // namespace platform
