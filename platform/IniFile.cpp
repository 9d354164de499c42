// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/IniFile.h"

#include "platform/ErrorText.h"

#include <QFile>
#include <QPoint>
#include <QRect>
#include <QSettings>
#include <QSize>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool isHexDigit(char16_t c)
{
    return c < 0x80 && digitValue(char(c), 16) >= 0;
}

QByteArray hex(unsigned code, int digits)
{
    return QByteArray::number(code, 16).toUpper().rightJustified(digits, '0');
}

// A key as QSettings reads it back: '/' as '\\', letters, digits and "_-." as they are, the rest as %XX or %UXXXX.
void appendKey(QByteArray& out, const QString& key)
{
    for (const QChar c : key) {
        const char16_t u = c.unicode();
        if (u == '/')
            out += '\\';
        else if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u == '-'
                 || u == '.')
            out += char(u);
        else if (u <= 0xff)
            out += '%' + hex(u, 2);
        else
            out += "%U" + hex(u, 4);
    }
}

// The text QSettings keeps a value as, before escaping: forms of its own for what is not text, and an '@' more
// before text that starts with one.
QString valueText(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return QStringLiteral("@Invalid()");
    case QMetaType::QByteArray:
        return QStringLiteral("@ByteArray(") + QString::fromLatin1(value.toByteArray()) + QLatin1Char(')');
    case QMetaType::QRect: {
        const QRect r = value.toRect();
        return QStringLiteral("@Rect(%1 %2 %3 %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    }
    case QMetaType::QSize:
        return QStringLiteral("@Size(%1 %2)").arg(value.toSize().width()).arg(value.toSize().height());
    case QMetaType::QPoint:
        return QStringLiteral("@Point(%1 %2)").arg(value.toPoint().x()).arg(value.toPoint().y());
    default: {
        const QString text = value.toString();
        return text.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + text : text;
    }
    }
}

// Text as QSettings reads it back: '\\', '"' and control characters escaped, and quotes around text that ',', ';'
// or '=' would split or whose spaces at either end would be dropped. A byte array's bytes are read as Latin-1, so
// those above ASCII are escaped too; other text is UTF-8.
void appendText(QByteArray& out, const QString& text)
{
    const bool bytes = text.startsWith(QLatin1String("@ByteArray("));
    QString escaped;
    bool quoted = false;
    // A hex digit right after "\x.." would join its number.
    bool afterHex = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        quoted = quoted || u == ',' || u == ';' || u == '=';
        // Half of a surrogate pair alone has no UTF-8: QSettings reads it back from its number.
        const bool paired = (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            || (c.isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate());
        const bool asHex = (afterHex && isHexDigit(u)) || u < 0x20 || u == 0x7f || (bytes && u > 0x7f)
            || (c.isSurrogate() && !paired);
        afterHex = false;
        if (u == '\\' || u == '"') {
            escaped += QLatin1Char('\\');
            escaped += c;
        } else if (u == '\n') {
            escaped += QLatin1String("\\n");
        } else if (u == '\t') {
            escaped += QLatin1String("\\t");
        } else if (u == '\r') {
            escaped += QLatin1String("\\r");
        } else if (asHex) {
            escaped += QLatin1String("\\x") + QString::number(u, 16);
            afterHex = true;
        } else {
            escaped += c;
        }
    }
    quoted = quoted || escaped.startsWith(QLatin1Char(' ')) || escaped.endsWith(QLatin1Char(' '));
    out += (quoted ? QLatin1Char('"') + escaped + QLatin1Char('"') : escaped).toUtf8();
}

void appendValue(QByteArray& out, const QVariant& value)
{
    const int type = value.typeId();
    if (type != QMetaType::QStringList && type != QMetaType::QVariantList) {
        appendText(out, valueText(value));
        return;
    }
    const QVariantList items = value.toList();
    // An empty list reads back as no value, the same to QSettings.
    if (items.isEmpty())
        out += "@Invalid()";
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0)
            out += ", ";
        appendText(out, valueText(items[i]));
    }
}

// The modification time in whole milliseconds, the precision QSettings compares; nullopt when there is no file.
std::optional<qint64> modifiedMilliseconds(const QString& filePath)
{
    struct stat info
    {
    };
    if (::lstat(QFile::encodeName(filePath).constData(), &info) != 0)
        return std::nullopt;
    return qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
}

// Moves the file's modification time to the millisecond after `previous` when the write did not leave it later
// (two writes within one clock tick, or a clock set back).
void keepModificationTimeRising(const QString& filePath, std::optional<qint64> previous)
{
    const std::optional<qint64> now = modifiedMilliseconds(filePath);
    if (!previous || !now || *now > *previous)
        return;
    const qint64 next = *previous + 1;
    const struct timespec times[2] = { { 0, UTIME_OMIT }, { time_t(next / 1000), long(next % 1000) * 1000000 } };
    ::utimensat(AT_FDCWD, QFile::encodeName(filePath).constData(), times, AT_SYMLINK_NOFOLLOW);
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

std::optional<FileReadError> settingsFileProblem(const QString& path)
{
    const Result<QByteArray, FileReadError> text = readOutsideFile(path, kMostSettingsBytes);
    if (!text)
        return text.error().error == ENOENT ? std::nullopt : std::optional(text.error());
    if (holdsStreamedValue(*text))
        return FileReadError { EBADMSG, errorText(EBADMSG) };
    return std::nullopt;
}

std::optional<QVariantMap> readIniFile(const QString& path)
{
    // QSettings takes a file it cannot read for an empty one.
    if (const std::optional<FileReadError> problem = settingsFileProblem(path)) {
        errno = problem->error;
        return std::nullopt;
    }
    QVariantMap values;
    const QSettings settings(path, QSettings::IniFormat);
    for (const QString& listed : settings.allKeys()) {
        // QSettings reads a key with its slashes collapsed ("/a//b" is "a/b"), so that is the key it holds; one
        // it lists but gives no value for holds nothing to keep.
        const QString key = listed.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'));
        if (const QVariant value = settings.value(key); value.isValid())
            values.insert(key, value);
    }
    return values;
}

QByteArray iniText(const QVariantMap& values)
{
    // Keys without a section first, under [General].
    QMap<QString, QVariantMap> sections;
    for (auto value = values.begin(); value != values.end(); ++value) {
        const qsizetype slash = value.key().indexOf(QLatin1Char('/'));
        if (slash < 0)
            sections[QString()].insert(value.key(), value.value());
        else
            sections[value.key().left(slash)].insert(value.key().mid(slash + 1), value.value());
    }
    QByteArray text;
    for (auto section = sections.begin(); section != sections.end(); ++section) {
        if (!text.isEmpty())
            text += '\n';
        QByteArray name;
        appendKey(name, section.key());
        // [General] holds the keys without a section; a section of that name has its first letter escaped.
        if (name.isEmpty())
            name = "General";
        else if (name.compare("general", Qt::CaseInsensitive) == 0)
            name = '%' + hex(uchar(name[0]), 2) + name.mid(1);
        text += '[' + name + "]\n";
        for (auto value = section->begin(); value != section->end(); ++value) {
            appendKey(text, value.key());
            text += '=';
            appendValue(text, value.value());
            text += '\n';
        }
    }
    return text;
}

Status<FileWriteError> writeIniFile(const QString& path, const QVariantMap& values)
{
    const std::optional<qint64> previousVersion = modifiedMilliseconds(path);
    Status<FileWriteError> written = writeWholeFile(path, iniText(values));
    if (written)
        keepModificationTimeRising(path, previousVersion);
    return written;
}

Status<FileWriteError> setIniValue(const QString& path, const QString& key, const QVariant& value)
{
    if (const std::optional<FileReadError> problem = settingsFileProblem(path))
        return FileWriteError { problem->error, problem->reason };
    std::optional<QVariantMap> values = readIniFile(path);
    if (!values)
        return FileWriteError { errno, errorText(errno) };
    values->insert(key, value);
    return writeIniFile(path, *values);
}

} // namespace platform
