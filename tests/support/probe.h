#ifndef PROBE_H
#define PROBE_H

#include "kesmarcontrol.h"

// Reaches the main window's state that has no widget: the polling timer, the
// port settings, the selected device number, the named positions, the pad and
// the settings store.
struct KesmarControlProbe
{
    static QTimer &timer(KesmarControl &w) { return w.timer; }
    static PortSettings &portSettings(KesmarControl &w) { return w.portSettings; }
    static int dev(const KesmarControl &w) { return w.dev; }
    static const QList<Position *> &positions(const KesmarControl &w) { return w.positions; }
    static KesmarCtl &ctl(KesmarControl &w) { return w.ctl; }
    static PadDialog &pad(KesmarControl &w) { return w.pad; }
    static SettingsStore &store(KesmarControl &w) { return w.store; }
};

#endif // PROBE_H
