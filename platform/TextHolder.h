// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <mutex>

namespace platform {

// A text plus a hidden flag: what a label shows, without the label. Same
// guarantees as BarHolder: safe from any thread, a read after a set returns
// the text just set, and every change is announced in order.
class TextHolder : public QObject
{
    Q_OBJECT

public:
    explicit TextHolder(QString text = {}, QObject* parent = nullptr);

    QString text() const;
    void setText(const QString& text);

    bool isHidden() const;
    void setHidden(bool hidden);

signals:
    void textChanged(const QString& text);
    void hiddenChanged(bool hidden);

private:
    mutable std::recursive_mutex m_mutex;
    QString m_text;
    bool m_hidden = false;
};

} // namespace platform
