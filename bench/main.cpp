// kesmarbench: measures what the operator feels of the program (start-up, the
// GUI thread's time in the library, idle cost, many named positions) and
// prints each figure next to a floor measured in the same run. It prints
// figures only; nothing here passes or fails. scripts/bench.sh builds and runs it.
#include "benchutil.h"
#include "exchange.h"
#include "scale.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace bench;

namespace {

struct Options
{
    int startupRuns = 21;
    int openRuns = 50;
    int rounds = 20;
    int iterations = 100;
    int idleRuns = 3;
    int idleSeconds = 10;
    int scaleReps = 7;
    int scaleOps = 20;
    std::vector<int> sizes{10, 1000, 10000};
    bool callgrind = true;
};

// --- table -----------------------------------------------------------------

struct Row
{
    std::string what;
    std::string figure;
    std::string floor;
    std::string ratio;
    std::string goal;
};

std::vector<std::pair<std::string, std::vector<Row>>> sections;

void section(const std::string &title)
{
    sections.push_back({title, {}});
    std::fprintf(stderr, "kesmarbench: %s\n", title.c_str());
}

void row(const std::string &what, const std::string &figure, const std::string &floor, const std::string &ratio,
         const std::string &goal = {})
{
    sections.back().second.push_back({what, figure, floor, ratio, goal});
}

std::string fmt(const char *format, double v)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, v);
    return buffer;
}

// A duration in µs, in the unit that reads best.
std::string duration(double us)
{
    if (us >= 10000)
        return fmt("%.1f ms", us / 1000);
    if (us >= 1000)
        return fmt("%.2f ms", us / 1000);
    return fmt("%.1f us", us);
}

std::string ratioText(double figure, double floor)
{
    if (floor <= 0)
        return "-";
    return fmt("%.2fx", figure / floor);
}

// "met" or "missed" against an upper bound on the ratio.
std::string goalText(double figure, double floor, double bound)
{
    if (floor <= 0)
        return fmt("<= %.1fx", bound);
    return fmt("<= %.1fx ", bound) + (figure / floor <= bound ? "met" : "missed");
}

void printTable()
{
    size_t w[5] = {7, 6, 5, 5, 4};
    for (const auto &[title, rows] : sections) {
        for (const Row &r : rows) {
            w[0] = std::max(w[0], r.what.size());
            w[1] = std::max(w[1], r.figure.size());
            w[2] = std::max(w[2], r.floor.size());
            w[3] = std::max(w[3], r.ratio.size());
            w[4] = std::max(w[4], r.goal.size());
        }
    }
    const auto line = [&](const Row &r) {
        std::printf("  %-*s  %*s  %*s  %*s  %s\n", int(w[0]), r.what.c_str(), int(w[1]), r.figure.c_str(), int(w[2]),
                    r.floor.c_str(), int(w[3]), r.ratio.c_str(), r.goal.c_str());
    };
    for (const auto &[title, rows] : sections) {
        std::printf("\n%s\n", title.c_str());
        line({"measure", "figure", "floor", "ratio", "goal"});
        for (const Row &r : rows)
            line(r);
    }
    std::fflush(stdout);
}

// --- environment -------------------------------------------------------------

std::string selfPath()
{
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return "kesmarbench";
    return std::string(buffer, static_cast<size_t>(n));
}

std::string machineText()
{
    std::string cpu = "unknown CPU";
    std::ifstream info("/proc/cpuinfo");
    std::string l;
    while (std::getline(info, l)) {
        if (l.rfind("model name", 0) == 0) {
            cpu = l.substr(l.find(':') + 2);
            break;
        }
    }
    std::string os = "unknown system";
    std::ifstream release("/etc/os-release");
    while (std::getline(release, l)) {
        if (l.rfind("PRETTY_NAME=", 0) == 0) {
            os = l.substr(12);
            os.erase(std::remove(os.begin(), os.end(), '"'), os.end());
        }
    }
    utsname u{};
    uname(&u);
    return std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores (" + cpu + "), " + os + ", Linux " + u.release
        + ", Qt " + qVersion();
}

// A running simulator and the terminal it serves.
struct Sim
{
    Child child;
    std::string pty;
};

Sim startSim(const std::vector<std::string> &extra, const std::string &log)
{
    std::vector<std::string> argv{KESMARSIM_PATH, "--no-link", "--exit-on-eof"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    Sim s;
    s.child = spawn(argv, {}, log, true);
    if (!readLine(s.child, s.pty, 10000) || s.pty.empty()) {
        std::fprintf(stderr, "kesmarbench: the simulator did not start\n");
        std::exit(1);
    }
    return s;
}

void stopSim(Sim &s)
{
    close(s.child.in); // --exit-on-eof ends it
    s.child.in = -1;
    if (finish(s.child, 10000) < 0)
        std::fprintf(stderr, "kesmarbench: the simulator had to be killed\n");
}

// A settings store whose port is the simulator's terminal, under XDG_CONFIG_HOME=`dir`.
void writeProgramStore(const std::string &dir, const std::string &port)
{
    mkpath(dir + "/quellmark");
    writeFile(dir + "/quellmark/orvex.conf", "[settings]\nport=" + port + "\n");
}

bool haveValgrind()
{
    return access("/usr/bin/valgrind", X_OK) == 0;
}

// Instructions callgrind counted in a run of `childArgs`: the whole run, or
// with `toggles` only inside those functions (inclusive).
long long callgrindCount(const std::vector<std::string> &toggles, const std::vector<std::string> &childArgs,
                         const std::string &out, const std::map<std::string, std::string> &env = {})
{
    std::vector<std::string> argv{"/usr/bin/valgrind", "--tool=callgrind", "--callgrind-out-file=" + out};
    if (!toggles.empty())
        argv.push_back("--collect-atstart=no");
    for (const std::string &t : toggles)
        argv.push_back("--toggle-collect=" + t);
    argv.insert(argv.end(), childArgs.begin(), childArgs.end());
    std::map<std::string, std::string> vars{{"QT_QPA_PLATFORM", "offscreen"}, {"QT_LOGGING_RULES", "qt.qpa.*=false"}};
    for (const auto &[key, value] : env)
        vars[key] = value;
    Child c = spawn(argv, vars);
    readAll(c, 600000);
    if (finish(c, 60000) != 0)
        return -1;
    std::istringstream s(fileText(out));
    std::string l;
    while (std::getline(s, l)) {
        if (l.rfind("totals:", 0) == 0 || l.rfind("summary:", 0) == 0)
            return std::atoll(l.c_str() + l.find(':') + 1);
    }
    return -1;
}

std::string instructions(long long ir)
{
    return fmt("%.3g Ir", static_cast<double>(ir));
}

// --- start-up ------------------------------------------------------------------

struct FirstFrame
{
    double paintMs = -1;
    double frameMs = -1;
};

FirstFrame runToFirstPaint(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env)
{
    Child c = spawn(argv, env);
    const std::string out = readAll(c, 30000);
    finish(c, 10000);
    FirstFrame f;
    std::istringstream s(out);
    std::string key;
    long long ns = 0;
    while (s >> key >> ns) {
        if (key == "paint")
            f.paintMs = static_cast<double>(ns - c.startNs) / 1e6;
        else if (key == "frame")
            f.frameMs = static_cast<double>(ns - c.startNs) / 1e6;
    }
    return f;
}

void measureStartup(const Options &o, const std::string &work)
{
    section("Start-up: process start to the main window's first paint (median of " + std::to_string(o.startupRuns)
            + " runs; program with the real library and a store pointing at the simulator)");
    Sim sim = startSim({}, {});
    const std::string config = work + "/startup-config";
    writeProgramStore(config, sim.pty);

    std::vector<std::string> platforms{"offscreen"};
    if (std::getenv("DISPLAY") && *std::getenv("DISPLAY"))
        platforms.push_back("xcb");
    else
        std::fprintf(stderr, "kesmarbench: no DISPLAY, so no start-up figures under X (run under xvfb-run)\n");

    for (const std::string &platform : platforms) {
        const std::map<std::string, std::string> env{
            {"QT_QPA_PLATFORM", platform}, {"XDG_CONFIG_HOME", config}, {"QT_LOGGING_RULES", "qt.qpa.*=false"}};
        std::vector<double> windowPaint, windowFrame, barePaint, bareFrame, labelPaint;
        int failures = 0;
        for (int run = -1; run < o.startupRuns; ++run) { // run -1 warms the page cache
            const FirstFrame b = runToFirstPaint({BENCH_BARE_PATH}, env);
            const FirstFrame w = runToFirstPaint({BENCH_WINDOW_PATH}, env);
            const FirstFrame l = runToFirstPaint({BENCH_BARE_PATH, "--label"}, env);
            if (b.paintMs < 0 || w.paintMs < 0 || l.paintMs < 0) {
                ++failures;
                continue;
            }
            if (run < 0)
                continue;
            barePaint.push_back(b.paintMs);
            bareFrame.push_back(b.frameMs);
            windowPaint.push_back(w.paintMs);
            windowFrame.push_back(w.frameMs);
            labelPaint.push_back(l.frameMs);
        }
        const std::string where = platform == "xcb" ? "Xvfb" : "offscreen";
        const double wp = median(windowPaint), bp = median(barePaint);
        const double wf = median(windowFrame), bf = median(bareFrame);
        const double lf = median(labelPaint);
        row("first paint, " + where, fmt("%.1f ms", wp), fmt("%.1f ms", bp), ratioText(wp, bp), goalText(wp, bp, 1.2));
        row("first frame complete, " + where, fmt("%.1f ms", wf), fmt("%.1f ms", bf), ratioText(wf, bf));
        row("  same, floor with one text label", fmt("%.1f ms", wf), fmt("%.1f ms", lf), ratioText(wf, lf));
        if (failures)
            row("  runs without a first paint", std::to_string(failures), "", "");
    }

    // The same start-up in instructions, which a busy machine does not change.
    // The store names no port here: under callgrind the 100 ms open would come
    // before the first frame, which it does not in a real start.
    if (o.callgrind && haveValgrind()) {
        const std::string quiet = work + "/startup-config-noport";
        mkpath(quiet + "/quellmark");
        writeFile(quiet + "/quellmark/orvex.conf", "[settings]\nport=/nonexistent/kesmarbench-port\n");
        const std::map<std::string, std::string> env{{"XDG_CONFIG_HOME", quiet}};
        const long long w = callgrindCount({}, {BENCH_WINDOW_PATH, "--quick-exit"}, work + "/cg.window", env);
        const long long b = callgrindCount({}, {BENCH_BARE_PATH, "--quick-exit"}, work + "/cg.bare", env);
        const long long l = callgrindCount({}, {BENCH_BARE_PATH, "--label", "--quick-exit"}, work + "/cg.label", env);
        const double wd = static_cast<double>(w), bd = static_cast<double>(b), ld = static_cast<double>(l);
        row("instructions to first frame, offscreen (callgrind)", instructions(w), instructions(b), ratioText(wd, bd),
            goalText(wd, bd, 1.2));
        row("  same, floor with one text label", instructions(w), instructions(l), ratioText(wd, ld));
    }
    stopSim(sim);
}

// --- the library on the GUI thread ---------------------------------------------

void measureLink(const Options &o)
{
    // PC mode: the unit sends no reports of its own, so every byte read belongs
    // to an answer and the library and the floor read the same bytes.
    Sim sim = startSim({"--pc-mode"}, {});

    section("Connection: kesmarctl_open until usable (+ first get_position) vs raw open + identify + position "
            "(median of "
            + std::to_string(o.openRuns) + ")");
    int failures = 0;
    const Samples open = measureOpen(sim.pty, o.openRuns, failures);
    const double lo = median(open.library), ro = median(open.raw);
    row("open + first position", duration(lo), duration(ro), ratioText(lo, ro), goalText(lo, ro, 1.2));
    if (failures)
        row("  failed opens", std::to_string(failures), "", "");

    section("GUI thread per poll and goto through libkesmarctl.so vs the same bytes over the pty with POSIX "
            "read/write ("
            + std::to_string(o.rounds) + " x " + std::to_string(o.iterations) + " each)");
    const ExchangeResults r = measureExchanges(sim.pty, o.rounds, o.iterations);
    const auto both = [&](const std::string &what, const Samples &s) {
        const double lm = median(s.library), rm = median(s.raw);
        const double lp = percentile(s.library, 95), rp = percentile(s.raw, 95);
        row(what + ", median", duration(lm), duration(rm), ratioText(lm, rm), goalText(lm, rm, 1.5));
        row(what + ", p95", duration(lp), duration(rp), ratioText(lp, rp), goalText(lp, rp, 1.5));
    };
    both("poll (recv + get_position_ext)", r.poll);
    both("goto (store_mem + goto_mem)", r.go);
    const auto wire = [&](const std::string &what, size_t bytes) {
        // 8N1: a start bit, 8 data bits and a stop bit per byte.
        const double ms = static_cast<double>(bytes) * 10.0 / 115200.0 * 1000.0;
        row(what, std::to_string(bytes) + " B", fmt("%.2f ms", ms), "", "at 115200 baud");
    };
    wire("poll on the wire (request + answer)", r.pollBytes);
    wire("goto on the wire (2 requests + 2 answers)", r.gotoBytes);
    if (r.failures)
        row("  failed exchanges", std::to_string(r.failures), "", "");
    stopSim(sim);
}

// --- idle ------------------------------------------------------------------

int countPolls(const std::string &log)
{
    int n = 0;
    std::istringstream s(fileText(log));
    std::string l;
    while (std::getline(s, l)) {
        if (l.find("<- addr=49 cmd=0x03") != std::string::npos)
            ++n;
    }
    return n;
}

void measureIdle(const Options &o, const std::string &work)
{
    const bool x = std::getenv("DISPLAY") && *std::getenv("DISPLAY");
    const std::string platform = x ? "xcb" : "offscreen";
    section("Idle: " + std::to_string(o.idleSeconds) + " s of polling at the default 1000 ms (kesmarcontrol on "
            + (x ? std::string("Xvfb") : std::string("offscreen")) + ") vs a bare Qt program doing nothing (median of "
            + std::to_string(o.idleRuns) + ")");
    std::vector<double> cpu, bareCpu, rss, bareRss, hwm, bareHwm, polls;
    for (int run = 0; run < o.idleRuns; ++run) {
        const std::string log = work + "/idle-sim-" + std::to_string(run) + ".log";
        Sim sim = startSim({"--verbose"}, log);
        const std::string config = work + "/idle-config-" + std::to_string(run);
        writeProgramStore(config, sim.pty);
        const std::map<std::string, std::string> env{
            {"QT_QPA_PLATFORM", platform}, {"XDG_CONFIG_HOME", config}, {"QT_LOGGING_RULES", "qt.qpa.*=false"}};
        Child program = spawn({KESMARCONTROL_PATH}, env);
        Child bare = spawn({BENCH_BARE_PATH, "--stay"}, env);
        // Let both settle: the port opens after 100 ms and the first poll
        // follows one interval later.
        sleep(2);
        const long long t0 = nowNs();
        const long long c0 = cpuNs(program.pid), b0 = cpuNs(bare.pid);
        const int p0 = countPolls(log);
        sleep(static_cast<unsigned>(o.idleSeconds));
        const double wall = static_cast<double>(nowNs() - t0);
        const long long c1 = cpuNs(program.pid), b1 = cpuNs(bare.pid);
        polls.push_back(countPolls(log) - p0);
        cpu.push_back(static_cast<double>(c1 - c0) / wall * 100.0);
        bareCpu.push_back(static_cast<double>(b1 - b0) / wall * 100.0);
        rss.push_back(static_cast<double>(statusKiB(program.pid, "VmRSS")));
        bareRss.push_back(static_cast<double>(statusKiB(bare.pid, "VmRSS")));
        hwm.push_back(static_cast<double>(statusKiB(program.pid, "VmHWM")));
        bareHwm.push_back(static_cast<double>(statusKiB(bare.pid, "VmHWM")));
        stop(program);
        stop(bare);
        stopSim(sim);
    }
    const double c = median(cpu), bc = median(bareCpu);
    row("CPU, % of one core", fmt("%.3f %%", c), fmt("%.3f %%", bc), ratioText(c, bc),
        std::string("< 0.5 % ") + (c < 0.5 ? "met" : "missed"));
    const double r = median(rss), br = median(bareRss);
    row("resident memory (VmRSS)", fmt("%.1f MiB", r / 1024), fmt("%.1f MiB", br / 1024), ratioText(r, br),
        goalText(r, br, 1.2));
    const double h = median(hwm), bh = median(bareHwm);
    row("peak resident memory (VmHWM)", fmt("%.1f MiB", h / 1024), fmt("%.1f MiB", bh / 1024), ratioText(h, bh),
        goalText(h, bh, 1.2));
    row("polls seen by the simulator", fmt("%.0f", median(polls)), "", "",
        "expected ~" + std::to_string(o.idleSeconds));
}

// --- scale -------------------------------------------------------------------

std::map<std::string, std::vector<double>> parseFigures(const std::string &text, bool &checked)
{
    std::map<std::string, std::vector<double>> m;
    std::istringstream s(text);
    std::string l;
    checked = false;
    while (std::getline(s, l)) {
        std::istringstream ls(l);
        std::string key;
        ls >> key;
        if (key == "checked") {
            std::string v;
            ls >> v;
            checked = v == "yes";
            continue;
        }
        double v;
        while (ls >> v)
            m[key].push_back(v);
    }
    return m;
}

void measureScale(const Options &o, const std::string &work)
{
    section("Named positions through KesmarControl (offscreen, real library, no port), median of "
            + std::to_string(o.scaleReps) + " runs; Store and Remove: median of " + std::to_string(o.scaleOps)
            + " clicks per run");
    struct Sized
    {
        int n;
        std::map<std::string, std::vector<double>> f;
    };
    std::vector<Sized> results;
    for (int n : o.sizes) {
        const std::string dir = work + "/scale-" + std::to_string(n);
        mkpath(dir);
        Child c = spawn({selfPath(), "--child", "scale", std::to_string(n), std::to_string(o.scaleReps),
                         std::to_string(o.scaleOps), dir},
                        {{"QT_QPA_PLATFORM", "offscreen"}, {"QT_LOGGING_RULES", "qt.qpa.*=false"}},
                        work + "/scale-" + std::to_string(n) + ".err");
        bool checked = false;
        const auto f = parseFigures(readAll(c, 600000), checked);
        const int status = finish(c, 60000);
        if (status != 0 || !checked)
            std::fprintf(stderr, "kesmarbench: the scale run with %d positions did not check out (status %d)\n", n,
                         status);
        results.push_back({n, f});
    }

    const auto med = [](const Sized &s, const char *key) {
        const auto it = s.f.find(key);
        return it == s.f.end() ? 0.0 : median(it->second);
    };
    // Each measure at every size, with the growth from the previous size.
    const auto measure = [&](const std::string &what, const std::function<double(const Sized &)> &figure,
                             const std::function<double(const Sized &)> &floor, double bound) {
        double previous = 0;
        int previousN = 0;
        for (const Sized &s : results) {
            const double fig = figure(s), flo = floor(s);
            std::string goal = bound > 0 ? goalText(fig, flo, bound) : std::string();
            if (previous > 0)
                goal += (goal.empty() ? "" : "; ") + fmt("x%.2f", fig / previous) + " for x"
                    + std::to_string(s.n / std::max(previousN, 1)) + " entries";
            row(what + ", " + std::to_string(s.n), duration(fig), duration(flo), ratioText(fig, flo), goal);
            previous = fig;
            previousN = s.n;
        }
    };
    measure(
        "load (construct - construct without store) vs raw QSettings read",
        [&](const Sized &s) { return med(s, "construct") - med(s, "construct_empty"); },
        [&](const Sized &s) { return med(s, "raw_read"); }, 2.0);
    measure(
        "construct the window vs construct it without store", [&](const Sized &s) { return med(s, "construct"); },
        [&](const Sized &s) { return med(s, "construct_empty"); }, 0);
    measure(
        "first show (show + first frame) vs without store", [&](const Sized &s) { return med(s, "show"); },
        [&](const Sized &s) { return med(s, "show_empty"); }, 0);
    measure(
        "Store click vs QComboBox::addItem", [&](const Sized &s) { return med(s, "store"); },
        [&](const Sized &s) { return med(s, "combo_add"); }, 0);
    measure(
        "Remove click (first item) vs QComboBox::removeItem(0)", [&](const Sized &s) { return med(s, "remove"); },
        [&](const Sized &s) { return med(s, "combo_remove"); }, 0);
    measure(
        "save (close + sync) vs raw QSettings write + sync", [&](const Sized &s) { return med(s, "save"); },
        [&](const Sized &s) { return med(s, "raw_write"); }, 0);

    if (!o.callgrind)
        return;
    if (!haveValgrind()) {
        std::fprintf(stderr, "kesmarbench: valgrind not found, no instruction counts\n");
        return;
    }
    section("Loading in instructions (callgrind, one run each): the store's parse + loadSettings vs a raw QSettings "
            "open + read of every key");
    double previous = 0;
    int previousN = 0;
    for (int n : o.sizes) {
        const std::string dir = work + "/scale-" + std::to_string(n);
        const long long window = callgrindCount(
            {"KesmarControl::loadSettings()", "QSettings::QSettings(QString const&, QString const&, QObject*)"},
            {selfPath(), "--child", "load", "window", dir + "/template", dir + "/ir-window"},
            dir + "/callgrind.window");
        const long long raw = callgrindCount({"bench::(anonymous namespace)::rawRead()"},
                                             {selfPath(), "--child", "load", "raw", dir + "/template", dir + "/ir-raw"},
                                             dir + "/callgrind.raw");
        std::string goal = goalText(static_cast<double>(window), static_cast<double>(raw), 2.0);
        if (previous > 0)
            goal += fmt("; x%.2f", static_cast<double>(window) / previous) + " for x"
                + std::to_string(n / std::max(previousN, 1)) + " entries";
        row("load, " + std::to_string(n), instructions(window), instructions(raw),
            ratioText(static_cast<double>(window), static_cast<double>(raw)), goal);
        previous = static_cast<double>(window);
        previousN = n;
    }
}

int usage()
{
    std::fprintf(stderr,
                 "usage: kesmarbench [--quick] [--no-callgrind] [--only startup|link|idle|scale]...\n"
                 "Run it through scripts/bench.sh, which builds it and provides a virtual display.\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        const std::string mode = argv[2];
        if (mode == "scale" && argc == 7)
            return runScaleChild(argc, argv, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), argv[6]);
        if (mode == "load" && argc == 6)
            return runLoadChild(argc, argv, argv[3], argv[4], argv[5]);
        return usage();
    }

    // As in the program, the library runs in a process with an application object.
    QCoreApplication app(argc, argv);
    Options o;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") {
            o.startupRuns = 3;
            o.openRuns = 5;
            o.rounds = 2;
            o.iterations = 50;
            o.idleRuns = 1;
            o.idleSeconds = 3;
            o.scaleReps = 1;
            o.scaleOps = 5;
            o.sizes = {10, 1000};
        } else if (a == "--no-callgrind") {
            o.callgrind = false;
        } else if (a == "--only" && i + 1 < argc) {
            only.push_back(argv[++i]);
        } else {
            return usage();
        }
    }
    const auto wanted = [&](const char *part) {
        return only.empty() || std::find(only.begin(), only.end(), part) != only.end();
    };

    const std::string work = makeTempDir("kesmarbench");
    const long long t0 = nowNs();
    if (wanted("startup"))
        measureStartup(o, work);
    if (wanted("link"))
        measureLink(o);
    if (wanted("idle"))
        measureIdle(o, work);
    if (wanted("scale"))
        measureScale(o, work);
    removeTree(work);

    std::printf("kesmarbench: %s\n", machineText().c_str());
    std::printf("Ratios are figure / floor; the floors run in the same session, alternating with the figures.\n");
    printTable();
    std::printf("\n(%.0f s in all)\n", static_cast<double>(nowNs() - t0) / 1e9);
    return 0;
}
