#ifndef TRAVEL_H
#define TRAVEL_H

// Every axis of the manipulator runs from 0 to this, in the readouts' units.
constexpr int positionMax = 20500;

#endif // TRAVEL_H
