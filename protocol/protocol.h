// Constants of the serial protocol between the host and the control unit.
// docs/protocol.md describes the protocol in full; the values here are the
// single source for every program that speaks it.
#ifndef KESMARPROTO_PROTOCOL_H
#define KESMARPROTO_PROTOCOL_H

#include <cstddef>
#include <cstdint>

namespace kesmarproto {

constexpr uint32_t BaudRate = 115200;
constexpr uint8_t ProtocolVersion = 1;

// Frame layout: start, length, address, command, sequence, payload, CRC (big-endian).
constexpr uint8_t StartByte = 0xA5;
constexpr size_t HeaderSize = 5;
constexpr size_t CrcSize = 2;
constexpr size_t MaxPayload = 32;
constexpr size_t MaxFrameSize = HeaderSize + MaxPayload + CrcSize;

// Address of the control unit itself, whatever its own device id.
constexpr uint8_t UnitAddress = 0xFF;
// Sequence number of frames the unit sends on its own (position reports).
constexpr uint8_t UnsolicitedSequence = 0;
// Set in the command byte of every frame the unit sends.
constexpr uint8_t ReplyFlag = 0x80;

// Number of memory positions per device.
constexpr int MemorySlots = 16;

namespace cmd {
// Host to unit requests; the positive answer carries the same code | ReplyFlag.
constexpr uint8_t Identify = 0x01;
constexpr uint8_t Select = 0x02;
constexpr uint8_t GetPosition = 0x03;
constexpr uint8_t StoreMemory = 0x04;
constexpr uint8_t GotoMemory = 0x05;
constexpr uint8_t ReadMemory = 0x06;
constexpr uint8_t SetPcMode = 0x07;
// Unit to host only.
constexpr uint8_t PositionReport = 0xC0;
constexpr uint8_t Nak = 0xFF;
} // namespace cmd

// Payload sizes of the fixed-size messages.
namespace len {
constexpr size_t IdentifyReply = 4; // unit id, protocol version, flags, device count
constexpr size_t GetPosition = 2; // wait time in ms, u16
constexpr size_t Position = 13; // x, y, z as i32, status
constexpr size_t StoreMemory = 13; // slot, x, y, z
constexpr size_t Slot = 1; // slot
constexpr size_t ReadMemoryReply = 13; // slot, x, y, z
constexpr size_t SetPcMode = 1; // 0 or 1
constexpr size_t Nak = 2; // rejected command, error code
} // namespace len

// Bits of the status byte of position answers and reports.
constexpr uint8_t StatusMoving = 0x01;
// Bits of the flags byte of the identify answer.
constexpr uint8_t FlagPcMode = 0x01;

// Error codes carried by a negative answer.
enum class ErrorCode : uint8_t
{
    UnknownCommand = 0x01,
    BadLength = 0x02,
    NoSuchDevice = 0x03,
    BadSlot = 0x04,
    EmptySlot = 0x05,
    OutOfRange = 0x06,
    BadValue = 0x07,
};

// Human-readable text of an error code; unknown codes give a generic text.
const char *errorText(uint8_t code);
// Name of a command code for diagnostics.
const char *commandName(uint8_t command);

} // namespace kesmarproto

#endif
