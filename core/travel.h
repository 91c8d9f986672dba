#ifndef TRAVEL_H
#define TRAVEL_H

// The unit's ranges, the one home of each.

// Every axis of the manipulator runs from 0 to this, in the readouts' units.
constexpr int positionMax = 20500;

// The devices a unit addresses: 0, its own manipulator, and 1 to 99.
constexpr int minDevice = 0;
constexpr int maxDevice = 99;

#endif // TRAVEL_H
