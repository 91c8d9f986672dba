// The C interface of the control library over Connection.
//
// Every entry point checks its handle against the set of open connections, so
// a null, closed or foreign handle fails cleanly instead of crashing, and no
// exception crosses the C boundary. Failures without a connection to record
// them on (a failed open, a bad handle) are kept per thread and read with
// kesmarctl_last_errorstr(NULL).
#include "libkesmarctl.h"

#include "connection.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <unordered_set>

namespace {

// What the caller holds: the public record first, so the unit id sits at offset 4.
struct Record
{
    kesmarctl_connection pub;
    Connection *connection;
};
static_assert(std::is_standard_layout_v<Record>, "the record must be pointer-interconvertible with its first member");
static_assert(offsetof(Record, pub) == 0, "the public record comes first");
static_assert(offsetof(kesmarctl_connection, id) == 4, "callers read the unit id at byte offset 4");

constexpr size_t MaxPortName = 4096;

std::mutex liveMutex;
std::unordered_set<const kesmarctl_connection *> live;

thread_local std::string noHandleError = errorText(CtlError());

void failWithoutHandle(Failure kind)
{
    CtlError e;
    e.kind = kind;
    noHandleError = errorText(e);
}

Connection *lookup(kesmarctl_connection *handle)
{
    {
        std::lock_guard<std::mutex> lock(liveMutex);
        if (handle && live.count(handle))
            return reinterpret_cast<Record *>(handle)->connection;
    }
    failWithoutHandle(Failure::NotConnected);
    return nullptr;
}

// Runs `body` on the connection, turning any escaping exception into a failure.
template <typename Body> int guarded(kesmarctl_connection *handle, Body body)
{
    Connection *c = lookup(handle);
    if (!c)
        return -1;
    try {
        return body(*c);
    } catch (const std::bad_alloc &) {
        c->fail(Failure::OutOfMemory);
    } catch (...) {
        c->fail(Failure::Internal);
    }
    return -1;
}

// Port names come in Latin-1; the system's paths and the error texts are UTF-8.
std::string latin1ToUtf8(const char *text)
{
    std::string out;
    for (; *text; ++text) {
        const auto c = static_cast<unsigned char>(*text);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool outputsValid(Connection &c, const int *x, const int *y, const int *z)
{
    return (x && y && z) || c.fail(Failure::NoOutputs);
}

} // namespace

extern "C" {

KESMARCTL_API kesmarctl_connection *kesmarctl_open(const char *port, int timeout)
{
    if (!port || !*port) {
        failWithoutHandle(Failure::NoPortName);
        return nullptr;
    }
    if (std::strlen(port) > MaxPortName) {
        failWithoutHandle(Failure::PortNameTooLong);
        return nullptr;
    }
    Record *record = nullptr;
    try {
        auto connection = std::make_unique<Connection>();
        if (!connection->open(latin1ToUtf8(port), timeout)) {
            noHandleError = connection->errorText();
            return nullptr;
        }
        record = new Record{{0, connection->unitId()}, connection.get()};
        std::lock_guard<std::mutex> lock(liveMutex);
        live.insert(&record->pub);
        connection.release();
    } catch (const std::bad_alloc &) {
        delete record;
        failWithoutHandle(Failure::OutOfMemory);
        return nullptr;
    }
    return &record->pub;
}

KESMARCTL_API int kesmarctl_close(kesmarctl_connection *handle)
{
    if (!handle)
        return 0;
    {
        std::lock_guard<std::mutex> lock(liveMutex);
        if (!live.erase(handle)) {
            failWithoutHandle(Failure::NotConnected);
            return -1;
        }
    }
    Record *record = reinterpret_cast<Record *>(handle);
    delete record->connection;
    delete record;
    return 0;
}

KESMARCTL_API int kesmarctl_select_dev(kesmarctl_connection *handle, uint8_t dev)
{
    return guarded(handle, [&](Connection &c) { return c.selectDevice(dev) ? 0 : -1; });
}

KESMARCTL_API int kesmarctl_recv(kesmarctl_connection *handle)
{
    return guarded(handle, [&](Connection &c) { return c.takeIn(); });
}

KESMARCTL_API int kesmarctl_get_position_ext(kesmarctl_connection *handle, uint8_t dev, int time, int *x, int *y,
                                             int *z)
{
    return guarded(handle, [&](Connection &c) {
        if (!outputsValid(c, x, y, z))
            return -1;
        kesmarproto::Position p;
        if (!c.position(dev, time, p))
            return -1;
        *x = p.x;
        *y = p.y;
        *z = p.z;
        return 0;
    });
}

KESMARCTL_API int kesmarctl_store_mem_position_ext(kesmarctl_connection *handle, uint8_t dev, int x, int y, int z,
                                                   int pos)
{
    return guarded(handle, [&](Connection &c) { return c.storeMemory(dev, pos, x, y, z) ? 0 : -1; });
}

KESMARCTL_API int kesmarctl_goto_mem_position_ext(kesmarctl_connection *handle, uint8_t dev, int pos)
{
    return guarded(handle, [&](Connection &c) { return c.gotoMemory(dev, pos) ? 0 : -1; });
}

KESMARCTL_API int kesmarctl_get_mem_position_ext(kesmarctl_connection *handle, uint8_t dev, int *x, int *y, int *z,
                                                 int pos)
{
    return guarded(handle, [&](Connection &c) {
        if (!outputsValid(c, x, y, z))
            return -1;
        return c.readMemory(dev, pos, *x, *y, *z) ? 0 : -1;
    });
}

KESMARCTL_API const char *kesmarctl_last_errorstr(kesmarctl_connection *handle)
{
    if (handle) {
        std::lock_guard<std::mutex> lock(liveMutex);
        if (live.count(handle))
            return reinterpret_cast<Record *>(handle)->connection->errorText().c_str();
    }
    if (handle)
        failWithoutHandle(Failure::NotConnected);
    return noHandleError.c_str();
}
}
