#ifndef POSITION_H
#define POSITION_H

#include <QString>

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
