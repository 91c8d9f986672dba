#include "connection.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace kesmarproto;

namespace {

// Every frame sent and received, in hex, one line each on standard error;
// off unless the environment sets KESMARCTL_DEBUG to 1. Read at each frame,
// so a caller may switch it on and off while connected.
void trace(const char *what, const Frame &frame)
{
    const char *debug = std::getenv("KESMARCTL_DEBUG");
    if (!debug || std::strcmp(debug, "1") != 0)
        return;
    std::string line = "kesmarctl: ";
    line += what;
    char digits[4];
    for (const uint8_t byte : frame.encode()) {
        std::snprintf(digits, sizeof digits, " %02x", byte);
        line += digits;
    }
    line += '\n';
    std::fputs(line.c_str(), stderr);
}

} // namespace

int Connection::effectiveTimeout(int timeoutMs)
{
    if (timeoutMs <= 0)
        return DefaultTimeoutMs;
    return std::clamp(timeoutMs, MinTimeoutMs, MaxTimeoutMs);
}

bool Connection::fail(const CtlError &error)
{
    error_ = error;
    error_.port = portName_;
    error_.timeoutMs = timeoutMs_;
    error_.unitId = unitId_;
    errorText_ = ::errorText(error_);
    return false;
}

bool Connection::fail(Failure kind, int address, long long number)
{
    CtlError e;
    e.kind = kind;
    e.address = address;
    e.number = number;
    return fail(e);
}

bool Connection::open(const std::string &port, int timeoutMs)
{
    // The whole open, port included, stays within the time-out.
    timeoutMs_ = effectiveTimeout(timeoutMs);
    const Deadline deadline = deadlineIn(timeoutMs_);
    portName_ = port;
    const Failure opened = line_.open(port);
    if (opened != Failure::None) {
        CtlError e;
        e.kind = opened;
        e.reason = line_.reason();
        return fail(e);
    }
    open_ = true;

    Frame reply;
    if (!exchange(Frame(UnitAddress, cmd::Identify, 0), reply, deadline)) {
        if (error_.kind == Failure::NoAnswer)
            fail(Failure::NoUnit);
        close();
        return false;
    }
    uint8_t id = 0, version = 0, flags = 0;
    if (reply.size() < len::IdentifyReply || !reply.readU8(0, id) || !reply.readU8(1, version)
        || !reply.readU8(2, flags) || id == UnitAddress) {
        close();
        return fail(Failure::BadIdentification);
    }
    if (version != ProtocolVersion) {
        close();
        return fail(Failure::WrongProtocol, -1, version);
    }
    unitId_ = id;
    return true;
}

void Connection::close()
{
    line_.close();
    open_ = false;
}

void Connection::lose()
{
    lost_ = true;
    fail(Failure::PortGone);
    line_.close();
}

long long Connection::unreadBytes() const
{
    return line_.unread() + static_cast<long long>(decoder_.buffered());
}

int Connection::takeFrames(bool flush)
{
    // Nothing taken in outside an exchange can be the answer to a request:
    // reports, and answers to requests whose time ran out. They are counted
    // and dropped.
    int count = 0;
    Frame frame;
    while (flush ? decoder_.flushNext(frame) : decoder_.next(frame)) {
        trace("received", frame);
        ++count;
    }
    return count;
}

int Connection::takeIn()
{
    if (lost_)
        return -1; // error_ still tells how it was lost
    if (!open_) {
        fail(Failure::NotConnected);
        return -1;
    }
    std::vector<uint8_t> bytes;
    if (line_.readAvailable(bytes) == Failure::PortGone) {
        lose();
        return -1;
    }
    decoder_.feed(bytes.data(), bytes.size());
    return takeFrames(false);
}

bool Connection::exchange(Frame request, Frame &reply, Deadline deadline)
{
    if (lost_)
        return false; // error_ still tells how it was lost
    if (!open_)
        return fail(Failure::NotConnected);
    // Take in what came before the request: reports, late answers to earlier
    // requests, and the remains of damaged frames, which cannot belong to the
    // answer to this request.
    if (takeIn() < 0)
        return false;
    takeFrames(true);

    sequence_ = static_cast<uint8_t>(sequence_ == 0xFF ? 1 : sequence_ + 1);
    request.sequence = sequence_;
    const uint8_t expected = static_cast<uint8_t>(request.command | ReplyFlag);
    const uint64_t damagedBefore = decoder_.badChecksums() + decoder_.badLengths();

    const Failure sent = line_.write(request.encode(), deadline);
    if (sent == Failure::PortGone) {
        lose();
        return false;
    }
    if (sent != Failure::None) {
        CtlError e;
        e.kind = sent;
        e.reason = line_.reason();
        return fail(e);
    }
    trace("sent", request);

    // What one decoded frame means for this exchange.
    enum class Verdict
    {
        Other,
        Answer,
        Refused
    };
    int otherAddress = -1;
    const auto consider = [&](const Frame &frame) {
        trace("received", frame);
        uint8_t rejected = 0;
        const bool nak = frame.command == cmd::Nak && frame.readU8(0, rejected) && rejected == request.command;
        if (frame.sequence != request.sequence || (frame.command != expected && !nak))
            return Verdict::Other; // a report, or a late answer to an earlier request
        if (frame.address != request.address) {
            otherAddress = frame.address;
            return Verdict::Other;
        }
        if (nak) {
            uint8_t code = 0;
            frame.readU8(1, code);
            fail(Failure::Refused, request.address, code);
            return Verdict::Refused;
        }
        reply = frame;
        return Verdict::Answer;
    };

    for (;;) {
        // However much arrives, the call ends at its deadline.
        if (Clock::now() >= deadline)
            break;
        Frame frame;
        while (decoder_.next(frame)) {
            const Verdict v = consider(frame);
            if (v != Verdict::Other)
                return v == Verdict::Answer;
        }
        // With part of a frame buffered, wait only for the gap that ends a
        // frame; if the rest does not come, the part was damaged or cut short
        // and must not hold back the frames behind it.
        const bool partial = decoder_.buffered() > 0;
        const Deadline wait = partial ? std::min(deadline, deadlineIn(InterFrameGapMs)) : deadline;
        std::vector<uint8_t> bytes;
        if (line_.waitAndRead(bytes, wait) == Failure::PortGone) {
            lose();
            return false;
        }
        if (!bytes.empty()) {
            decoder_.feed(bytes.data(), bytes.size());
            continue;
        }
        while (partial && decoder_.flushNext(frame)) {
            const Verdict v = consider(frame);
            if (v != Verdict::Other)
                return v == Verdict::Answer;
        }
    }

    CtlError e;
    e.kind = Failure::NoAnswer;
    e.address = request.address;
    e.otherAddress = otherAddress;
    e.damaged = decoder_.badChecksums() + decoder_.badLengths() > damagedBefore;
    return fail(e);
}

bool Connection::checkDevice(uint8_t device)
{
    return device == UnitAddress ? fail(Failure::ReservedId, device) : true;
}

bool Connection::checkSlot(uint8_t device, int slot)
{
    if (!checkDevice(device))
        return false;
    return slot < 0 || slot >= MemorySlots ? fail(Failure::NoSuchSlot, device, slot) : true;
}

bool Connection::selectDevice(uint8_t device)
{
    if (!checkDevice(device))
        return false;
    Frame reply;
    return exchange(Frame(device, cmd::Select, 0), reply, deadlineIn(timeoutMs_));
}

bool Connection::position(uint8_t device, int waitMs, Position &position)
{
    if (!checkDevice(device))
        return false;
    // In PC mode the unit may hold its answer until the move ends; allow it at
    // most half the time-out, so its answer still arrives within the call.
    const int wait = std::clamp(waitMs, 0, timeoutMs_ / 2);
    Frame request(device, cmd::GetPosition, 0);
    request.appendU16(static_cast<uint16_t>(wait));
    Frame reply;
    if (!exchange(request, reply, deadlineIn(timeoutMs_)))
        return false;
    return readPosition(reply, position) ? true : fail(Failure::Malformed, device);
}

bool Connection::storeMemory(uint8_t device, int slot, int x, int y, int z)
{
    if (!checkSlot(device, slot))
        return false;
    Frame request(device, cmd::StoreMemory, 0);
    request.appendU8(static_cast<uint8_t>(slot));
    request.appendI32(x);
    request.appendI32(y);
    request.appendI32(z);
    Frame reply;
    return exchange(request, reply, deadlineIn(timeoutMs_));
}

bool Connection::gotoMemory(uint8_t device, int slot)
{
    if (!checkSlot(device, slot))
        return false;
    Frame request(device, cmd::GotoMemory, 0);
    request.appendU8(static_cast<uint8_t>(slot));
    Frame reply;
    return exchange(request, reply, deadlineIn(timeoutMs_));
}

bool Connection::readMemory(uint8_t device, int slot, int &x, int &y, int &z)
{
    if (!checkSlot(device, slot))
        return false;
    Frame request(device, cmd::ReadMemory, 0);
    request.appendU8(static_cast<uint8_t>(slot));
    Frame reply;
    if (!exchange(request, reply, deadlineIn(timeoutMs_)))
        return false;
    uint8_t echoed = 0;
    int32_t px = 0, py = 0, pz = 0;
    if (reply.size() != len::ReadMemoryReply || !reply.readU8(0, echoed) || echoed != slot || !reply.readI32(1, px)
        || !reply.readI32(5, py) || !reply.readI32(9, pz))
        return fail(Failure::Malformed, device);
    x = px;
    y = py;
    z = pz;
    return true;
}
