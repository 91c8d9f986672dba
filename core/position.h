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

    // A name that can be stored has 1 to this many characters, none of them
    // one that isNameCharacter() refuses.
    static constexpr int maxNameLength = 200;

    // Whether `c` may stand in a name: control characters and line or
    // paragraph separators may not, since a name is shown and printed on a
    // line of its own.
    static bool isNameCharacter(QChar c)
    {
        const QChar::Category category = c.category();
        return category != QChar::Other_Control && category != QChar::Separator_Line
            && category != QChar::Separator_Paragraph;
    }

    QString name;
    int x = 0;
    int y = 0;
    int z = 0;
};

#endif // POSITION_H
