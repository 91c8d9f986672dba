// The program as main.cpp builds it, with the real control library, plus a
// probe that reports the first painted frame. Used by the start-up benchmark.
#include "firstpaint.h"
#include "kesmarcontrol.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    KesmarControl window;
    bench::FirstPaint probe(&window, bench::quitRequested(argc, argv));
    window.show();
    return app.exec();
}
