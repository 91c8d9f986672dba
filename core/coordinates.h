#ifndef COORDINATES_H
#define COORDINATES_H

#include "deviceframe.h"

#include <QMap>
#include <QObject>
#include <QVariantMap>

// The coordinates the operator works in: the units every view shows, and
// each device's frame (its scale, the zero set on it, its pipette's axis).
// Kept in the store's group "devices": "units" and, per device, the keys of
// DeviceFrame under "<n>/". A device never set up has the default frame, in
// which nothing differs from the unit's own steps.
class Coordinates : public QObject
{
    Q_OBJECT

public:
    using Units = DeviceFrame::Units;

    explicit Coordinates(QObject *parent = nullptr);

    Units units() const { return units_; }
    void setUnits(Units units);
    DeviceFrame frame(int device) const { return frames_.value(device); }
    void setFrame(int device, const DeviceFrame &frame);

    // The group "devices" as the store holds it; toGroup() is empty while
    // nothing was set, so a store without it stays without it.
    void fromGroup(const QVariantMap &group);
    QVariantMap toGroup() const;

signals:
    // The units or a device's frame changed: every shown value may have.
    void changed();

private:
    Units units_ = Units::Steps;
    // The units are written once the store held them or they were chosen.
    bool unitsKept_ = false;
    QMap<int, DeviceFrame> frames_;
};

#endif // COORDINATES_H
