#include "options.h"

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

const char usage[] = R"(Usage: kesmarsim [OPTION]...
Simulates a manipulator control unit on a pseudo-terminal. The first line on
standard output is the path of the terminal to open; a symbolic link to it is
kept at the --link path while the simulator runs.

Unit and devices:
  --unit-id ID          the unit's own device id (default 48, ASCII '0'); the
                        unit also drives a manipulator under this id
  --devices LIST        further device ids, comma separated (default 49,50,51,
                        ASCII '1','2','3'); an empty list serves only the unit
  --speed N             travel speed of each axis in units per second
                        (default 5000: a move across the range takes ~4 s)
  --range N             travel range: coordinates 0..N are accepted (default 20500)
  --start X,Y,Z         initial position of every device (default 10250,10250,10250)
  --report-interval MS  time between position reports while moving (default 100)
  --pc-mode             start in PC mode: no position reports
Terminal:
  --link PATH           symbolic link kept to the terminal (default
                        $XDG_RUNTIME_DIR/kesmarsim, or /tmp/kesmarsim-UID)
  --no-link             keep no link
Commands on standard input:
  --no-stdin            do not read commands from standard input
  --exit-on-eof         stop when standard input ends (by default the simulator
                        then just stops reading commands and runs on)
Faults (also settable at run time, see below):
  --drop N              leave out the next N answers
  --delay MS            delay every answer by MS milliseconds
  --corrupt N           flip one bit in each of the next N answers
  --truncate N          send only the first half of each of the next N answers
  --noise N             send N random bytes before every answer
  --wrong-id N          send the next N answers from another device id
  --quiet               send nothing at all
Other:
  --seed N              seed of the random bytes (default 1)
  --verbose             log every frame on standard error
  --help                show this help and exit
  --version             show the version and exit

IDs and numbers may be decimal or 0x-hexadecimal. Numbers ID are the raw
device ids on the line: the control program's device n is id 48+n.

Commands on standard input, one per line; each is answered on standard output
with "ok <command>" or "error <reason>":
  drop N | delay MS | corrupt N | truncate N | noise N | wrong-id N
                        set the fault as the option of the same name does
  garbage N             send N random bytes now
  quiet on|off          stop or resume sending anything
  pcmode on|off         switch PC mode
  move ID X Y Z         start a move of device ID, as from the front panel
  hangup                close the terminal and exit (the client sees a hang-up)
  hangup-next           hang up on receiving the next request instead of answering
  reopen                close the terminal and open a new one; the answer is
                        "ok reopen PATH", and the link follows the new terminal
  status                one line per device: "device ID X Y Z moving|stopped"
  clear                 clear all faults
  quit                  exit normally
SIGINT and SIGTERM stop the simulator; it removes its link on the way out.
)";

bool parseList(const std::string &text, long long min, long long max, std::vector<long long> &values)
{
    values.clear();
    if (text.empty())
        return true;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        long long v;
        if (!parseInt(item, min, max, v))
            return false;
        values.push_back(v);
    }
    return !text.empty() && text.back() != ',';
}

enum OptionId
{
    OptUnitId = 256,
    OptDevices,
    OptSpeed,
    OptRange,
    OptStart,
    OptReportInterval,
    OptPcMode,
    OptLink,
    OptNoLink,
    OptNoStdin,
    OptExitOnEof,
    OptDrop,
    OptDelay,
    OptCorrupt,
    OptTruncate,
    OptNoise,
    OptWrongId,
    OptQuiet,
    OptSeed,
    OptVerbose,
    OptHelp,
    OptVersion,
};

} // namespace

bool parseInt(const std::string &text, long long min, long long max, long long &value)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < min || v > max)
        return false;
    value = v;
    return true;
}

std::string defaultLinkPath()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && access(runtime, W_OK) == 0)
        return std::string(runtime) + "/kesmarsim";
    return "/tmp/kesmarsim-" + std::to_string(getuid());
}

int parseOptions(int argc, char **argv, Options &options)
{
    static const option longOptions[] = {
        {"unit-id", required_argument, nullptr, OptUnitId},
        {"devices", required_argument, nullptr, OptDevices},
        {"speed", required_argument, nullptr, OptSpeed},
        {"range", required_argument, nullptr, OptRange},
        {"start", required_argument, nullptr, OptStart},
        {"report-interval", required_argument, nullptr, OptReportInterval},
        {"pc-mode", no_argument, nullptr, OptPcMode},
        {"link", required_argument, nullptr, OptLink},
        {"no-link", no_argument, nullptr, OptNoLink},
        {"no-stdin", no_argument, nullptr, OptNoStdin},
        {"exit-on-eof", no_argument, nullptr, OptExitOnEof},
        {"drop", required_argument, nullptr, OptDrop},
        {"delay", required_argument, nullptr, OptDelay},
        {"corrupt", required_argument, nullptr, OptCorrupt},
        {"truncate", required_argument, nullptr, OptTruncate},
        {"noise", required_argument, nullptr, OptNoise},
        {"wrong-id", required_argument, nullptr, OptWrongId},
        {"quiet", no_argument, nullptr, OptQuiet},
        {"seed", required_argument, nullptr, OptSeed},
        {"verbose", no_argument, nullptr, OptVerbose},
        {"help", no_argument, nullptr, OptHelp},
        {"version", no_argument, nullptr, OptVersion},
        {nullptr, 0, nullptr, 0},
    };
    options.link = defaultLinkPath();
    optind = 1;
    for (;;) {
        const int c = getopt_long(argc, argv, "", longOptions, nullptr);
        if (c == -1)
            break;
        const std::string arg = optarg ? optarg : "";
        long long v = 0;
        std::vector<long long> list;
        bool ok = true;
        switch (c) {
        case OptUnitId:
            // 0xFF addresses the unit itself and cannot be a device id.
            ok = parseInt(arg, 0, 254, v);
            options.unitId = static_cast<uint8_t>(v);
            break;
        case OptDevices:
            ok = parseList(arg, 0, 254, list);
            options.devices.assign(list.begin(), list.end());
            break;
        case OptSpeed:
            ok = parseInt(arg, 1, 100000000, v);
            options.speed = static_cast<double>(v);
            break;
        case OptRange:
            ok = parseInt(arg, 1, 0x7fffffff, v);
            options.range = static_cast<int32_t>(v);
            break;
        case OptStart:
            ok = parseList(arg, 0, 0x7fffffff, list) && list.size() == 3;
            for (size_t i = 0; ok && i < 3; ++i)
                options.start[i] = static_cast<int32_t>(list[i]);
            break;
        case OptReportInterval:
            ok = parseInt(arg, 1, 60000, v);
            options.reportIntervalMs = static_cast<int>(v);
            break;
        case OptPcMode:
            options.pcMode = true;
            break;
        case OptLink:
            ok = !arg.empty();
            options.link = arg;
            break;
        case OptNoLink:
            options.link.clear();
            break;
        case OptNoStdin:
            options.readStdin = false;
            break;
        case OptExitOnEof:
            options.exitOnEof = true;
            break;
        case OptDrop:
            ok = parseInt(arg, 0, 1000000, v);
            options.faults.drop = static_cast<int>(v);
            break;
        case OptDelay:
            ok = parseInt(arg, 0, 600000, v);
            options.faults.delayMs = static_cast<int>(v);
            break;
        case OptCorrupt:
            ok = parseInt(arg, 0, 1000000, v);
            options.faults.corrupt = static_cast<int>(v);
            break;
        case OptTruncate:
            ok = parseInt(arg, 0, 1000000, v);
            options.faults.truncate = static_cast<int>(v);
            break;
        case OptNoise:
            ok = parseInt(arg, 0, 4096, v);
            options.faults.noise = static_cast<int>(v);
            break;
        case OptWrongId:
            ok = parseInt(arg, 0, 1000000, v);
            options.faults.wrongId = static_cast<int>(v);
            break;
        case OptQuiet:
            options.faults.quiet = true;
            break;
        case OptSeed:
            ok = parseInt(arg, 0, 0xffffffffLL, v);
            options.seed = static_cast<uint32_t>(v);
            break;
        case OptVerbose:
            options.verbose = true;
            break;
        case OptHelp:
            std::fputs(usage, stdout);
            return 0;
        case OptVersion:
            std::puts("kesmarsim 1.0");
            return 0;
        default:
            std::fputs("Try 'kesmarsim --help'.\n", stderr);
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "kesmarsim: invalid value '%s' for option %s\n", arg.c_str(), argv[optind - 1]);
            return 2;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "kesmarsim: unexpected argument '%s'\nTry 'kesmarsim --help'.\n", argv[optind]);
        return 2;
    }
    for (int i = 0; i < 3; ++i) {
        if (options.start[i] > options.range) {
            std::fputs("kesmarsim: --start lies outside --range\n", stderr);
            return 2;
        }
    }
    return -1;
}
