#include "kesmarcontrol.h"
#include "signalwatcher.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Ctrl+C, a logout or a plain kill end the program the way Exit does,
    // saving included. Watched before anything else, so a signal sent once
    // the instance lock below exists is never missed.
    SignalWatcher signalWatcher({SIGINT, SIGTERM, SIGHUP});

    // One program per settings store: a second one would overwrite the
    // first one's positions when it closes, and could not open the port the
    // first one holds anyway. A lock left by a run that crashed names a
    // process that no longer exists and is taken over.
    const QFileInfo store(KesmarControl::settingsFile());
    QDir().mkpath(store.path());
    QLockFile lock(store.path() + QLatin1Char('/') + store.completeBaseName() + QStringLiteral(".lock"));
    lock.setStaleLockTime(0);
    if (!lock.tryLock()) {
        if (lock.error() == QLockFile::LockFailedError) {
            // Asking the running window to come to the front, over the
            // session bus, belongs here; until then the second start only
            // says why it ends.
            qint64 pid = 0;
            QString host;
            QString appName;
            lock.getLockInfo(&pid, &host, &appName);
            std::fprintf(stderr, "kesmarcontrol: already running (process %lld) with the settings in %s\n",
                         static_cast<long long>(pid), qPrintable(QDir::toNativeSeparators(store.filePath())));
            return 1;
        }
        // Without the lock (the folder cannot be written) the program still
        // runs; saving will say what fails.
        std::fprintf(stderr, "kesmarcontrol: cannot lock the settings in %s\n",
                     qPrintable(QDir::toNativeSeparators(store.filePath())));
    }

    KesmarControl window;
    QObject::connect(&signalWatcher, &SignalWatcher::received, &window, [&window] {
        // An open Settings dialog has no parent and would keep the program
        // running after the main window closed.
        if (window.close())
            QApplication::quit();
    });
    window.show();
    return app.exec();
}
