#include "kesmarcontrol.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    KesmarControl window;
    window.show();
    return app.exec();
}
