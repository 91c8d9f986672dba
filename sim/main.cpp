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

Unit::Config unitConfig(const Options &o)
{
    Unit::Config c;
    c.unitId = o.unitId;
    c.devices = o.devices;
    c.speed = o.speed;
    c.range = o.range;
    c.start = {{o.start[0], o.start[1], o.start[2]}};
    c.reportIntervalMs = o.reportIntervalMs;
    c.pcMode = o.pcMode;
    c.seed = o.seed;
    c.verbose = o.verbose;
    return c;
}

Simulator::Simulator(const Options &options)
    : options_(options)
    , unit_(unitConfig(options), Unit::Clock::now())
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
    std::istringstream in(line);
    std::string word, arg;
    in >> word;
    if (word.empty())
        return Action::Continue;
    std::vector<std::string> args;
    while (in >> arg)
        args.push_back(arg);
    Faults &f = unit_.faults();
    long long v = 0;
    const auto count = [&](int &field, long long max) {
        if (args.size() != 1 || !parseInt(args[0], 0, max, v))
            return false;
        field = static_cast<int>(v);
        return true;
    };
    const auto onOff = [&](bool &field) {
        if (args.size() != 1 || (args[0] != "on" && args[0] != "off"))
            return false;
        field = args[0] == "on";
        return true;
    };
    bool ok = true;
    const auto now = Unit::Clock::now();
    if (word == "drop") {
        ok = count(f.drop, 1000000);
    } else if (word == "delay") {
        ok = count(f.delayMs, 600000);
    } else if (word == "corrupt") {
        ok = count(f.corrupt, 1000000);
    } else if (word == "truncate") {
        ok = count(f.truncate, 1000000);
    } else if (word == "noise") {
        ok = count(f.noise, 4096);
    } else if (word == "wrong-id" || word == "wrongid") {
        ok = count(f.wrongId, 1000000);
    } else if (word == "garbage") {
        int n = 0;
        ok = count(n, 65536);
        if (ok)
            unit_.sendGarbage(static_cast<size_t>(n), now);
    } else if (word == "quiet") {
        ok = onOff(f.quiet);
    } else if (word == "pcmode") {
        bool on = false;
        ok = onOff(on);
        if (ok)
            unit_.setPcMode(on);
    } else if (word == "move") {
        long long id = 0;
        std::array<int32_t, 3> target{};
        ok = args.size() == 4 && parseInt(args[0], 0, 254, id);
        for (size_t i = 0; ok && i < 3; ++i) {
            ok = parseInt(args[i + 1], 0, 0x7fffffff, v);
            target[i] = static_cast<int32_t>(v);
        }
        ok = ok && unit_.startMove(static_cast<uint8_t>(id), target);
    } else if (word == "hangup-next") {
        f.hangupNext = true;
    } else if (word == "clear") {
        f = Faults();
    } else if (word == "status") {
        for (const std::string &s : unit_.status())
            say(s);
    } else if (word == "hangup") {
        say("ok hangup");
        return Action::Hangup;
    } else if (word == "reopen") {
        return Action::Reopen;
    } else if (word == "quit") {
        say("ok quit");
        return Action::Quit;
    } else {
        say("error unknown command: " + word);
        return Action::Continue;
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
            if (dropped > 0 && options_.verbose)
                std::fprintf(stderr, "kesmarsim: nobody reads, %zu bytes dropped\n", dropped);
        }

        const auto wake = unit_.nextWakeup(Unit::Clock::now());
        const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Unit::Clock::now()).count();
        pollfd fds[3] = {{signalPipe[0], POLLIN, 0}, {pty_.masterFd(), POLLIN, 0}, {readStdin_ ? 0 : -1, POLLIN, 0}};
        const int ready = poll(fds, 3, static_cast<int>(std::clamp<long long>(waitMs, 0, 500)));
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

    Simulator simulator(options);
    return simulator.run();
}
