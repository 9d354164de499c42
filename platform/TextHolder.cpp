// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TextHolder.h"

namespace platform {

TextHolder::TextHolder(QString text, QObject* parent)
    : QObject(parent)
    , m_text(std::move(text))
{
}

QString TextHolder::text() const
{
    std::lock_guard lock(m_mutex);
    return m_text;
}

void TextHolder::setText(const QString& text)
{
    // Copy and swap rather than assign: the old text is then released by code
    // built with this program (inline reference counting), which keeps the
    // hand-over visible to ThreadSanitizer when Qt itself is not instrumented.
    QString replacement = text;
    std::lock_guard lock(m_mutex);
    m_text.swap(replacement);
    emit textChanged(m_text);
}

bool TextHolder::isHidden() const
{
    std::lock_guard lock(m_mutex);
    return m_hidden;
}

void TextHolder::setHidden(bool hidden)
{
    std::lock_guard lock(m_mutex);
    m_hidden = hidden;
    emit hiddenChanged(hidden);
}

} // namespace platform
