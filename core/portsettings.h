#ifndef PORTSETTINGS_H
#define PORTSETTINGS_H

#include <QString>

// The four connection settings. The device link holds the ones in force; the
// Settings dialog edits a copy.
struct PortSettings
{
    // The port used when none is set, and saved after a failed open.
    static QString defaultPort() { return QStringLiteral("/dev/ttyUSB0"); }

    int update = 1000; // polling interval, ms
    static constexpr int minUpdate = 20; // shortest polling interval, ms: anything shorter is taken as this
    int timeout = 100; // time-out handed to the library's open, ms
    // The time-out's range: every call stays short enough for a Halt to get
    // through, and a value outside is taken as the nearest bound.
    static constexpr int minTimeout = 10;
    static constexpr int maxTimeout = 1000;
    bool pcmode = false; // the control unit is in PC mode
    QString port = defaultPort();
};

#endif // PORTSETTINGS_H
