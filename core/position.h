#ifndef POSITION_H
#define POSITION_H

#include <QString>

// A named target position, and the device it was stored for.
struct Position
{
    Position() = default;
    Position(const QString &name, int x, int y, int z, int device = noDevice)
        : name(name)
        , x(x)
        , y(y)
        , z(z)
        , device(device)
    { }

    // The device of an entry stored before positions had a device.
    static constexpr int noDevice = -1;

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

    // Whether the entry may be recalled while device `n` is driven: it was
    // stored for that device, or before positions had a device.
    bool isFor(int n) const { return device == noDevice || device == n; }

    QString name;
    int x = 0;
    int y = 0;
    int z = 0;
    int device = noDevice;
};

#endif // POSITION_H
