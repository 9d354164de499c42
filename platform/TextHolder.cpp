#include "TextHolder.h"

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
    std::lock_guard lock(m_mutex);
    m_text = text;
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
