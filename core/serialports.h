#ifndef SERIALPORTS_H
#define SERIALPORTS_H

#include <QList>
#include <QString>

// A serial port present on this computer, as Settings offers it.
struct SerialPort
{
    QString path; // what to open, e.g. /dev/serial/by-id/usb-Maker_Unit_A1-if00-port0
    QString description; // the device's maker and product where known, and the terminal it is
};

// The serial ports present now: first the names of /dev/serial/by-id (they
// stay the same whichever socket the adapter is plugged into), then the USB
// and real serial terminals no such name leads to. The legacy ttyS
// placeholders that the kernel makes whether a port exists or not are left
// out. `dev` and `sys` are the roots of /dev and /sys (tests give others).
QList<SerialPort> presentSerialPorts(const QString &dev = QStringLiteral("/dev"),
                                     const QString &sys = QStringLiteral("/sys"));

#endif // SERIALPORTS_H
