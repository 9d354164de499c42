#include "vantor/MainInterface.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    vantor::configureApplication();
    vantor::MainInterface mainInterface;
    mainInterface.launch();
    return app.exec();
}
