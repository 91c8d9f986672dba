#include "kesmarcontrol.h"
#include "scriptbridge.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    KesmarControl window;
    // Scripts reach the panel over the session bus; without one it runs as before.
    auto *bridge = new ScriptBridge(&window);
    bridge->registerOnSessionBus();
    window.show();
    return app.exec();
}
