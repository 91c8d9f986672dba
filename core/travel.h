#ifndef TRAVEL_H
#define TRAVEL_H

#include <algorithm>
#include <array>

// The unit's ranges, the one home of each.

// Every axis of the manipulator runs from 0 to this, in the readouts' units.
constexpr int positionMax = 20500;

// The devices a unit addresses: 0, its own manipulator, and 1 to 99.
constexpr int minDevice = 0;
constexpr int maxDevice = 99;

// Whether `p` lies on the way from `a` to `b`: on each axis between the two.
inline bool onTheWay(const std::array<int, 3> &p, const std::array<int, 3> &a, const std::array<int, 3> &b)
{
    for (int i = 0; i < 3; ++i) {
        const auto [low, high] = std::minmax(a[i], b[i]);
        if (p[i] < low || p[i] > high)
            return false;
    }
    return true;
}

#endif // TRAVEL_H
