// The simulator's command surface: its command-line options and the commands
// it reads on standard input, both from one table (options.cpp).
#ifndef KESMARSIM_OPTIONS_H
#define KESMARSIM_OPTIONS_H

#include "faults.h"
#include "unit.h"

#include <string>
#include <vector>

struct Options
{
    Unit::Config unit;
    std::string link; // empty: no link
    bool readStdin = true;
    bool exitOnEof = false;
    Faults faults;
};

// Parses argv. Returns -1 to go on, otherwise the exit status to stop with
// (after --help, --version or an error, which is printed on stderr).
int parseOptions(int argc, char **argv, Options &options);

// The link path used when --link is not given.
std::string defaultLinkPath();

// What a line on standard input asks for. Fault settings are made on `faults`
// by parseCommand itself; the other commands are for the simulator to carry out.
struct Command
{
    enum class Kind
    {
        Invalid, // `error` tells why
        Done, // a fault setting, already made
        Garbage,
        PcMode,
        Move,
        Status,
        Gotos,
        Clear,
        Hangup,
        Reopen,
        Quit,
    };
    Kind kind = Kind::Invalid;
    std::vector<long long> numbers; // garbage: count; move: id, x, y, z
    bool on = false; // pcmode
    std::string error;
};

Command parseCommand(const std::string &line, Faults &faults);

#endif
