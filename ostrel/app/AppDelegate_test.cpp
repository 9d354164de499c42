// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/app/AppDelegate.h"
#include "ostrel/app/RunThread.h"
#include "ostrel/testing/WindowTest.h"

#include <QApplication>
#include <QMainWindow>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::testkit;

namespace {

// Runs the application's event loop until something ends it; a loop still
// running after a generous while is ended with 1 so that a failing test
// does not hang.
int runEventLoop(const std::function<void()>& onceRunning)
{
    QTimer::singleShot(0, qApp, onceRunning);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    guard.start(20000);
    return QCoreApplication::exec();
}

} // namespace

TEST(AppDelegate, ClosingTheMainWindowEndsTheApplication)
{
    QTemporaryDir dir;
    auto log = std::make_shared<RunLog>();
    MainInterface interface(*qApp, makeTesting(dir.filePath(QStringLiteral("ostrel.conf")), log));
    EXPECT_EQ(interface.delegate().window(), &interface.window());
    EXPECT_EQ(interface.delegate().app(), qApp);
    // Only the delegate may end it here, not Qt's last-window rule. The
    // window stays unshown: a close is the same either way.
    qApp->setQuitOnLastWindowClosed(false);

    const int code = runEventLoop([&] { interface.window().close(); });
    EXPECT_EQ(code, 0);
    qApp->setQuitOnLastWindowClosed(true);
}

TEST(AppDelegate, ClosingDuringARunStopsItAndLeavesAWholeStore)
{
    QTemporaryDir dir;
    const QString store = dir.filePath(QStringLiteral("ostrel.conf"));
    auto log = std::make_shared<RunLog>();
    log->holdAt = QStringLiteral("memory");
    log->held = true;
    {
        QSettings before(store, QSettings::IniFormat);
        before.setValue(QStringLiteral("memory"), 42.5);
        before.setValue(QStringLiteral("lastTime"), 1796707200.0);
    }
    {
        MainInterface interface(*qApp, makeTesting(store, log));
        qApp->setQuitOnLastWindowClosed(false);
        const int code = runEventLoop([&] {
            QTest::mouseClick(&interface.startButton(), Qt::LeftButton);
            QTimer::singleShot(0, qApp, [&] {
                // Close once the run is in its memory stage; the held step
                // gives way only to a stop.
                if (eventually([&] { return log->reachedHold.load() == 1; }))
                    interface.window().close();
            });
        });
        qApp->setQuitOnLastWindowClosed(true);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(log->alive.load(), 1) << "the run is still under way when the loop ends";
    }
    EXPECT_EQ(log->alive.load(), 0) << "tearing the window down ended the run";

    QSettings after(store, QSettings::IniFormat);
    EXPECT_EQ(after.status(), QSettings::NoError);
    for (const char* key : { "int", "double", "pi" })
        EXPECT_GT(after.value(QString::fromLatin1(key)).toDouble(), 99.0) << key;
    EXPECT_EQ(after.value(QStringLiteral("memory")).toDouble(), 42.5);
    EXPECT_FALSE(after.contains(QStringLiteral("disk")));
    EXPECT_EQ(after.value(QStringLiteral("lastTime")).toDouble(), 1796707200.0);
}
