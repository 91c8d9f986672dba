#ifndef PORTSETTINGS_H
#define PORTSETTINGS_H

#include <QString>

// The four connection settings. The main window holds one; the Settings dialog
// edits it in place.
struct PortSettings
{
    // The port used when none is set, and saved after a failed open.
    static QString defaultPort() { return QStringLiteral("/dev/ttyUSB0"); }

    int update = 1000; // polling interval, ms
    static constexpr int minUpdate = 20; // shortest polling interval, ms: anything shorter is taken as this
    int timeout = 100; // time-out handed to the library's open, ms
    bool pcmode = false; // the control unit is in PC mode
    QString port = defaultPort();
};

#endif // PORTSETTINGS_H
