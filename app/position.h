#ifndef POSITION_H
#define POSITION_H

#include <QString>

// Coordinates run from 0 to this on each axis, in the unit's steps.
constexpr int coordinateMax = 20500;

// A named target position.
struct Position
{
    Position() = default;
    Position(const QString &name, int x, int y, int z)
        : name(name)
        , x(x)
        , y(y)
        , z(z)
    { }

    QString name;
    int x = 0;
    int y = 0;
    int z = 0;
};

#endif // POSITION_H
