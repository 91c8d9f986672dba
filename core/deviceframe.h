#ifndef DEVICEFRAME_H
#define DEVICEFRAME_H

#include <QString>
#include <QVariantMap>

#include <array>
#include <optional>

// How one device's raw steps are shown to the operator and how what the
// operator gives goes back to steps: the scale of each axis (steps per
// micrometre), the zero the operator set, and the pipette's axis, which
// enters the tissue at an angle in a plane of two axes.
//
// Shown values are relative to the zero when one is set, in steps or in
// micrometres. What goes back to the unit is always whole steps, rounded to
// the nearest.
struct DeviceFrame
{
    using Xyz = std::array<int, 3>;

    enum class Units
    {
        Steps,
        Micrometres
    };

    // Steps per micrometre on X, Y and Z; each above zero.
    std::array<double, 3> scale{1, 1, 1};
    // The unit's position the readouts count from; none: the unit's own 0.
    std::optional<Xyz> zero;
    // The pipette's angle from the plane's first axis, 0..90 degrees.
    double angle = 0;
    // The plane the pipette lies in: its first ("horizontal") and second axis.
    std::array<int, 2> plane{0, 2};
    // Which way an advance goes on the plane's two axes: +1 or -1 each. By
    // default forward on X and down on Z.
    std::array<int, 2> direction{1, -1};

    // A value of `axis` as shown: from the zero, scaled in micrometres.
    double shown(int axis, int steps, Units units) const;
    // A shown value of `axis` back in the unit's steps, rounded to the nearest.
    int steps(int axis, double shown, Units units) const;
    // The shown value as text: whole steps, or micrometres with one decimal.
    QString text(int axis, int steps, Units units) const;
    // A length on `axis` (no zero), as shown and back.
    double length(int axis, int steps, Units units) const;
    int lengthSteps(int axis, double length, Units units) const;
    QString lengthText(int axis, int steps, Units units) const;

    // The step on each axis that moves the unit `distance` along the
    // pipette, as shown (micrometres, or steps counted on each axis alike);
    // a negative distance withdraws.
    Xyz along(double distance, Units units) const;
    // How far `at` lies along the pipette from the zero (or the unit's 0).
    double alongDistance(const Xyz &at, Units units) const;

    // How many digits a readout needs for any position of the travel.
    int readoutDigits(Units units) const;

    // The frame's keys in the group of its device ("scale", "zero", "angle",
    // "plane", "direction"); a key that cannot be read keeps its default.
    static DeviceFrame fromGroup(const QVariantMap &group);
    QVariantMap toGroup() const;
    bool operator==(const DeviceFrame &other) const;
    bool operator!=(const DeviceFrame &other) const { return !(*this == other); }

    // The units' own texts, for menus and messages: "steps", "µm".
    static QString unitName(Units units);
};

#endif // DEVICEFRAME_H
