#ifndef TARGETCONTROLS_H
#define TARGETCONTROLS_H

#include <QObject>

#include <array>

class CoordinateBox;
class Panel;
class QCheckBox;
class QSlider;
class StatusMessages;

// The targets as three boxes with their sliders, and Follow Target: a view
// of the panel's targets. Each slider agrees with its box at all times:
// whatever moves it (a drag, keys, the wheel, a click in the groove) sets the
// box. Both take the travel envelope while it is on, else the whole travel,
// and say so in their tool tips; a box refuses a typed value outside it, and
// neither takes the wheel without the focus. A box the operator changes is
// an edit of the panel's targets, which under Follow Target sends it; a typed
// value only with Enter. Boxes, sliders' tool tips and messages are in the
// panel's units, from the device's zero; what is sent is whole steps.
class TargetControls : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        std::array<CoordinateBox *, 3> boxes;
        std::array<QSlider *, 3> sliders;
        QCheckBox *follow;
    };
    TargetControls(const Widgets &widgets, Panel &panel, StatusMessages &messages, QObject *parent);

    // The box of `axis` changed: an edit of the operator's unless it shows
    // the panel's targets.
    void boxChanged(int axis);
    // The operator ticked or unticked Follow Target.
    void followToggled(bool on);

private:
    // Shows the panel's targets, fitting each range to take them.
    void show(int x, int y, int z);
    // Fits the boxes and sliders to the envelope in force.
    void showLimits();
    // Shows the boxes in the units and frame of the device driven.
    void showFrame();
    // The envelope's band on `axis`, widened to take `value`, which the
    // program shows as it is (an axis that may still come closer).
    void fitRange(int axis, int value);

    Widgets ui_;
    Panel &panel_;
    bool showing_ = false;
};

#endif // TARGETCONTROLS_H
