#include "options.h"

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>

namespace {

// What a row takes after its name.
enum class Arg
{
    None, // an option without argument; a command without argument
    Number, // one integer within the limits
    Numbers, // `count` integers within the limits (any number when 0): comma separated
             // as an option, separated by spaces as a command
    Text, // any non-empty text
    OnOff, // an option without argument that turns it on; "on" or "off" as a command
};

enum Use : unsigned
{
    AsOption = 1,
    AsCommand = 2,
    AsBoth = 3,
};

struct Values
{
    std::vector<long long> numbers;
    std::string text;
    bool on = true;
};

using Setter = void (*)(Options &, Faults &, const Values &);

struct Row
{
    const char *name; // null: a heading of the help
    Arg arg;
    const char *argName;
    long long min, max;
    int count;
    unsigned use;
    const char *help; // lines after the first start with '\n'
    Setter set; // a setting; null for what the simulator carries out
    Command::Kind kind;
};

constexpr long long Counts = 1000000;
// getopt_long's code of an option: this plus the index of its row, clear of
// the codes it returns for errors.
constexpr int FirstOption = 256;
constexpr long long Coordinate = 0x7fffffff;
constexpr auto Done = Command::Kind::Done;

// The whole command surface. Faults and their limits are the same on the
// command line and on standard input.
const Row rows[] = {
    {nullptr, Arg::None, nullptr, 0, 0, 0, AsOption, "Unit and devices:", nullptr, Done},
    // 0xFF addresses the unit itself and cannot be a device id.
    {"unit-id", Arg::Number, "ID", 0, 254, 1, AsOption,
     "the unit's own device id (default 48, ASCII '0'); the\nunit also drives a manipulator under this id",
     [](Options &o, Faults &, const Values &v) { o.unit.unitId = static_cast<uint8_t>(v.numbers[0]); }, Done},
    {"devices", Arg::Numbers, "LIST", 0, 254, 0, AsOption,
     "further device ids, comma separated (default 49,50,51,\nASCII '1','2','3'); an empty list serves only the unit",
     [](Options &o, Faults &, const Values &v) { o.unit.devices.assign(v.numbers.begin(), v.numbers.end()); }, Done},
    {"speed", Arg::Number, "N", 1, 100000000, 1, AsOption,
     "travel speed of each axis in units per second\n(default 5000: a move across the range takes ~4 s)",
     [](Options &o, Faults &, const Values &v) { o.unit.speed = static_cast<double>(v.numbers[0]); }, Done},
    {"range", Arg::Number, "N", 1, Coordinate, 1, AsOption,
     "travel range: coordinates 0..N are accepted (default 20500)",
     [](Options &o, Faults &, const Values &v) { o.unit.range = static_cast<int32_t>(v.numbers[0]); }, Done},
    {"start", Arg::Numbers, "X,Y,Z", 0, Coordinate, 3, AsOption,
     "initial position of every device (default 10250,10250,10250)",
     [](Options &o, Faults &, const Values &v) {
         for (size_t i = 0; i < 3; ++i)
             o.unit.start[i] = static_cast<int32_t>(v.numbers[i]);
     },
     Done},
    {"report-interval", Arg::Number, "MS", 1, 60000, 1, AsOption,
     "time between position reports while moving (default 40)",
     [](Options &o, Faults &, const Values &v) { o.unit.reportIntervalMs = static_cast<int>(v.numbers[0]); }, Done},
    {"pc-mode", Arg::None, nullptr, 0, 0, 0, AsOption, "start in PC mode: no position reports",
     [](Options &o, Faults &, const Values &) { o.unit.pcMode = true; }, Done},
    {nullptr, Arg::None, nullptr, 0, 0, 0, AsOption, "Terminal:", nullptr, Done},
    {"link", Arg::Text, "PATH", 0, 0, 0, AsOption,
     "symbolic link kept to the terminal (default\n$XDG_RUNTIME_DIR/kesmarsim, or /tmp/kesmarsim-UID); a path\n"
     "that exists must be a symbolic link of one's own",
     [](Options &o, Faults &, const Values &v) { o.link = v.text; }, Done},
    {"no-link", Arg::None, nullptr, 0, 0, 0, AsOption, "keep no link",
     [](Options &o, Faults &, const Values &) { o.link.clear(); }, Done},
    {nullptr, Arg::None, nullptr, 0, 0, 0, AsOption, "Commands on standard input:", nullptr, Done},
    {"no-stdin", Arg::None, nullptr, 0, 0, 0, AsOption, "do not read commands from standard input",
     [](Options &o, Faults &, const Values &) { o.readStdin = false; }, Done},
    {"exit-on-eof", Arg::None, nullptr, 0, 0, 0, AsOption,
     "stop when standard input ends (by default the simulator\nthen just stops reading commands and runs on)",
     [](Options &o, Faults &, const Values &) { o.exitOnEof = true; }, Done},
    {nullptr, Arg::None, nullptr, 0, 0, 0, AsOption, "Faults (also settable at run time, see below):", nullptr, Done},
    {"drop", Arg::Number, "N", 0, Counts, 1, AsBoth, "leave out the next N answers",
     [](Options &, Faults &f, const Values &v) { f.drop = static_cast<int>(v.numbers[0]); }, Done},
    {"delay", Arg::Number, "MS", 0, 600000, 1, AsBoth, "delay every answer by MS milliseconds (0 ends it)",
     [](Options &, Faults &f, const Values &v) { f.delayMs = static_cast<int>(v.numbers[0]); }, Done},
    {"corrupt", Arg::Number, "N", 0, Counts, 1, AsBoth, "flip one bit in each of the next N answers",
     [](Options &, Faults &f, const Values &v) { f.corrupt = static_cast<int>(v.numbers[0]); }, Done},
    {"truncate", Arg::Number, "N", 0, Counts, 1, AsBoth, "send only the first half of each of the next N answers",
     [](Options &, Faults &f, const Values &v) { f.truncate = static_cast<int>(v.numbers[0]); }, Done},
    {"noise", Arg::Number, "N", 0, 4096, 1, AsBoth, "send N random bytes before every answer (0 ends it)",
     [](Options &, Faults &f, const Values &v) { f.noise = static_cast<int>(v.numbers[0]); }, Done},
    {"wrong-id", Arg::Number, "N", 0, Counts, 1, AsBoth, "send the next N answers from another device id",
     [](Options &, Faults &f, const Values &v) { f.wrongId = static_cast<int>(v.numbers[0]); }, Done},
    {"quiet", Arg::OnOff, "on|off", 0, 0, 0, AsBoth, "send nothing at all",
     [](Options &, Faults &f, const Values &v) { f.quiet = v.on; }, Done},
    {"flood", Arg::OnOff, "on|off", 0, 0, 0, AsBoth,
     "send position reports of every device as fast as the\nline takes them, besides the answers",
     [](Options &, Faults &f, const Values &v) { f.flood = v.on; }, Done},
    {nullptr, Arg::None, nullptr, 0, 0, 0, AsOption, "Other:", nullptr, Done},
    {"seed", Arg::Number, "N", 0, 0xffffffffLL, 1, AsOption, "seed of the random bytes (default 1)",
     [](Options &o, Faults &, const Values &v) { o.unit.seed = static_cast<uint32_t>(v.numbers[0]); }, Done},
    {"verbose", Arg::None, nullptr, 0, 0, 0, AsOption, "log every frame on standard error",
     [](Options &o, Faults &, const Values &) { o.unit.verbose = true; }, Done},
    {"help", Arg::None, nullptr, 0, 0, 0, AsOption, "show this help and exit", nullptr, Command::Kind::Invalid},
    {"version", Arg::None, nullptr, 0, 0, 0, AsOption, "show the version and exit", nullptr, Command::Kind::Invalid},
    // Commands on standard input only.
    {"garbage", Arg::Number, "N", 0, 65536, 1, AsCommand, "send N random bytes now", nullptr, Command::Kind::Garbage},
    {"pcmode", Arg::OnOff, "on|off", 0, 0, 0, AsCommand, "switch PC mode", nullptr, Command::Kind::PcMode},
    {"move", Arg::Numbers, "ID X Y Z", 0, Coordinate, 4, AsCommand,
     "start a move of device ID, as from the front panel", nullptr, Command::Kind::Move},
    {"hangup", Arg::None, nullptr, 0, 0, 0, AsCommand, "close the terminal and exit (the client sees a hang-up)",
     nullptr, Command::Kind::Hangup},
    {"hangup-next", Arg::None, nullptr, 0, 0, 0, AsCommand,
     "hang up on receiving the next request instead of answering",
     [](Options &, Faults &f, const Values &) { f.hangupNext = true; }, Done},
    {"reopen", Arg::None, nullptr, 0, 0, 0, AsCommand,
     "close the terminal and open a new one; the answer is\n\"ok reopen PATH\", and the link follows the new terminal",
     nullptr, Command::Kind::Reopen},
    {"status", Arg::None, nullptr, 0, 0, 0, AsCommand, "one line per device: \"device ID X Y Z moving|stopped\"",
     nullptr, Command::Kind::Status},
    {"gotos", Arg::None, nullptr, 0, 0, 0, AsCommand,
     "one line per goto received since the last \"gotos\": \"goto ID X Y Z\"", nullptr, Command::Kind::Gotos},
    {"clear", Arg::None, nullptr, 0, 0, 0, AsCommand, "clear all faults", nullptr, Command::Kind::Clear},
    {"quit", Arg::None, nullptr, 0, 0, 0, AsCommand, "exit normally", nullptr, Command::Kind::Quit},
};

const char intro[] = R"(Usage: kesmarsim [OPTION]...
Simulates a manipulator control unit on a pseudo-terminal. The first line on
standard output is the path of the terminal to open; a symbolic link to it is
kept at the --link path while the simulator runs.

)";

const char numbersNote[] = R"(
IDs and numbers may be decimal or 0x-hexadecimal. Numbers ID are the raw
device ids on the line: the control program's device n is id 48+n.

Commands on standard input, one per line; each is answered on standard output
with "ok <command>" or "error <reason>":
)";

const char signalsNote[] = "SIGINT and SIGTERM stop the simulator; it removes its link on the way out.\n";

// One entry of the help: the name and argument padded to a column, then the
// help text, whose further lines are indented to that column.
void printEntry(std::string head, const char *help)
{
    constexpr size_t Column = 24;
    head = "  " + head;
    head += head.size() < Column ? std::string(Column - head.size(), ' ') : "\n" + std::string(Column, ' ');
    std::fputs(head.c_str(), stdout);
    for (const char *c = help; *c; ++c) {
        std::fputc(*c, stdout);
        if (*c == '\n')
            std::fputs(std::string(Column, ' ').c_str(), stdout);
    }
    std::fputc('\n', stdout);
}

void printUsage()
{
    std::fputs(intro, stdout);
    for (const Row &row : rows) {
        if (!(row.use & AsOption))
            continue;
        if (!row.name) {
            std::printf("%s\n", row.help);
            continue;
        }
        std::string head = std::string("--") + row.name;
        if (row.arg != Arg::None && row.arg != Arg::OnOff)
            head += std::string(" ") + row.argName;
        printEntry(head, row.help);
    }
    std::fputs(numbersNote, stdout);
    std::string faults;
    for (const Row &row : rows) {
        if (row.use == AsBoth)
            faults += (faults.empty() ? "" : " | ") + std::string(row.name) + " " + row.argName;
    }
    printEntry(faults, "set the fault as the option of the same name does");
    for (const Row &row : rows) {
        if (row.use != AsCommand)
            continue;
        printEntry(row.argName ? std::string(row.name) + " " + row.argName : std::string(row.name), row.help);
    }
    std::fputs(signalsNote, stdout);
}

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

// Parses the words of a row's argument into `values`.
bool parseArgument(const Row &row, const std::vector<std::string> &words, Values &values)
{
    switch (row.arg) {
    case Arg::None:
        return words.empty();
    case Arg::Text:
        values.text = words.empty() ? std::string() : words[0];
        return words.size() == 1 && !values.text.empty();
    case Arg::OnOff:
        values.on = words.size() == 1 && words[0] == "on";
        return words.size() == 1 && (words[0] == "on" || words[0] == "off");
    case Arg::Number:
    case Arg::Numbers:
        for (const std::string &word : words) {
            long long v = 0;
            if (!parseInt(word, row.min, row.max, v))
                return false;
            values.numbers.push_back(v);
        }
        return row.count == 0 || values.numbers.size() == static_cast<size_t>(row.count);
    }
    return false;
}

// An option's argument as words: a list is split at its commas.
std::vector<std::string> optionWords(const Row &row, const std::string &arg)
{
    if (row.arg != Arg::Numbers)
        return {arg};
    std::vector<std::string> words;
    if (arg.empty())
        return words;
    std::stringstream stream(arg);
    std::string item;
    while (std::getline(stream, item, ','))
        words.push_back(item);
    if (arg.back() == ',')
        words.emplace_back(); // a trailing comma leaves an empty, invalid item
    return words;
}

} // namespace

std::string defaultLinkPath()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && access(runtime, W_OK) == 0)
        return std::string(runtime) + "/kesmarsim";
    return "/tmp/kesmarsim-" + std::to_string(getuid());
}

int parseOptions(int argc, char **argv, Options &options)
{
    // getopt_long's table, generated from the rows; each option returns the
    // index of its row.
    std::vector<option> longOptions;
    for (const Row &row : rows) {
        if (row.name && (row.use & AsOption)) {
            const bool takesArgument = row.arg != Arg::None && row.arg != Arg::OnOff;
            longOptions.push_back({row.name, takesArgument ? required_argument : no_argument, nullptr,
                                   FirstOption + static_cast<int>(&row - rows)});
        }
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    options.link = defaultLinkPath();
    optind = 1;
    opterr = 1;
    for (;;) {
        const int c = getopt_long(argc, argv, "", longOptions.data(), nullptr);
        if (c == -1)
            break;
        if (c < FirstOption || c >= FirstOption + static_cast<int>(std::size(rows))) {
            std::fputs("Try 'kesmarsim --help'.\n", stderr);
            return 2;
        }
        const Row &row = rows[c - FirstOption];
        if (!row.set) {
            if (std::string(row.name) == "help")
                printUsage();
            else
                std::puts("kesmarsim " KESMARSIM_VERSION);
            return 0;
        }
        const std::string arg = optarg ? optarg : "";
        std::vector<std::string> words;
        if (row.arg == Arg::OnOff)
            words = {"on"};
        else if (row.arg != Arg::None)
            words = optionWords(row, arg);
        Values values;
        if (!parseArgument(row, words, values)) {
            std::fprintf(stderr, "kesmarsim: invalid value '%s' for option %s\n", arg.c_str(), argv[optind - 1]);
            return 2;
        }
        row.set(options, options.faults, values);
    }
    if (optind < argc) {
        std::fprintf(stderr, "kesmarsim: unexpected argument '%s'\nTry 'kesmarsim --help'.\n", argv[optind]);
        return 2;
    }
    for (int32_t coordinate : options.unit.start) {
        if (coordinate > options.unit.range) {
            std::fputs("kesmarsim: --start lies outside --range\n", stderr);
            return 2;
        }
    }
    return -1;
}

Command parseCommand(const std::string &line, Faults &faults)
{
    std::istringstream in(line);
    std::string name, word;
    in >> name;
    std::vector<std::string> words;
    while (in >> word)
        words.push_back(word);
    Command command;
    for (const Row &row : rows) {
        if (!row.name || !(row.use & AsCommand) || name != row.name)
            continue;
        Values values;
        if (!parseArgument(row, words, values)) {
            command.error = "invalid arguments: " + line;
            return command;
        }
        if (row.set) {
            Options unused;
            row.set(unused, faults, values);
        }
        command.kind = row.kind;
        command.numbers = values.numbers;
        command.on = values.on;
        return command;
    }
    command.error = "unknown command: " + name;
    return command;
}
