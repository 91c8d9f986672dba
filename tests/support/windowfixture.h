#ifndef WINDOWFIXTURE_H
#define WINDOWFIXTURE_H

#include "fakekesmarctl.h"
#include "runstep.h"
#include "testwindow.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

#include <memory>

// Helpers for tests that drive a main window against the test double.
namespace WindowFixture {

// Makes the unit stand at x, y, z in a live reading and ticks Follow Target,
// which takes that reading as the targets (Follow Target needs a live
// reading). Polling stops again and the record of calls starts afresh.
inline void followFrom(KesmarControl &w, int x, int y, int z)
{
    Fake::script().position = {0, x, y, z};
    w.panel().link().resumePolling();
    w.panel().link().poll();
    w.findChild<QCheckBox *>(QStringLiteral("followTarget"))->setChecked(true);
    w.panel().link().stopPolling();
    Fake::calls().clear();
}

// An operator's act comes through the event loop, which has run since the
// last library call that failed; a test acting straight after one lets it run
// first, else the window holds the act back until it has.
inline void untilLinkFree(KesmarControl &w)
{
    QTRY_VERIFY_WITH_TIMEOUT(w.panel().link().mayCall(), 5000);
}

// Time since the status bar's message last changed.
inline QElapsedTimer &sinceMessageChange()
{
    static QElapsedTimer clock;
    return clock;
}

// Builds the main window and lets its start-up run: the selection of device 1
// and the delayed open, which succeeds or fails as asked. Then the polling
// timer is stopped, the start-up messages are cleared and the record of calls
// starts afresh, so a test sees only what it does itself.
inline void start(std::unique_ptr<KesmarControl> &w, bool connected)
{
    Fake::script().openSucceeds = connected;
    w = std::make_unique<TestWindow>();
    QObject::connect(w->statusBar(), &QStatusBar::messageChanged, w.get(), [] { sinceMessageChange().start(); });
    QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 10000);
    QCOMPARE(w->panel().link().isOpen(), connected);
    w->panel().link().stopPolling();
    w->statusBar()->clearMessage();
    Fake::reset();
}

// The window's connection handle as the test double records it: the one the
// last successful open handed out, or null while none is open.
inline QVariant handle(const KesmarControl &w)
{
    return w.panel().link().isOpen() ? Fake::lastOpened() : QVariant::fromValue(quintptr(0));
}

// Checks that the message now shown (by a window made with start()) stays for
// `ms` milliseconds. A message of duration 0 is neither replaced nor cleared
// for well over a second. A timed one is cleared not much before its time, and
// before a timer due at twice its duration: timers that are due fire in the
// order of their due times, so that comparison holds however late the event
// loop runs. Nothing clears a message before the event loop runs again, so a
// delay between showing it and this check only adds to the time measured.
inline void expectShownFor(QStatusBar *bar, int ms)
{
    const qint64 age = sinceMessageChange().elapsed();
    QElapsedTimer now;
    now.start();
    const QString text = bar->currentMessage();
    QVERIFY(!text.isEmpty());
    if (ms == 0) {
        QSignalSpy changes(bar, &QStatusBar::messageChanged);
        QVERIFY2(!changes.wait(1500), "a message meant to stay was replaced or cleared");
        QCOMPARE(bar->currentMessage(), text);
        return;
    }
    QTimer later;
    later.setSingleShot(true);
    later.setTimerType(Qt::PreciseTimer);
    later.start(int(qMax<qint64>(1, 2 * ms - age)));
    bool cleared = false;
    bool beforeLater = false;
    qint64 clearedAfter = 0;
    QObject context;
    QObject::connect(bar, &QStatusBar::messageChanged, &context, [&](const QString &message) {
        if (cleared)
            return;
        cleared = true;
        beforeLater = later.isActive();
        clearedAfter = age + now.elapsed();
        QCOMPARE(message, QString());
    });
    QTRY_VERIFY_WITH_TIMEOUT(cleared, 10000);
    QVERIFY2(clearedAfter >= ms * 3 / 4, qPrintable(QStringLiteral("cleared after %1 ms").arg(clearedAfter)));
    QVERIFY2(beforeLater, qPrintable(QStringLiteral("still shown after %1 ms").arg(2 * ms)));
}

// The targets sent, one "x y z" per store call (see Fake::sentTargets).
inline QStringList sentTargets()
{
    return Fake::sentTargets();
}

} // namespace WindowFixture

#endif // WINDOWFIXTURE_H
