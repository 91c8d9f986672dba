#include "instancelock.h"
#include "kesmarcontrol.h"
#include "scriptbridge.h"
#include "signalwatcher.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Ctrl+C, a logout or a plain kill end the program the way Exit does,
    // saving included. Watched before anything else, so a signal sent once
    // the instance lock below exists is never missed.
    SignalWatcher signalWatcher({SIGINT, SIGTERM, SIGHUP});

    // One program per settings store; see InstanceLock.
    const QString store = QDir::toNativeSeparators(KesmarControl::settingsFile());
    InstanceLock lock(store);
    QString notSaving;
    switch (lock.lock()) {
    case InstanceLock::Result::Locked:
        break;
    case InstanceLock::Result::HeldByOther: {
        // The running program comes to the front, where the session bus
        // reaches it; either way this start ends.
        const bool raised = ScriptBridge::raiseRunningPanel(lock.runningPid());
        std::fprintf(stderr, "kesmarcontrol: already running (process %lld) with the settings in %s%s\n",
                     static_cast<long long>(lock.runningPid()), qPrintable(store),
                     raised ? "; its window was brought to the front" : "");
        return 1;
    }
    case InstanceLock::Result::Failed:
        // Without the lock another program may be using the store: this one
        // runs, but writes nothing, and says so until it ends.
        notSaving = lock.failure();
        std::fprintf(stderr, "kesmarcontrol: settings are not saved in this run - %s\n", qPrintable(notSaving));
        break;
    }

    KesmarControl window(nullptr, notSaving);
    // Scripts reach the panel over the session bus; without one it runs as before.
    auto *bridge = new ScriptBridge(&window);
    bridge->registerOnSessionBus();
    QObject::connect(&signalWatcher, &SignalWatcher::received, &window, [&window] {
        // An open Settings dialog has no parent and would keep the program
        // running after the main window closed.
        if (window.close())
            QApplication::quit();
    });
    window.show();
    return app.exec();
}
