#include "unit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace kesmarproto;

namespace {
constexpr std::chrono::milliseconds InterFrameGap(20);
}

Unit::Unit(const Config &config, Clock::time_point now)
    : config_(config)
    , pcMode_(config.pcMode)
    , lastReceive_(now)
    , lastTick_(now)
    , lastReport_(now)
    , random_(config.seed)
{
    std::vector<uint8_t> ids{config.unitId};
    for (uint8_t id : config.devices) {
        if (std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
    }
    for (uint8_t id : ids) {
        Device d;
        d.id = id;
        for (int axis = 0; axis < 3; ++axis) {
            d.position[axis] = config.start[axis];
            d.target[axis] = config.start[axis];
        }
        devices_.push_back(d);
    }
}

Unit::Device *Unit::find(uint8_t id)
{
    for (Device &d : devices_) {
        if (d.id == id)
            return &d;
    }
    return nullptr;
}

Position Unit::positionOf(const Device &device) const
{
    Position p;
    p.x = static_cast<int32_t>(std::lround(device.position[0]));
    p.y = static_cast<int32_t>(std::lround(device.position[1]));
    p.z = static_cast<int32_t>(std::lround(device.position[2]));
    p.status = device.moving ? StatusMoving : 0;
    return p;
}

void Unit::receive(const uint8_t *data, size_t size, Clock::time_point now)
{
    lastReceive_ = now;
    decoder_.feed(data, size);
    Frame frame;
    while (decoder_.next(frame)) {
        log("<-", frame);
        handle(frame, now);
    }
}

void Unit::handle(const Frame &request, Clock::time_point now)
{
    if (request.isReply())
        return; // the unit's own kind of frame echoed back: not a request
    if (faults_.hangupNext) {
        hangupRequested_ = true;
        return;
    }
    const uint8_t address = request.address;
    const uint8_t seq = request.sequence;
    const uint8_t command = request.command;
    const Frame ack(address, static_cast<uint8_t>(command | ReplyFlag), seq);

    if (command == cmd::Identify) {
        if (address != UnitAddress && address != config_.unitId)
            return answer(makeNak(address, seq, command, ErrorCode::NoSuchDevice), now);
        if (request.size() != 0)
            return answer(makeNak(address, seq, command, ErrorCode::BadLength), now);
        Frame reply = ack;
        reply.appendU8(config_.unitId);
        reply.appendU8(ProtocolVersion);
        reply.appendU8(pcMode_ ? FlagPcMode : 0);
        reply.appendU8(static_cast<uint8_t>(devices_.size()));
        return answer(reply, now);
    }
    if (command == cmd::SetPcMode) {
        uint8_t on = 0;
        if (request.size() != len::SetPcMode || !request.readU8(0, on))
            return answer(makeNak(address, seq, command, ErrorCode::BadLength), now);
        if (on > 1)
            return answer(makeNak(address, seq, command, ErrorCode::BadValue), now);
        pcMode_ = on != 0;
        return answer(ack, now);
    }

    const bool known = command == cmd::Select || command == cmd::GetPosition || command == cmd::StoreMemory
        || command == cmd::GotoMemory || command == cmd::ReadMemory;
    if (!known)
        return answer(makeNak(address, seq, command, ErrorCode::UnknownCommand), now);
    Device *device = find(address);
    if (!device)
        return answer(makeNak(address, seq, command, ErrorCode::NoSuchDevice), now);

    switch (command) {
    case cmd::Select:
        if (request.size() != 0)
            return answer(makeNak(address, seq, command, ErrorCode::BadLength), now);
        return answer(ack, now);
    case cmd::GetPosition: {
        uint16_t wait = 0;
        if (request.size() != len::GetPosition || !request.readU16(0, wait))
            return answer(makeNak(address, seq, command, ErrorCode::BadLength), now);
        if (pcMode_ && wait > 0 && device->moving) {
            held_.push_back({address, seq, now + std::chrono::milliseconds(wait)});
            return;
        }
        return answer(makePositionFrame(address, ack.command, seq, positionOf(*device)), now);
    }
    case cmd::StoreMemory: {
        uint8_t slot = 0;
        std::array<int32_t, 3> p{};
        if (request.size() != len::StoreMemory || !request.readU8(0, slot) || !request.readI32(1, p[0])
            || !request.readI32(5, p[1]) || !request.readI32(9, p[2]))
            return answer(makeNak(address, seq, command, ErrorCode::BadLength), now);
        if (slot >= MemorySlots)
            return answer(makeNak(address, seq, command, ErrorCode::BadSlot), now);
        if (!inRange(p[0]) || !inRange(p[1]) || !inRange(p[2]))
            return answer(makeNak(address, seq, command, ErrorCode::OutOfRange), now);
        device->memory[slot] = p;
        return answer(ack, now);
    }
    case cmd::GotoMemory:
    case cmd::ReadMemory: {
        uint8_t slot = 0;
        if (request.size() != len::Slot || !request.readU8(0, slot))
            return answer(makeNak(address, seq, command, ErrorCode::BadLength), now);
        if (slot >= MemorySlots)
            return answer(makeNak(address, seq, command, ErrorCode::BadSlot), now);
        const auto &stored = device->memory[slot];
        if (!stored)
            return answer(makeNak(address, seq, command, ErrorCode::EmptySlot), now);
        if (command == cmd::GotoMemory) {
            if (startMove(address, *stored))
                gotos_.push_back("goto " + std::to_string(address) + " " + std::to_string((*stored)[0]) + " "
                                 + std::to_string((*stored)[1]) + " " + std::to_string((*stored)[2]));
            return answer(ack, now);
        }
        Frame reply = ack;
        reply.appendU8(slot);
        reply.appendI32((*stored)[0]);
        reply.appendI32((*stored)[1]);
        reply.appendI32((*stored)[2]);
        return answer(reply, now);
    }
    }
}

bool Unit::startMove(uint8_t id, const std::array<int32_t, 3> &target)
{
    Device *device = find(id);
    if (!device || !inRange(target[0]) || !inRange(target[1]) || !inRange(target[2]))
        return false;
    device->target = target;
    device->moving = true;
    return true;
}

void Unit::answer(const Frame &replyIn, Clock::time_point now)
{
    if (faults_.quiet)
        return;
    if (faults_.drop > 0) {
        --faults_.drop;
        return;
    }
    Frame reply = replyIn;
    if (faults_.wrongId > 0) {
        --faults_.wrongId;
        // The neighbouring id: what a unit answering in another's place would send.
        reply.address = static_cast<uint8_t>(reply.address ^ 0x01);
    }
    log("->", reply);
    std::vector<uint8_t> bytes = reply.encode();
    if (faults_.corrupt > 0) {
        --faults_.corrupt;
        // Flip one bit past the start byte, anywhere in header, payload or CRC.
        std::uniform_int_distribution<size_t> where(1, bytes.size() - 1);
        std::uniform_int_distribution<int> bit(0, 7);
        bytes[where(random_)] ^= static_cast<uint8_t>(1u << bit(random_));
    }
    if (faults_.truncate > 0) {
        --faults_.truncate;
        bytes.resize(bytes.size() / 2);
    }
    if (faults_.noise > 0) {
        std::vector<uint8_t> noisy = randomBytes(static_cast<size_t>(faults_.noise));
        noisy.insert(noisy.end(), bytes.begin(), bytes.end());
        bytes.swap(noisy);
    }
    queue(std::move(bytes), now + std::chrono::milliseconds(faults_.delayMs));
}

void Unit::report(const Device &device, Clock::time_point now)
{
    if (faults_.quiet)
        return;
    const Frame frame = makePositionFrame(device.id, cmd::PositionReport, UnsolicitedSequence, positionOf(device));
    log("->", frame);
    queue(frame.encode(), now);
}

void Unit::queue(std::vector<uint8_t> bytes, Clock::time_point due)
{
    // Keep the line in order: nothing overtakes an answer that is held back.
    if (!output_.empty() && output_.back().due > due)
        due = output_.back().due;
    output_.push_back({due, std::move(bytes)});
}

std::vector<uint8_t> Unit::randomBytes(size_t count)
{
    std::vector<uint8_t> bytes(count);
    std::uniform_int_distribution<int> byte(0, 255);
    for (uint8_t &b : bytes)
        b = static_cast<uint8_t>(byte(random_));
    return bytes;
}

void Unit::sendGarbage(size_t count, Clock::time_point now)
{
    queue(randomBytes(count), now);
}

std::vector<uint8_t> Unit::floodReports(size_t size) const
{
    std::vector<uint8_t> bytes;
    while (!faults_.quiet && bytes.size() < size) {
        for (const Device &d : devices_) {
            const std::vector<uint8_t> frame
                = makePositionFrame(d.id, cmd::PositionReport, UnsolicitedSequence, positionOf(d)).encode();
            bytes.insert(bytes.end(), frame.begin(), frame.end());
        }
    }
    return bytes;
}

void Unit::tick(Clock::time_point now)
{
    // A frame cut short is given up after a silent gap, so it cannot hold
    // back the requests behind it.
    if (decoder_.buffered() > 0 && now - lastReceive_ >= InterFrameGap) {
        Frame frame;
        while (decoder_.flushNext(frame)) {
            log("<-", frame);
            handle(frame, now);
        }
    }
    const double dt = std::chrono::duration<double>(now - lastTick_).count();
    lastTick_ = now;
    const double step = config_.speed * std::max(dt, 0.0);
    bool anyMoving = false;
    for (Device &d : devices_) {
        if (!d.moving)
            continue;
        bool arrived = true;
        for (int axis = 0; axis < 3; ++axis) {
            const double target = d.target[axis];
            const double delta = target - d.position[axis];
            if (std::fabs(delta) <= step)
                d.position[axis] = target;
            else
                d.position[axis] += delta > 0 ? step : -step;
            arrived = arrived && d.position[axis] == target;
        }
        if (arrived) {
            d.moving = false;
            if (!pcMode_)
                report(d, now); // the final position, so the host sees where the move ended
        } else {
            anyMoving = true;
        }
    }
    if (!pcMode_ && anyMoving && now - lastReport_ >= std::chrono::milliseconds(config_.reportIntervalMs)) {
        lastReport_ = now;
        for (const Device &d : devices_) {
            if (d.moving)
                report(d, now);
        }
    }
    // Position queries held in PC mode are answered once the move ends or their wait is over.
    for (auto it = held_.begin(); it != held_.end();) {
        const Device *d = find(it->address);
        if (!d || !d->moving || now >= it->deadline) {
            if (d) {
                const auto command = static_cast<uint8_t>(cmd::GetPosition | ReplyFlag);
                answer(makePositionFrame(it->address, command, it->sequence, positionOf(*d)), now);
            }
            it = held_.erase(it);
        } else {
            ++it;
        }
    }
}

std::vector<uint8_t> Unit::takeOutput(Clock::time_point now)
{
    std::vector<uint8_t> bytes;
    while (!output_.empty() && output_.front().due <= now) {
        bytes.insert(bytes.end(), output_.front().bytes.begin(), output_.front().bytes.end());
        output_.pop_front();
    }
    return bytes;
}

void Unit::dropOutput()
{
    output_.clear();
    held_.clear();
}

Unit::Clock::time_point Unit::nextWakeup(Clock::time_point now) const
{
    // Motion is stepped every 10 ms; an idle unit only waits for queued output.
    Clock::time_point wake = now + std::chrono::milliseconds(500);
    const bool moving = std::any_of(devices_.begin(), devices_.end(), [](const Device &d) { return d.moving; });
    if (moving || !held_.empty())
        wake = now + std::chrono::milliseconds(10);
    if (decoder_.buffered() > 0)
        wake = std::min(wake, lastReceive_ + InterFrameGap);
    if (!output_.empty())
        wake = std::min(wake, output_.front().due);
    return wake;
}

std::vector<std::string> Unit::status() const
{
    std::vector<std::string> lines;
    for (const Device &d : devices_) {
        const Position p = positionOf(d);
        lines.push_back("device " + std::to_string(d.id) + " " + std::to_string(p.x) + " " + std::to_string(p.y) + " "
                        + std::to_string(p.z) + (d.moving ? " moving" : " stopped"));
    }
    return lines;
}

std::vector<std::string> Unit::takeGotos()
{
    std::vector<std::string> taken;
    taken.swap(gotos_);
    return taken;
}

void Unit::log(const char *direction, const Frame &frame) const
{
    if (!config_.verbose)
        return;
    std::fprintf(stderr, "kesmarsim: %s addr=%u cmd=0x%02x (%s) seq=%u len=%zu\n", direction, frame.address,
                 frame.command, commandName(frame.command), frame.sequence, frame.size());
}
