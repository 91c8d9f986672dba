#include "frame.h"

#include <algorithm>
#include <cstring>

namespace kesmarproto {

uint16_t crc16(const uint8_t *data, size_t size, uint16_t crc)
{
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

Frame::Frame(uint8_t address, uint8_t command, uint8_t sequence)
    : address(address)
    , command(command)
    , sequence(sequence)
{ }

bool Frame::append(const uint8_t *data, size_t size)
{
    if (size > MaxPayload - length_)
        return false;
    if (size > 0)
        std::memcpy(payload_.data() + length_, data, size);
    length_ += size;
    return true;
}

bool Frame::appendU8(uint8_t value)
{
    return append(&value, 1);
}

bool Frame::appendU16(uint16_t value)
{
    const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return append(bytes, sizeof bytes);
}

bool Frame::appendI32(int32_t value)
{
    const auto u = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16),
                              static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u)};
    return append(bytes, sizeof bytes);
}

bool Frame::readU8(size_t offset, uint8_t &value) const
{
    if (offset >= length_)
        return false;
    value = payload_[offset];
    return true;
}

bool Frame::readU16(size_t offset, uint16_t &value) const
{
    if (offset > length_ || length_ - offset < 2)
        return false;
    value = static_cast<uint16_t>((payload_[offset] << 8) | payload_[offset + 1]);
    return true;
}

bool Frame::readI32(size_t offset, int32_t &value) const
{
    if (offset > length_ || length_ - offset < 4)
        return false;
    const uint32_t u = (uint32_t(payload_[offset]) << 24) | (uint32_t(payload_[offset + 1]) << 16)
        | (uint32_t(payload_[offset + 2]) << 8) | uint32_t(payload_[offset + 3]);
    value = static_cast<int32_t>(u);
    return true;
}

std::vector<uint8_t> Frame::encode() const
{
    std::vector<uint8_t> out;
    out.reserve(HeaderSize + length_ + CrcSize);
    out.push_back(StartByte);
    out.push_back(static_cast<uint8_t>(length_));
    out.push_back(address);
    out.push_back(command);
    out.push_back(sequence);
    out.insert(out.end(), payload_.begin(), payload_.begin() + static_cast<std::ptrdiff_t>(length_));
    // The CRC covers everything after the start byte.
    const uint16_t crc = crc16(out.data() + 1, out.size() - 1);
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc));
    return out;
}

bool Frame::operator==(const Frame &other) const
{
    return address == other.address && command == other.command && sequence == other.sequence
        && length_ == other.length_ && std::equal(payload_.begin(), payload_.begin() + length_, other.payload_.begin());
}

Frame makeNak(uint8_t address, uint8_t sequence, uint8_t rejectedCommand, ErrorCode code)
{
    Frame f(address, cmd::Nak, sequence);
    f.appendU8(rejectedCommand);
    f.appendU8(static_cast<uint8_t>(code));
    return f;
}

Frame makePositionFrame(uint8_t address, uint8_t command, uint8_t sequence, const Position &position)
{
    Frame f(address, command, sequence);
    f.appendI32(position.x);
    f.appendI32(position.y);
    f.appendI32(position.z);
    f.appendU8(position.status);
    return f;
}

bool readPosition(const Frame &frame, Position &position)
{
    if (frame.size() != len::Position)
        return false;
    return frame.readI32(0, position.x) && frame.readI32(4, position.y) && frame.readI32(8, position.z)
        && frame.readU8(12, position.status);
}

const char *errorText(uint8_t code)
{
    switch (static_cast<ErrorCode>(code)) {
    case ErrorCode::UnknownCommand:
        return "unknown command";
    case ErrorCode::BadLength:
        return "wrong payload length";
    case ErrorCode::NoSuchDevice:
        return "no such device";
    case ErrorCode::BadSlot:
        return "memory position number out of range";
    case ErrorCode::EmptySlot:
        return "nothing stored in this memory position";
    case ErrorCode::OutOfRange:
        return "coordinate out of the travel range";
    case ErrorCode::BadValue:
        return "invalid value";
    }
    return "unknown error";
}

const char *commandName(uint8_t command)
{
    switch (command & ~ReplyFlag) {
    case cmd::Identify:
        return "identify";
    case cmd::Select:
        return "select";
    case cmd::GetPosition:
        return "position query";
    case cmd::StoreMemory:
        return "store memory position";
    case cmd::GotoMemory:
        return "go to memory position";
    case cmd::ReadMemory:
        return "read memory position";
    case cmd::SetPcMode:
        return "set PC mode";
    case cmd::PositionReport & ~ReplyFlag:
        return "position report";
    case cmd::Nak & ~ReplyFlag:
        return "negative answer";
    }
    return "unknown command";
}

} // namespace kesmarproto
