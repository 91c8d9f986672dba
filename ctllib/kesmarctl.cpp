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

constexpr uint32_t RecordMagic = 0x524d534bu; // "KSMR"

// What the caller holds: the public record first, so the unit id sits at offset 4.
struct Record
{
    kesmarctl_connection pub;
    Connection *connection;
};
static_assert(std::is_standard_layout_v<Record>, "the record must be pointer-interconvertible with its first member");
static_assert(offsetof(Record, pub) == 0, "the public record comes first");
static_assert(offsetof(kesmarctl_connection, id) == 4, "callers read the unit id at byte offset 4");

std::mutex liveMutex;
std::unordered_set<const kesmarctl_connection *> live;

thread_local std::string noHandleError = "no error";

Connection *lookup(kesmarctl_connection *handle, const char *function)
{
    if (!handle) {
        noHandleError = std::string(function) + ": no connection (null handle)";
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(liveMutex);
    if (!live.count(handle)) {
        noHandleError = std::string(function) + ": not an open connection (closed or invalid handle)";
        return nullptr;
    }
    return reinterpret_cast<Record *>(handle)->connection;
}

// Runs `body` on the connection, turning any escaping exception into a failure.
template <typename Body> int guarded(kesmarctl_connection *handle, const char *function, Body body)
{
    Connection *c = lookup(handle, function);
    if (!c)
        return -1;
    try {
        return body(*c);
    } catch (const std::bad_alloc &) {
        c->setError(std::string(function) + ": out of memory");
    } catch (...) {
        c->setError(std::string(function) + ": internal error");
    }
    return -1;
}

bool outputsValid(Connection &c, const int *x, const int *y, const int *z)
{
    if (x && y && z)
        return true;
    c.setError("no place given for the coordinates (null pointer)");
    return false;
}

} // namespace

extern "C" {

KESMARCTL_API kesmarctl_connection *kesmarctl_open(const char *port, int timeout)
{
    if (!port || !*port) {
        noHandleError = "kesmarctl_open: no port name given";
        return nullptr;
    }
    if (std::strlen(port) > 4096) {
        noHandleError = "kesmarctl_open: port name too long";
        return nullptr;
    }
    Record *record = nullptr;
    try {
        auto connection = std::make_unique<Connection>();
        if (!connection->open(QString::fromLatin1(port), timeout)) {
            noHandleError = connection->error();
            return nullptr;
        }
        record = new Record{{RecordMagic, connection->unitId()}, connection.get()};
        std::lock_guard<std::mutex> lock(liveMutex);
        live.insert(&record->pub);
        connection.release();
    } catch (const std::bad_alloc &) {
        delete record;
        noHandleError = "kesmarctl_open: out of memory";
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
            noHandleError = "kesmarctl_close: not an open connection (closed or invalid handle)";
            return -1;
        }
    }
    Record *record = reinterpret_cast<Record *>(handle);
    delete record->connection;
    record->pub.reserved = 0;
    delete record;
    return 0;
}

KESMARCTL_API int kesmarctl_select_dev(kesmarctl_connection *handle, uint8_t dev)
{
    return guarded(handle, "kesmarctl_select_dev", [&](Connection &c) { return c.selectDevice(dev) ? 0 : -1; });
}

KESMARCTL_API int kesmarctl_recv(kesmarctl_connection *handle)
{
    return guarded(handle, "kesmarctl_recv", [&](Connection &c) { return c.takeIn(); });
}

KESMARCTL_API int kesmarctl_get_position_ext(kesmarctl_connection *handle, uint8_t dev, int time, int *x, int *y,
                                             int *z)
{
    return guarded(handle, "kesmarctl_get_position_ext", [&](Connection &c) {
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
    return guarded(handle, "kesmarctl_store_mem_position_ext",
                   [&](Connection &c) { return c.storeMemory(dev, pos, x, y, z) ? 0 : -1; });
}

KESMARCTL_API int kesmarctl_goto_mem_position_ext(kesmarctl_connection *handle, uint8_t dev, int pos)
{
    return guarded(handle, "kesmarctl_goto_mem_position_ext",
                   [&](Connection &c) { return c.gotoMemory(dev, pos) ? 0 : -1; });
}

KESMARCTL_API int kesmarctl_get_mem_position_ext(kesmarctl_connection *handle, uint8_t dev, int *x, int *y, int *z,
                                                 int pos)
{
    return guarded(handle, "kesmarctl_get_mem_position_ext", [&](Connection &c) {
        if (!outputsValid(c, x, y, z))
            return -1;
        return c.readMemory(dev, pos, *x, *y, *z) ? 0 : -1;
    });
}

KESMARCTL_API const char *kesmarctl_last_errorstr(kesmarctl_connection *handle)
{
    if (!handle)
        return noHandleError.c_str();
    std::lock_guard<std::mutex> lock(liveMutex);
    if (!live.count(handle)) {
        noHandleError = "not an open connection (closed or invalid handle)";
        return noHandleError.c_str();
    }
    return reinterpret_cast<Record *>(handle)->connection->error().c_str();
}
}
