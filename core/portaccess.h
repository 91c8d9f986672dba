#ifndef PORTACCESS_H
#define PORTACCESS_H

#include <QString>

// What to do when a serial port exists but this account may not open it:
// for a port its group may read and write, "add your account to the group
// <group>, then log in again", or install the udev rule that gives the
// seated user the USB serial ports; for any other such port, to ask for access.
// Empty when the port does not exist or the account may read and write it,
// as then the cause lies elsewhere.
QString portAccessHint(const QString &port);

#endif // PORTACCESS_H
