#ifndef TARGETCONTROLS_H
#define TARGETCONTROLS_H

#include "actresult.h"
#include "devicelink.h"

#include <QObject>

#include <array>

class QCheckBox;
class QSlider;
class QSpinBox;
class StatusMessages;

// The targets: three boxes with their sliders, Follow Target, Copy and
// Restore. Each slider agrees with its box at all times: whatever moves it (a
// drag, keys, the wheel, a click in the groove) sets the box. Both take the
// travel envelope while it is on, else the whole travel, and say so in their
// tool tips; a box refuses a typed value outside it, and neither takes the
// wheel without the focus. Under Follow Target a changed target is sent
// straight, once per act; a typed value only with Enter.
class TargetControls : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        std::array<QSpinBox *, 3> boxes;
        std::array<QSlider *, 3> sliders;
        QCheckBox *follow;
    };
    TargetControls(const Widgets &widgets, DeviceLink &link, StatusMessages &messages, QObject *parent);

    DeviceLink::Xyz values() const;
    // Puts a whole target into the boxes and sliders as one act, sending
    // nothing; a negative value leaves its axis alone. Returns whether any
    // box changed.
    bool set(int x, int y, int z);
    // Fits the boxes and sliders to the envelope in force.
    void showLimits();

    bool following() const;
    // The operator ticked or unticked Follow Target.
    void followToggled(bool on);
    // Unticks Follow Target without a send; `why`, when given, stays in the
    // status bar.
    void followOff(const QString &why);
    // A box changed: under Follow Target the new target is sent, unless the
    // change is part of an act that sends once for all its changes (or none).
    void boxChanged();
    // Sends the targets straight.
    ActResult send();
    // Copy and Restore: the position now, or the last target, into the boxes.
    void copy();
    void restore();

private:
    // The envelope's band on `axis`, widened to take `value`, which the
    // program shows as it is (an axis that may still come closer).
    void fitRange(int axis, int value);

    Widgets ui_;
    DeviceLink &link_;
    StatusMessages &messages_;
    bool settingAsOne_ = false;
};

#endif // TARGETCONTROLS_H
