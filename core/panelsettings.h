#ifndef PANELSETTINGS_H
#define PANELSETTINGS_H

#include "settingsstore.h"

#include <QString>
#include <QVariantMap>

class Coordinates;
class DeviceLink;
class MoveGate;
class MovePlans;
class PositionModel;

// What the panel keeps between runs, read into and gathered from the objects
// that hold it: the port settings and the device (the link), the limits (the
// gate) with the positions Retract remembered (the plans), the named
// positions (the list), the units and the devices' frames (the
// coordinates), and the pad's group, kept as it comes.
//
// Retract's memory is kept per device in the group "limits" as
// "retract<n>=x y z"; the keys "retractdevice", "retractx", "retracty" and
// "retractz" of earlier versions, which held one device's, are still read,
// and written for the device driven (or the first remembered).
class PanelSettings
{
public:
    PanelSettings(DeviceLink &link, MoveGate &gate, MovePlans &plans, PositionModel &positions,
                  Coordinates &coordinates);

    SettingsStore &store() { return store_; }

    // Reads the store into the link and the list, and returns the pad's
    // group. `standing` gets what the whole run must know: that nothing is
    // saved, or where the file with unreadable entries is kept.
    QVariantMap load(QString *standing);
    // Asks for a save of the whole store with the pad's group as given,
    // written off this thread from a snapshot; returns its number, and
    // store().saveFinished() tells how it ended. Until loading has finished
    // nothing is written (a save in between, a device selected while
    // loading, would write the list half loaded): that returns 0 and tells
    // nothing.
    quint64 saveLater(const QVariantMap &pad);
    // The same save, waited for; nothing written before loading counts as saved.
    SaveResult save(const QVariantMap &pad);
    // Waits for every save asked for; returns how the last one ended.
    SaveResult waitForSaves() { return store_.waitForSaves(); }

    // The device saved: the one last selected with success.
    int device() const { return device_; }
    void setDevice(int n) { device_ = n; }
    // Limits are written once the store held them or they were set in this
    // run; limits never set leave the store as it was.
    void keepLimits() { limitsKept_ = true; }

private:
    StoredSettings snapshot(const QVariantMap &pad) const;

    DeviceLink &link_;
    MoveGate &gate_;
    MovePlans &plans_;
    PositionModel &positions_;
    Coordinates &coordinates_;
    SettingsStore store_;
    int device_ = 1;
    bool loaded_ = false;
    bool limitsKept_ = false;
};

#endif // PANELSETTINGS_H
