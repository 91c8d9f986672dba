// The serial line under a connection: a QSerialPort driven only through its
// waitFor* calls, so it works with or without a running Qt event loop and even
// without a QCoreApplication, and no call waits past the deadline it is given.
#ifndef KESMARCTL_SERIALLINE_H
#define KESMARCTL_SERIALLINE_H

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
    enum class Read
    {
        Data,
        Nothing,
        Lost
    };

    SerialLine();
    ~SerialLine();
    SerialLine(const SerialLine &) = delete;
    SerialLine &operator=(const SerialLine &) = delete;

    // Opens `path` at 115200 8N1 and discards whatever input was pending.
    // Fails with a readable `error` for a missing path, something that is not
    // a serial port, or a port in use by this or another program.
    bool open(const QString &path, std::string &error);
    void close();

    // Sends all of `bytes`; Lost when the port went away.
    bool write(const std::vector<uint8_t> &bytes, const QDeadlineTimer &deadline, std::string &error, bool &lost);

    // Appends what has arrived to `out` without waiting.
    Read readAvailable(std::vector<uint8_t> &out, std::string &error);
    // Waits until something arrives or `deadline` passes, then appends it to `out`.
    Read waitAndRead(std::vector<uint8_t> &out, const QDeadlineTimer &deadline, std::string &error);

private:
    bool hungUp() const;
    Read lostOrNothing(std::string &error);

    std::unique_ptr<QSerialPort> port_;
    std::string canonicalPath_;
};

#endif
