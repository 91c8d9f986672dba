#ifndef WINDOWFIXTURE_H
#define WINDOWFIXTURE_H

#include "fakekesmarctl.h"
#include "kesmarcontrol.h"
#include "probe.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStatusBar>
#include <QtTest>

#include <memory>

// Helpers for tests that drive a main window against the test double.
namespace WindowFixture {

// Builds the main window and lets its start-up run: the selection of device 1
// and the delayed open, which succeeds or fails as asked. Then the polling
// timer is stopped, the start-up messages are cleared and the record of calls
// starts afresh, so a test sees only what it does itself.
inline void start(std::unique_ptr<KesmarControl> &w, bool connected)
{
    Fake::script().openSucceeds = connected;
    w = std::make_unique<KesmarControl>();
    QTRY_COMPARE_WITH_TIMEOUT(Fake::count("open"), 1, 10000);
    QCOMPARE(KesmarControlProbe::ctl(*w).handle != nullptr, connected);
    KesmarControlProbe::timer(*w).stop();
    w->statusBar()->clearMessage();
    Fake::reset();
}

// The handle as the test double records it.
inline QVariant handle(KesmarControl &w)
{
    return QVariant::fromValue(reinterpret_cast<quintptr>(KesmarControlProbe::ctl(w).handle));
}

// Checks that the message now shown stays for `ms` milliseconds. A message of
// duration 0 is neither replaced nor cleared for well over a second; a timed
// one is cleared eventually, and not much before its time.
inline void expectShownFor(QStatusBar *bar, int ms)
{
    QElapsedTimer shown;
    shown.start();
    const QString text = bar->currentMessage();
    QVERIFY(!text.isEmpty());
    if (ms == 0) {
        QSignalSpy changes(bar, &QStatusBar::messageChanged);
        QVERIFY2(!changes.wait(1500), "a message meant to stay was replaced or cleared");
        QCOMPARE(bar->currentMessage(), text);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(bar->currentMessage().isEmpty(), 10000);
    QVERIFY2(shown.elapsed() >= ms * 3 / 4, qPrintable(QStringLiteral("cleared after %1 ms").arg(shown.elapsed())));
}

} // namespace WindowFixture

// Starts the window held in `w`, ending the test if that failed.
#define START_WINDOW(w, connected)                                                                                     \
    do {                                                                                                               \
        WindowFixture::start(w, connected);                                                                            \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (0)

#endif // WINDOWFIXTURE_H
