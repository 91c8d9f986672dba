#ifndef POSITION_H
#define POSITION_H

#include <QString>

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
