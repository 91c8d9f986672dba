// One protocol frame, its encoding and the CRC used to protect it.
#ifndef KESMARPROTO_FRAME_H
#define KESMARPROTO_FRAME_H

#include "protocol.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kesmarproto {

// CRC-16/CCITT-FALSE: polynomial 0x1021, initial value 0xFFFF, no reflection, no final xor.
uint16_t crc16(const uint8_t *data, size_t size, uint16_t crc = 0xFFFF);

class Frame
{
public:
    Frame() = default;
    Frame(uint8_t address, uint8_t command, uint8_t sequence);

    uint8_t address = 0;
    uint8_t command = 0;
    uint8_t sequence = 0;

    size_t size() const { return length_; }
    const uint8_t *payload() const { return payload_.data(); }
    bool isReply() const { return (command & ReplyFlag) != 0; }

    // Appending beyond MaxPayload bytes is refused and returns false.
    bool append(const uint8_t *data, size_t size);
    bool appendU8(uint8_t value);
    bool appendU16(uint16_t value);
    bool appendI32(int32_t value);

    // Big-endian readers at a payload offset; false when the payload is too short.
    bool readU8(size_t offset, uint8_t &value) const;
    bool readU16(size_t offset, uint16_t &value) const;
    bool readI32(size_t offset, int32_t &value) const;

    // The frame as sent on the line: start byte, header, payload, CRC.
    std::vector<uint8_t> encode() const;

    bool operator==(const Frame &other) const;

private:
    std::array<uint8_t, MaxPayload> payload_{};
    size_t length_ = 0;
};

// Helpers for the messages with a fixed layout.
struct Position
{
    int32_t x = 0;
    int32_t y = 0;
    int32_t z = 0;
    uint8_t status = 0;
};

Frame makeNak(uint8_t address, uint8_t sequence, uint8_t rejectedCommand, ErrorCode code);
Frame makePositionFrame(uint8_t address, uint8_t command, uint8_t sequence, const Position &position);
bool readPosition(const Frame &frame, Position &position);

} // namespace kesmarproto

#endif
