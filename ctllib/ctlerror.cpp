#include "ctlerror.h"

#include "protocol.h"

std::string deviceName(int address, uint8_t unitId)
{
    constexpr int FirstDevice = '0';
    constexpr int Devices = 100;
    if (address == kesmarproto::UnitAddress)
        return "the control unit";
    if (address >= FirstDevice && address < FirstDevice + Devices)
        return "device " + std::to_string(address - FirstDevice);
    if (address == unitId)
        return "the unit's own manipulator";
    return "device id " + std::to_string(address);
}

std::string errorText(const CtlError &e)
{
    const std::string device = deviceName(e.address, e.unitId);
    const std::string within = " within " + std::to_string(e.timeoutMs) + " ms";
    switch (e.kind) {
    case Failure::None:
        return "no error";
    case Failure::NotConnected:
        return "not connected";
    case Failure::NoPortName:
        return "no port name given";
    case Failure::PortNameTooLong:
        return "port name too long";
    case Failure::NoSuchPort:
        return "no such port";
    case Failure::IsDirectory:
        return "a folder, not a serial port";
    case Failure::NotAPort:
        return "not a serial port";
    case Failure::PortInUse:
        return "already in use";
    case Failure::AccessDenied:
        return "access denied";
    case Failure::CannotOpen:
        // The caller names the port and says that it could not open it.
        return e.reason.empty() ? "refused by the system" : e.reason;
    case Failure::NoUnit:
        return "no control unit answers" + within;
    case Failure::BadIdentification:
        return "the unit sent a malformed identification";
    case Failure::WrongProtocol:
        return "the unit speaks protocol version " + std::to_string(e.number) + ", not "
            + std::to_string(kesmarproto::ProtocolVersion);
    case Failure::NoAnswer:
        if (e.otherAddress >= 0)
            return "no answer from " + device + within + " (" + deviceName(e.otherAddress, e.unitId)
                + " answered instead)";
        return "no answer from " + device + within + (e.damaged ? " (damaged data received)" : "");
    case Failure::Refused:
        return device + " refused: " + kesmarproto::errorText(static_cast<uint8_t>(e.number));
    case Failure::Malformed:
        return device + " sent a malformed answer";
    case Failure::ReservedId:
        return "id 255 is reserved for the control unit";
    case Failure::NoSuchSlot:
        return "memory position " + std::to_string(e.number) + " does not exist (0.."
            + std::to_string(kesmarproto::MemorySlots - 1) + ")";
    case Failure::NoOutputs:
        return "no place given for the coordinates";
    case Failure::PortGone:
        return e.port + " went away; reconnect";
    case Failure::CannotSend:
        return "cannot send to " + e.port + ": " + e.reason;
    case Failure::SendTimeout:
        return e.port + " does not take data in time";
    case Failure::OutOfMemory:
        return "out of memory";
    case Failure::Internal:
        return "internal error";
    }
    return "unknown error";
}
