// The serial line under a connection: a QSerialPort driven only through its
// waitFor* calls, so it works with or without a running Qt event loop and even
// without a QCoreApplication, and no call waits past the deadline it is given.
#ifndef KESMARCTL_SERIALLINE_H
#define KESMARCTL_SERIALLINE_H

#include "ctlerror.h"

#include <QDeadlineTimer>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QSerialPort;

class SerialLine
{
public:
    // Most input held for the caller while nobody takes it in: where a
    // running event loop keeps reading the port between calls, the oldest
    // bytes beyond this go first. Stale reports are all such input can hold.
    static constexpr int MaxUnread = 4096;

    SerialLine();
    ~SerialLine();
    SerialLine(const SerialLine &) = delete;
    SerialLine &operator=(const SerialLine &) = delete;

    // Opens `path` at 115200 8N1 and discards whatever input was pending.
    // Fails for a missing path, something that is not a serial port, or a
    // port that this or another program holds.
    Failure open(const QString &path);
    void close();

    // Each call returns Failure::None on success; reason() then holds the
    // system's words for the last failure, where it gave any.

    // Sends all of `bytes` by `deadline`.
    Failure write(const std::vector<uint8_t> &bytes, const QDeadlineTimer &deadline);
    // Appends what has arrived to `out` without waiting.
    Failure readAvailable(std::vector<uint8_t> &out);
    // Waits until something arrives or `deadline` passes, then appends it to `out`.
    Failure waitAndRead(std::vector<uint8_t> &out, const QDeadlineTimer &deadline);

    const std::string &reason() const { return reason_; }
    // Input received and not yet taken, and input dropped to stay within MaxUnread.
    qint64 unread() const;
    uint64_t discarded() const { return discarded_; }

private:
    bool hungUp() const;
    Failure lostOrNothing();
    void dropOldest();

    std::unique_ptr<QSerialPort> port_;
    std::string reason_;
    uint64_t discarded_ = 0;
    bool busy_ = false; // inside one of this class's calls
};

#endif
