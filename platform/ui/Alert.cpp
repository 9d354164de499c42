// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/Alert.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>

namespace platform::ui {

namespace {
AlertRecorder* activeRecorder = nullptr;
}

AlertRecorder::AlertRecorder()
    : m_previous(activeRecorder)
{
    activeRecorder = this;
}

AlertRecorder::~AlertRecorder()
{
    activeRecorder = m_previous;
}

void showAlert(const QString& messageText, const QString& informativeText, QWidget* window)
{
    if (window)
        window = window->window();
    if (activeRecorder) {
        activeRecorder->m_alerts.append({ messageText, informativeText, window });
        return;
    }

    auto* box = new QMessageBox(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), messageText,
                                QMessageBox::Ok, window);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(informativeText);
    // The message is the headline; the informative text explains it.
    if (auto* headline = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        QFont font = headline->font();
        font.setBold(true);
        headline->setFont(font);
    }
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (window) {
        box->open();
        return;
    }
    // A free-standing box has no parent to delete it when the application quits while it is still open.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, box, &QObject::deleteLater);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

} // namespace platform::ui
