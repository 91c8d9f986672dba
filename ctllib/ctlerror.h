// How the library fails: a kind the code branches on, plus the details the
// operator's text needs. errorText() is the one place that words them.
#ifndef KESMARCTL_CTLERROR_H
#define KESMARCTL_CTLERROR_H

#include <cstdint>
#include <string>

enum class Failure
{
    None,
    NotConnected, // a null, closed or unknown handle
    NoPortName,
    PortNameTooLong,
    NoSuchPort,
    IsDirectory,
    NotAPort,
    PortInUse,
    AccessDenied,
    CannotOpen, // any other refusal of the system; `reason` says which
    NoUnit, // the port opened, but no unit identified itself in time
    BadIdentification,
    WrongProtocol, // `number` is the unit's protocol version
    NoAnswer,
    Refused, // `number` is the unit's error code
    Malformed,
    ReservedId,
    NoSuchSlot, // `number` is the slot asked for
    NoOutputs,
    PortGone,
    CannotSend,
    SendTimeout,
    OutOfMemory,
    Internal,
};

struct CtlError
{
    Failure kind = Failure::None;
    std::string port;
    std::string reason; // the system's own words, where it gave any
    int timeoutMs = 0;
    int address = -1; // the device id the failure concerns
    int otherAddress = -1; // NoAnswer: an answer came from this id instead
    bool damaged = false; // NoAnswer: damaged data came meanwhile
    long long number = 0;
    uint8_t unitId = 0; // the unit's own id, to name its manipulator
};

// A device as the operator knows it: id 48+n is device n (0..99), 0xFF the
// control unit; another id is the unit's own manipulator when it is the unit's
// id, otherwise it is named by its raw value.
std::string deviceName(int address, uint8_t unitId);

// The operator's text of a failure: short, without the library's internals.
std::string errorText(const CtlError &error);

#endif
