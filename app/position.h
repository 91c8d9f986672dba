#ifndef POSITION_H
#define POSITION_H

#include <QString>

// Every axis of the manipulator runs from 0 to this, in the readouts' units.
constexpr int positionMax = 20500;

// A named target position.
struct Position
{
    Position(const QString &name, int x, int y, int z)
        : name(name)
        , x(x)
        , y(y)
        , z(z)
    { }

    QString name;
    int x;
    int y;
    int z;
};

#endif // POSITION_H
