// Ostrel: the benchmark window.
#include "AppDelegate.h"
#include "MainInterface.h"
#include "Scores.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The same name as ostrel-cli's: one store of results, one cache folder.
    QCoreApplication::setApplicationName(ostrel::saved::kApplication);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Ostrel"));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.ostrel.Ostrel"));

    ostrel::MainInterface interface(app);
    interface.delegate().applicationDidFinishLaunching();
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &interface.delegate(),
                     &ostrel::AppDelegate::applicationWillTerminate);
    interface.window().show();
    app.exec();
    return 0;
}
