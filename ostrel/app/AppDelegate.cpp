// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/app/AppDelegate.h"

#include <QCoreApplication>
#include <QEvent>

namespace ostrel {

void AppDelegate::windowWillClose()
{
    // Leaves the event loop once the close has been handled; the objects of
    // the window, the controller with its run among them, are then torn down
    // by their owners.
    m_app->exit(0);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Close && watched->isWidgetType())
        windowWillClose();
    return QObject::eventFilter(watched, event);
}

} // namespace ostrel
