// kesmarsim: a simulated manipulator control unit on a pseudo-terminal, for
// trying the control program and testing the control library without hardware.
#include "options.h"
#include "pty.h"
#include "unit.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

int signalPipe[2] = {-1, -1};

// Bytes of reports written per turn of the main loop while flooding.
constexpr size_t FloodChunk = 65536;

void onSignal(int)
{
    const char c = 's';
    const ssize_t ignored = write(signalPipe[1], &c, 1);
    (void)ignored;
}

// Points the link at `target`, replacing an older link atomically. Refuses to
// replace anything that is not a symbolic link.
bool updateLink(const std::string &link, const std::string &target)
{
    struct stat st
    { };
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        std::fprintf(stderr, "kesmarsim: %s exists and is not a symbolic link; not replacing it\n", link.c_str());
        return false;
    }
    const std::string temp = link + ".new" + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "kesmarsim: cannot create link %s: %s\n", link.c_str(), std::strerror(errno));
        unlink(temp.c_str());
        return false;
    }
    return true;
}

// Why the link path may not be used, or "" when it may: a path that exists
// must be a symbolic link of this user's own. Another user's link (say a
// planted /tmp/kesmarsim-UID) is never followed nor replaced, so a panel set
// to that path cannot end up at someone else's terminal.
std::string linkRefusal(const std::string &link)
{
    struct stat st
    { };
    if (lstat(link.c_str(), &st) != 0)
        return errno == ENOENT ? std::string() : link + ": " + std::strerror(errno);
    if (st.st_uid != geteuid())
        return link + " belongs to another user (uid " + std::to_string(st.st_uid) + "); not using it";
    if (!S_ISLNK(st.st_mode))
        return link + " exists and is not a symbolic link; not replacing it";
    return {};
}

// Removes the link only while it still points at our terminal, so a second
// simulator that took the link over keeps it.
void removeLink(const std::string &link, const std::string &target)
{
    char buffer[4096];
    const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (n < 0)
        return;
    buffer[n] = '\0';
    if (target == buffer)
        unlink(link.c_str());
}

void say(const std::string &line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class Simulator
{
public:
    explicit Simulator(const Options &options);
    int run();

private:
    enum class Action
    {
        Continue,
        Quit,
        Hangup,
        Reopen
    };
    Action command(const std::string &line);
    bool openPty();

    Options options_;
    Pty pty_;
    Unit unit_;
    std::string stdinBuffer_;
    bool readStdin_;
};

Simulator::Simulator(const Options &options)
    : options_(options)
    , unit_(options.unit, Unit::Clock::now())
    , readStdin_(options.readStdin)
{
    unit_.faults() = options.faults;
}

bool Simulator::openPty()
{
    std::string error;
    if (!pty_.open(error)) {
        std::fprintf(stderr, "kesmarsim: %s\n", error.c_str());
        return false;
    }
    if (!options_.link.empty())
        updateLink(options_.link, pty_.slavePath());
    return true;
}

Simulator::Action Simulator::command(const std::string &line)
{
    if (line.find_first_not_of(" \t") == std::string::npos)
        return Action::Continue;
    const Command c = parseCommand(line, unit_.faults());
    bool ok = true;
    switch (c.kind) {
    case Command::Kind::Invalid:
        say("error " + c.error);
        return Action::Continue;
    case Command::Kind::Done:
        break;
    case Command::Kind::Garbage:
        unit_.sendGarbage(static_cast<size_t>(c.numbers[0]), Unit::Clock::now());
        break;
    case Command::Kind::PcMode:
        unit_.setPcMode(c.on);
        break;
    case Command::Kind::Move: {
        const std::array<int32_t, 3> target{{static_cast<int32_t>(c.numbers[1]), static_cast<int32_t>(c.numbers[2]),
                                             static_cast<int32_t>(c.numbers[3])}};
        ok = c.numbers[0] < kesmarproto::UnitAddress && unit_.startMove(static_cast<uint8_t>(c.numbers[0]), target);
        break;
    }
    case Command::Kind::Status:
        for (const std::string &s : unit_.status())
            say(s);
        break;
    case Command::Kind::Gotos:
        for (const std::string &s : unit_.takeGotos())
            say(s);
        break;
    case Command::Kind::Clear:
        unit_.faults() = Faults();
        break;
    case Command::Kind::Hangup:
        say("ok hangup");
        return Action::Hangup;
    case Command::Kind::Reopen:
        return Action::Reopen;
    case Command::Kind::Quit:
        say("ok quit");
        return Action::Quit;
    }
    say(ok ? "ok " + line : "error invalid arguments: " + line);
    return Action::Continue;
}

int Simulator::run()
{
    if (!openPty())
        return 1;
    say(pty_.slavePath());

    int status = 0;
    bool running = true;
    while (running) {
        const auto now = Unit::Clock::now();
        unit_.tick(now);
        const std::vector<uint8_t> out = unit_.takeOutput(now);
        if (!out.empty()) {
            const size_t dropped = pty_.write(out.data(), out.size());
            if (dropped > 0 && options_.unit.verbose)
                std::fprintf(stderr, "kesmarsim: nobody reads, %zu bytes dropped\n", dropped);
        }
        // The flood comes after the answers, so they still get through.
        const bool flooding = unit_.faults().flood;
        if (flooding) {
            const std::vector<uint8_t> flood = unit_.floodReports(FloodChunk);
            pty_.write(flood.data(), flood.size());
        }

        const auto wake = unit_.nextWakeup(Unit::Clock::now());
        const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Unit::Clock::now()).count();
        pollfd fds[3] = {{signalPipe[0], POLLIN, 0}, {pty_.masterFd(), POLLIN, 0}, {readStdin_ ? 0 : -1, POLLIN, 0}};
        // A flood goes on at once: the terminal's full buffer paces it.
        const int ready = poll(fds, 3, flooding ? 0 : static_cast<int>(std::clamp<long long>(waitMs, 0, 500)));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::perror("kesmarsim: poll");
            status = 1;
            break;
        }
        if (fds[0].revents)
            break; // SIGINT or SIGTERM
        if (fds[1].revents & POLLIN) {
            uint8_t buffer[4096];
            const ssize_t n = read(pty_.masterFd(), buffer, sizeof buffer);
            if (n > 0)
                unit_.receive(buffer, static_cast<size_t>(n), Unit::Clock::now());
        }
        if (unit_.hangupRequested())
            break;
        if (fds[2].revents) {
            char buffer[1024];
            const ssize_t n = read(0, buffer, sizeof buffer);
            if (n <= 0) {
                readStdin_ = false;
                if (options_.exitOnEof)
                    break;
                continue;
            }
            stdinBuffer_.append(buffer, static_cast<size_t>(n));
            size_t eol;
            while (running && (eol = stdinBuffer_.find('\n')) != std::string::npos) {
                std::string line = stdinBuffer_.substr(0, eol);
                stdinBuffer_.erase(0, eol + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                switch (command(line)) {
                case Action::Continue:
                    break;
                case Action::Quit:
                case Action::Hangup:
                    running = false;
                    break;
                case Action::Reopen: {
                    unit_.dropOutput();
                    if (!openPty()) {
                        status = 1;
                        running = false;
                        break;
                    }
                    say("ok reopen " + pty_.slavePath());
                    break;
                }
                }
            }
        }
    }
    if (!options_.link.empty())
        removeLink(options_.link, pty_.slavePath());
    pty_.close();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    const int status = parseOptions(argc, argv, options);
    if (status >= 0)
        return status;

    if (pipe(signalPipe) != 0) {
        std::perror("kesmarsim: pipe");
        return 1;
    }
    fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction sa
    { };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (!options.link.empty()) {
        const std::string refusal = linkRefusal(options.link);
        if (!refusal.empty()) {
            std::fprintf(stderr, "kesmarsim: %s\nChoose another path with --link PATH, or --no-link.\n",
                         refusal.c_str());
            return 2;
        }
    }
    Simulator simulator(options);
    return simulator.run();
}
