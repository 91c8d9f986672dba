// One connection to a control unit: the request/answer exchanges of the
// protocol over a serial line, each bounded by the time-out given at open.
#ifndef KESMARCTL_CONNECTION_H
#define KESMARCTL_CONNECTION_H

#include "ctlerror.h"
#include "serialline.h"

#include "decoder.h"
#include "frame.h"

#include <cstdint>
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
    bool open(const std::string &port, int timeoutMs);
    void close();

    uint8_t unitId() const { return unitId_; }
    int timeoutMs() const { return timeoutMs_; }
    const CtlError &error() const { return error_; }
    // The operator's text of error(); stays valid until the next failure.
    const std::string &errorText() const { return errorText_; }
    // Records a failure found outside the exchanges (e.g. by the C interface).
    bool fail(Failure kind, int address = -1, long long number = 0);

    bool selectDevice(uint8_t device);
    // Takes in what has arrived without waiting; returns the number of frames
    // taken in, or -1 when the line is lost.
    int takeIn();
    bool position(uint8_t device, int waitMs, kesmarproto::Position &position);
    bool storeMemory(uint8_t device, int slot, int x, int y, int z);
    bool gotoMemory(uint8_t device, int slot);
    bool readMemory(uint8_t device, int slot, int &x, int &y, int &z);

    // Input held and not yet taken in: by the port and by the frame decoder.
    long long unreadBytes() const;
    uint64_t discardedBytes() const { return line_.discarded(); }

private:
    bool exchange(kesmarproto::Frame request, kesmarproto::Frame &reply, Deadline deadline);
    bool fail(const CtlError &error);
    bool checkDevice(uint8_t device);
    bool checkSlot(uint8_t device, int slot);
    int takeFrames(bool flush);
    void lose();

    SerialLine line_;
    kesmarproto::Decoder decoder_;
    std::string portName_;
    CtlError error_;
    std::string errorText_ = "no error";
    int timeoutMs_ = DefaultTimeoutMs;
    uint8_t unitId_ = 0;
    uint8_t sequence_ = 0;
    bool open_ = false;
    bool lost_ = false;
};

#endif
