// Placeholder control library: every call fails cleanly until the serial
// implementation is in place.
#include "libkesmarctl.h"

namespace {
const char notReady[] = "control library not implemented yet";
}

extern "C" {

kesmarctl_connection *kesmarctl_open(const char *, int) { return nullptr; }
int kesmarctl_close(kesmarctl_connection *) { return 0; }
int kesmarctl_select_dev(kesmarctl_connection *, uint8_t) { return -1; }
int kesmarctl_recv(kesmarctl_connection *) { return -1; }
int kesmarctl_get_position_ext(kesmarctl_connection *, uint8_t, int, int *, int *, int *) { return -1; }
int kesmarctl_store_mem_position_ext(kesmarctl_connection *, uint8_t, int, int, int, int) { return -1; }
int kesmarctl_goto_mem_position_ext(kesmarctl_connection *, uint8_t, int) { return -1; }
int kesmarctl_get_mem_position_ext(kesmarctl_connection *, uint8_t, int *, int *, int *, int) { return -1; }
const char *kesmarctl_last_errorstr(kesmarctl_connection *) { return notReady; }
}
