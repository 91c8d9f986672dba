#ifndef TRAVELLIMITS_H
#define TRAVELLIMITS_H

#include "travel.h"

#include <QString>
#include <QVariantMap>

#include <array>

// The operator's own travel envelope inside the hardware's range, and the
// order of moves that takes the electrode out along one axis before it moves
// sideways. Kept in the settings group "limits".
struct TravelLimits
{
    using Xyz = std::array<int, 3>;

    // The envelope, per axis, checked only while enabled.
    bool enabled = false;
    Xyz min{0, 0, 0};
    Xyz max{positionMax, positionMax, positionMax};

    // Ordered moves: out along `axis` to `safe` first (unless further out
    // already), then the other axes, then `axis` to its target.
    bool ordered = false;
    int axis = 2; // 0 X, 1 Y, 2 Z
    bool outwardUp = true; // out is towards larger coordinates
    int safe = positionMax;
    // Return stops this far short of the remembered position on the retract
    // axis, so the operator finishes by hand; 0 goes all the way.
    int approach = 0;

    // Why these limits cannot be taken (a minimum above its maximum, a value
    // outside the travel), or empty when they can.
    QString problem() const;
    // Whether `a` is further out than `b` on the retract axis.
    bool furtherOut(int a, int b) const { return outwardUp ? a > b : a < b; }
    // The coordinate `approach` short of `target` on the retract axis, on the outward side.
    int shortOf(int target) const;
    // Where `from` stands once taken out to the safe coordinate on the
    // retract axis (where it is, when further out already).
    Xyz retracted(const Xyz &from) const;

    // The settings group "limits" and back. A missing or damaged value loads
    // as its default; a bound that is missing, damaged, outside the travel or
    // above its maximum leaves its axis the full range.
    static TravelLimits fromGroup(const QVariantMap &group);
    QVariantMap toGroup() const;
};

#endif // TRAVELLIMITS_H
