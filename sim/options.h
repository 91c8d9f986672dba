// Command-line options of the simulator.
#ifndef KESMARSIM_OPTIONS_H
#define KESMARSIM_OPTIONS_H

#include "faults.h"

#include <cstdint>
#include <string>
#include <vector>

struct Options
{
    uint8_t unitId = 0x30; // '0'
    std::vector<uint8_t> devices{0x31, 0x32, 0x33};
    double speed = 5000.0; // units per second on each axis
    int32_t range = 20500; // coordinates 0..range are accepted
    int32_t start[3] = {10250, 10250, 10250};
    int reportIntervalMs = 100;
    bool pcMode = false;
    std::string link; // empty: no link
    bool readStdin = true;
    bool exitOnEof = false;
    uint32_t seed = 1;
    bool verbose = false;
    Faults faults;
};

// Parses argv. Returns -1 to go on, otherwise the exit status to stop with
// (after --help, --version or an error, which is printed on stderr).
int parseOptions(int argc, char **argv, Options &options);

// The link path used when --link is not given.
std::string defaultLinkPath();

// Parses an integer in decimal or 0x-hex within [min, max].
bool parseInt(const std::string &text, long long min, long long max, long long &value);

#endif
