/*
 * C interface of the manipulator control library.
 *
 * The program links a shared library named libkesmarctl.so and calls only the
 * nine functions below, so the maker's library can stand in for the open one
 * shipped with this project.
 *
 * Results are int: a negative result is a failure, and kesmarctl_last_errorstr()
 * then tells why. kesmarctl_open() returns a null handle on failure; the reason
 * is then available from kesmarctl_last_errorstr(NULL). The texts are short
 * and meant for the operator, e.g. "not connected", "no answer from device 1
 * within 100 ms", "/dev/ttyUSB0 went away; reconnect". Device id 48+n is
 * named "device n" (n = 0..99), 255 "the control unit", the unit's own id
 * outside that range "the unit's own manipulator", any other id "device id N".
 *
 * Threads: kesmarctl_open may be called from any thread. A handle belongs to
 * the thread that opened it: every call on it, kesmarctl_close and
 * kesmarctl_last_errorstr(handle) included, comes from that thread. Handles
 * opened on different threads may be used at the same time. The calls wait
 * on the port themselves, so no event loop is needed; between calls one
 * thread of the library, started with the first connection, reads every open
 * port into a small bounded buffer (4096 bytes, the oldest dropped first).
 * Failures without a handle (a failed open, a null or closed handle) are
 * kept per thread: kesmarctl_last_errorstr(NULL) tells the calling thread's
 * last one.
 *
 * The library needs only the C and C++ runtimes. Setting the environment
 * variable KESMARCTL_DEBUG=1 writes every frame sent and received in hex to
 * standard error, one line each starting with "kesmarctl: ".
 */
#ifndef LIBKESMARCTL_H
#define LIBKESMARCTL_H

#include <stddef.h>
#include <stdint.h>

/* The version of this interface and of the open library that implements it. */
#define KESMARCTL_VERSION_MAJOR 1
#define KESMARCTL_VERSION_MINOR 0
#define KESMARCTL_VERSION_PATCH 0
/* One number to compare, e.g. #if KESMARCTL_VERSION >= KESMARCTL_MAKE_VERSION(1, 0, 0) */
#define KESMARCTL_MAKE_VERSION(major, minor, patch) ((major)*10000 + (minor)*100 + (patch))
#define KESMARCTL_VERSION                                                                                              \
    KESMARCTL_MAKE_VERSION(KESMARCTL_VERSION_MAJOR, KESMARCTL_VERSION_MINOR, KESMARCTL_VERSION_PATCH)

/* The open library is built with hidden visibility; only these are exported. */
#define KESMARCTL_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The connection record. Callers may read only `id`, the connection's own
 * device id (the record's fifth byte, offset 4), which the library learns from
 * the control unit when the port is opened. The library allocates the record
 * and may keep further private state behind these fields.
 */
typedef struct kesmarctl_connection
{
    uint32_t reserved; /* library-private */
    uint8_t id; /* the control unit's own device id */
} kesmarctl_connection;

/* Opens the serial port `port` (NUL-terminated Latin-1). `timeout` is in
 * milliseconds. Returns a new handle, or NULL on failure. */
KESMARCTL_API kesmarctl_connection *kesmarctl_open(const char *port, int timeout);

/* Ends the connection and frees the handle. A NULL handle is ignored. */
KESMARCTL_API int kesmarctl_close(kesmarctl_connection *handle);

/* Selects the device with id `dev` on the connection. */
KESMARCTL_API int kesmarctl_select_dev(kesmarctl_connection *handle, uint8_t dev);

/* Takes in what has arrived on the line without waiting. Returns how many
 * messages were taken in (0 when nothing was pending). */
KESMARCTL_API int kesmarctl_recv(kesmarctl_connection *handle);

/* Reads the current position of device `dev` into *x, *y, *z. `time` is 0,
 * or in PC mode the time in milliseconds the caller can spend waiting. */
KESMARCTL_API int kesmarctl_get_position_ext(kesmarctl_connection *handle, uint8_t dev, int time, int *x, int *y,
                                             int *z);

/* Stores x, y, z in memory position `pos` of device `dev`. */
KESMARCTL_API int kesmarctl_store_mem_position_ext(kesmarctl_connection *handle, uint8_t dev, int x, int y, int z,
                                                   int pos);

/* Sends device `dev` to memory position `pos`. */
KESMARCTL_API int kesmarctl_goto_mem_position_ext(kesmarctl_connection *handle, uint8_t dev, int pos);

/* Reads memory position `pos` of device `dev` into *x, *y, *z. Fails when
 * nothing has been stored there yet. */
KESMARCTL_API int kesmarctl_get_mem_position_ext(kesmarctl_connection *handle, uint8_t dev, int *x, int *y, int *z,
                                                 int pos);

/* NUL-terminated UTF-8 text of the last failure on `handle`, or of the last
 * failed open when `handle` is NULL. Valid until the next call on the handle. */
KESMARCTL_API const char *kesmarctl_last_errorstr(kesmarctl_connection *handle);

#ifdef __cplusplus
}
#endif

#endif /* LIBKESMARCTL_H */
