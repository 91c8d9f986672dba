// One connection to a control unit: the request/answer exchanges of the
// protocol over a serial line, each bounded by the time-out given at open.
#ifndef KESMARCTL_CONNECTION_H
#define KESMARCTL_CONNECTION_H

#include "serialline.h"

#include "decoder.h"
#include "frame.h"

#include <QDeadlineTimer>
#include <QString>

#include <cstdint>
#include <map>
#include <string>

class Connection
{
public:
    // Time-outs the caller may give to open(), in ms; others are clamped into
    // this range, and zero or a negative value means the default.
    static constexpr int DefaultTimeoutMs = 100;
    static constexpr int MinTimeoutMs = 10;
    static constexpr int MaxTimeoutMs = 10000;

    // Silence after which a partly received frame is given up.
    static constexpr int InterFrameGapMs = 20;

    static int effectiveTimeout(int timeoutMs);

    // Opens the port and asks the unit for its id. On failure error() tells why.
    bool open(const QString &port, int timeoutMs);
    void close();

    uint8_t unitId() const { return unitId_; }
    int timeoutMs() const { return timeoutMs_; }
    const std::string &error() const { return error_; }
    void setError(std::string text) { error_ = std::move(text); }

    bool selectDevice(uint8_t device);
    // Takes in what has arrived without waiting; returns the number of frames
    // taken in, or -1 when the line is lost.
    int takeIn();
    bool position(uint8_t device, int waitMs, kesmarproto::Position &position);
    bool storeMemory(uint8_t device, int slot, int x, int y, int z);
    bool gotoMemory(uint8_t device, int slot);
    bool readMemory(uint8_t device, int slot, int &x, int &y, int &z);

    // The last position each device reported by itself while moving.
    const std::map<uint8_t, kesmarproto::Position> &reported() const { return reported_; }

private:
    bool exchange(kesmarproto::Frame request, kesmarproto::Frame &reply, const QDeadlineTimer &deadline);
    bool checkDevice(uint8_t device);
    bool checkSlot(int slot);
    int takeFrames(bool flush);
    void lose(const std::string &why);
    std::string describe(uint8_t address) const;
    std::string replyError(const kesmarproto::Frame &request, const char *what) const;

    SerialLine line_;
    kesmarproto::Decoder decoder_;
    std::string portName_;
    std::string error_;
    std::map<uint8_t, kesmarproto::Position> reported_;
    int timeoutMs_ = DefaultTimeoutMs;
    uint8_t unitId_ = 0;
    uint8_t sequence_ = 0;
    bool open_ = false;
    bool lost_ = false;
};

#endif
