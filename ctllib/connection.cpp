#include "connection.h"

#include <algorithm>
#include <cstdio>

using namespace kesmarproto;

namespace {

std::string number(long long v)
{
    return std::to_string(v);
}

} // namespace

int Connection::effectiveTimeout(int timeoutMs)
{
    if (timeoutMs <= 0)
        return DefaultTimeoutMs;
    return std::clamp(timeoutMs, MinTimeoutMs, MaxTimeoutMs);
}

std::string Connection::describe(uint8_t address) const
{
    if (address == UnitAddress)
        return "the control unit";
    std::string text = "device " + number(address);
    if (address >= 0x21 && address < 0x7f)
        text += std::string(" ('") + static_cast<char>(address) + "')";
    return text;
}

bool Connection::open(const QString &port, int timeoutMs)
{
    // The whole open, port included, stays within the time-out.
    timeoutMs_ = effectiveTimeout(timeoutMs);
    const QDeadlineTimer deadline(timeoutMs_);
    portName_ = port.toStdString();
    if (!line_.open(port, error_))
        return false;
    open_ = true;

    Frame reply;
    if (!exchange(Frame(UnitAddress, cmd::Identify, 0), reply, deadline)) {
        if (!lost_ && error_.rfind("no answer", 0) == 0)
            error_ = "no control unit answers on " + portName_ + " within " + number(timeoutMs_) + " ms";
        close();
        return false;
    }
    uint8_t id = 0, version = 0, flags = 0;
    if (reply.size() < len::IdentifyReply || !reply.readU8(0, id) || !reply.readU8(1, version)
        || !reply.readU8(2, flags) || id == UnitAddress) {
        error_ = "the unit on " + portName_ + " sent a malformed identification";
        close();
        return false;
    }
    if (version != ProtocolVersion) {
        error_ = "the unit on " + portName_ + " speaks protocol version " + number(version) + ", not "
            + number(ProtocolVersion);
        close();
        return false;
    }
    unitId_ = id;
    return true;
}

void Connection::close()
{
    line_.close();
    open_ = false;
}

void Connection::lose(const std::string &why)
{
    lost_ = true;
    error_ = "connection to " + portName_ + " lost: " + why + "; close it and open it again";
    line_.close();
}

int Connection::takeFrames(bool flush)
{
    int count = 0;
    Frame frame;
    while (flush ? decoder_.flushNext(frame) : decoder_.next(frame)) {
        ++count;
        if (frame.command == cmd::PositionReport) {
            Position p;
            if (readPosition(frame, p))
                reported_[frame.address] = p;
        }
        // Anything else here answers a request whose time ran out: stale.
    }
    return count;
}

int Connection::takeIn()
{
    if (lost_ || !open_) {
        if (!lost_)
            error_ = "the connection is closed";
        return -1;
    }
    std::vector<uint8_t> bytes;
    std::string why;
    const SerialLine::Read r = line_.readAvailable(bytes, why);
    if (r == SerialLine::Read::Lost) {
        lose(why);
        return -1;
    }
    decoder_.feed(bytes.data(), bytes.size());
    return takeFrames(false);
}

bool Connection::exchange(Frame request, Frame &reply, const QDeadlineTimer &deadline)
{
    if (lost_)
        return false; // error_ still tells how it was lost
    if (!open_) {
        error_ = "the connection is closed";
        return false;
    }
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

    std::string why;
    bool lost = false;
    if (!line_.write(request.encode(), deadline, why, lost)) {
        if (lost)
            lose(why);
        else
            error_ = why;
        return false;
    }

    // What one decoded frame means for this exchange.
    enum class Verdict
    {
        Other,
        Answer,
        Refused
    };
    int otherAddress = -1;
    const auto consider = [&](const Frame &frame) {
        if (frame.command == cmd::PositionReport) {
            Position p;
            if (readPosition(frame, p))
                reported_[frame.address] = p;
            return Verdict::Other;
        }
        uint8_t rejected = 0;
        const bool nak = frame.command == cmd::Nak && frame.readU8(0, rejected) && rejected == request.command;
        if (frame.sequence != request.sequence || (frame.command != expected && !nak))
            return Verdict::Other; // a late answer to an earlier request
        if (frame.address != request.address) {
            otherAddress = frame.address;
            return Verdict::Other;
        }
        if (nak) {
            uint8_t code = 0;
            frame.readU8(1, code);
            error_
                = describe(request.address) + " refused the " + commandName(request.command) + ": " + errorText(code);
            return Verdict::Refused;
        }
        reply = frame;
        return Verdict::Answer;
    };

    for (;;) {
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
        QDeadlineTimer wait = deadline;
        if (partial)
            wait = std::min(deadline, QDeadlineTimer(InterFrameGapMs));
        std::vector<uint8_t> bytes;
        const SerialLine::Read r = line_.waitAndRead(bytes, wait, why);
        if (r == SerialLine::Read::Lost) {
            lose(why);
            return false;
        }
        if (r == SerialLine::Read::Data) {
            decoder_.feed(bytes.data(), bytes.size());
            continue;
        }
        if (partial) {
            while (decoder_.flushNext(frame)) {
                const Verdict v = consider(frame);
                if (v != Verdict::Other)
                    return v == Verdict::Answer;
            }
            continue;
        }
        if (deadline.hasExpired())
            break;
    }

    error_ = "no answer from " + describe(request.address) + " to the " + commandName(request.command) + " within "
        + number(timeoutMs_) + " ms";
    if (otherAddress >= 0)
        error_ += " (an answer came from " + describe(static_cast<uint8_t>(otherAddress)) + " instead)";
    else if (decoder_.badChecksums() + decoder_.badLengths() > damagedBefore)
        error_ += " (damaged data was received)";
    return false;
}

bool Connection::checkDevice(uint8_t device)
{
    if (device == UnitAddress) {
        error_ = "device id 255 is reserved for the control unit itself";
        return false;
    }
    return true;
}

bool Connection::checkSlot(int slot)
{
    if (slot < 0 || slot >= MemorySlots) {
        error_ = "memory position " + number(slot) + " does not exist (0.." + number(MemorySlots - 1) + ")";
        return false;
    }
    return true;
}

bool Connection::selectDevice(uint8_t device)
{
    if (!checkDevice(device))
        return false;
    Frame reply;
    return exchange(Frame(device, cmd::Select, 0), reply, QDeadlineTimer(timeoutMs_));
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
    if (!exchange(request, reply, QDeadlineTimer(timeoutMs_)))
        return false;
    if (!readPosition(reply, position)) {
        error_ = describe(device) + " sent a malformed position";
        return false;
    }
    return true;
}

bool Connection::storeMemory(uint8_t device, int slot, int x, int y, int z)
{
    if (!checkDevice(device) || !checkSlot(slot))
        return false;
    Frame request(device, cmd::StoreMemory, 0);
    request.appendU8(static_cast<uint8_t>(slot));
    request.appendI32(x);
    request.appendI32(y);
    request.appendI32(z);
    Frame reply;
    return exchange(request, reply, QDeadlineTimer(timeoutMs_));
}

bool Connection::gotoMemory(uint8_t device, int slot)
{
    if (!checkDevice(device) || !checkSlot(slot))
        return false;
    Frame request(device, cmd::GotoMemory, 0);
    request.appendU8(static_cast<uint8_t>(slot));
    Frame reply;
    return exchange(request, reply, QDeadlineTimer(timeoutMs_));
}

bool Connection::readMemory(uint8_t device, int slot, int &x, int &y, int &z)
{
    if (!checkDevice(device) || !checkSlot(slot))
        return false;
    Frame request(device, cmd::ReadMemory, 0);
    request.appendU8(static_cast<uint8_t>(slot));
    Frame reply;
    if (!exchange(request, reply, QDeadlineTimer(timeoutMs_)))
        return false;
    uint8_t echoed = 0;
    int32_t px = 0, py = 0, pz = 0;
    if (reply.size() != len::ReadMemoryReply || !reply.readU8(0, echoed) || echoed != slot || !reply.readI32(1, px)
        || !reply.readI32(5, py) || !reply.readI32(9, pz)) {
        error_ = describe(device) + " sent a malformed memory position";
        return false;
    }
    x = px;
    y = py;
    z = pz;
    return true;
}
