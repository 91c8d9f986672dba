// kesmarbench: measures what the operator feels of the program (start-up, the
// GUI thread's time in the library, idle cost, many named positions, how often
// the readouts refresh during a move) and prints each figure next to a floor
// measured in the same run, or next to its goal. It prints figures only;
// nothing here passes or fails. scripts/bench.sh builds and runs it.
#include "exchange.h"
#include "journal.h"
#include "journalmodel.h"
#include "journalwindow.h"
#include "journalwriter.h"
#include "scale.h"
#include "simprocess.h"
#include "testwindow.h"
#include "widgetlookup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLCDNumber>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

extern char **environ;

using namespace bench;
using Clock = std::chrono::steady_clock;

namespace {

struct Options
{
    int startupRuns = 21;
    int opens = 50;
    int rounds = 20;
    int iterations = 100;
    int idleRuns = 3;
    int idleSeconds = 10;
    int scaleReps = 7;
    int scaleOps = 20;
    std::vector<int> sizes{10, 1000, 10000, 100000};
    int refreshRuns = 3;
};

// --- figures and the table ---------------------------------------------------

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
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
    return us >= 1000 ? fmt("%.2f ms", us / 1000) : fmt("%.1f us", us);
}

std::string ratioText(double figure, double floor)
{
    return floor > 0 ? fmt("%.2fx", figure / floor) : "-";
}

// "met" or "missed" against an upper bound on figure / floor.
std::string goalText(double figure, double floor, double bound)
{
    return fmt("<= %.1fx ", bound) + (floor > 0 && figure / floor <= bound ? "met" : "missed");
}

void row(const std::string &what, const std::string &figure, const std::string &floor = {},
         const std::string &ratio = {}, const std::string &goal = {})
{
    std::printf("  %-72s %12s %12s %8s  %s\n", what.c_str(), figure.c_str(), floor.c_str(), ratio.c_str(),
                goal.c_str());
    std::fflush(stdout);
}

void section(const std::string &title)
{
    std::printf("\n%s\n", title.c_str());
    row("measure", "figure", "floor", "ratio", "goal");
}

// A figure against its floor, with the ratio and, if `bound` > 0, the goal.
void compare(const std::string &what, double figure, double floor, double bound,
             const std::function<std::string(double)> &unit)
{
    row(what, unit(figure), unit(floor), ratioText(figure, floor), bound > 0 ? goalText(figure, floor, bound) : "");
}

// --- processes -------------------------------------------------------------------

// Sets what the programs the driver starts inherit: their platform and the
// folder of their settings store. The driver's own windows are already on the
// offscreen platform, and its own stores are set with QSettings::setPath.
void setChildEnvironment(const QString &platform, const QString &config)
{
    qputenv("QT_QPA_PLATFORM", platform.toUtf8());
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
}

// A settings store whose port is `port`, under XDG_CONFIG_HOME=`config`.
void writeProgramStore(const QString &config, const QString &port)
{
    QDir().mkpath(config + QStringLiteral("/quellmark"));
    QFile file(config + QStringLiteral("/quellmark/orvex.conf"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write("[settings]\nport=" + port.toUtf8() + "\n");
}

// Runs `program` until it reports its first paint and returns the ms from just
// before its start to then, or -1. posix_spawn, so that nothing of the
// driver's own comes between the clock and the start.
double msToFirstPaint(const char *program, std::map<std::string, double> *extras = nullptr)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char *argv[] = {const_cast<char *>(program), nullptr};
    pid_t pid = -1;
    const Clock::time_point start = Clock::now();
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    pollfd p{out[0], POLLIN, 0};
    char buffer[256];
    ssize_t n = 0;
    while (rc == 0 && poll(&p, 1, 30000) > 0 && (n = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    if (rc != 0)
        return -1;
    kill(pid, SIGKILL); // only if it hangs: it has closed its output, or 30 s have passed
    waitpid(pid, nullptr, 0);
    // "paint <ns>" and "<extra> <ns>" lines (see firstpaint.cpp), the extras
    // done after the first paint coming after it.
    std::istringstream lines(text);
    std::string what;
    long long ns = 0;
    double paint = -1;
    while (lines >> what >> ns) {
        if (what == "paint")
            paint = static_cast<double>(ns - start.time_since_epoch() / std::chrono::nanoseconds(1)) / 1e6;
        else if (extras)
            (*extras)[what] = static_cast<double>(ns) / 1e6;
    }
    return paint;
}

// CPU time of all the process's threads so far, in ns: each thread's
// schedstat starts with it, far finer than the clock ticks of /proc/<pid>/stat.
double cpuNs(qint64 pid)
{
    double total = 0;
    std::error_code error;
    for (const auto &task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream f(task.path() / "schedstat");
        long long ns = 0;
        if (f >> ns)
            total += static_cast<double>(ns);
    }
    return total;
}

// A "Vm..." line of /proc/<pid>/status (e.g. "VmRSS"), in KiB.
double statusKiB(qint64 pid, const std::string &field)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    double value = -1;
    while (f >> key) {
        if (key == field + ":" && f >> value)
            return value;
    }
    return -1;
}

// Runs the event loop until `done` or `ms` have passed; returns `done()`.
bool runUntil(const std::function<bool()> &done, int ms)
{
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done() && Clock::now() < end) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

// --- the parts -------------------------------------------------------------------

bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY");
}

void measureStartup(const Options &o, const QString &work)
{
    section("Start-up: process start to the main window's first paint (median of " + std::to_string(o.startupRuns)
            + " runs; the program with the real library and a store pointing at the simulator)");
    SimProcess sim;
    if (!sim.start())
        return row("the simulator did not start: " + sim.lastError().toStdString(), "");
    const QString config = work + QStringLiteral("/startup");
    writeProgramStore(config, sim.ptyPath());
    QStringList platforms{QStringLiteral("offscreen")};
    if (haveDisplay())
        platforms << QStringLiteral("xcb");
    for (const QString &platform : platforms) {
        setChildEnvironment(platform, config);
        std::vector<double> window, bare, text;
        int failures = 0;
        for (int run = -1; run < o.startupRuns; ++run) { // run -1 warms the page cache
            const double b = msToFirstPaint(BENCH_BARE_PATH);
            const double w = msToFirstPaint(BENCH_WINDOW_PATH);
            qputenv("BENCH_BARE_TEXT", "1");
            const double t = msToFirstPaint(BENCH_BARE_PATH);
            qunsetenv("BENCH_BARE_TEXT");
            if (b < 0 || w < 0 || t < 0)
                ++failures;
            else if (run >= 0)
                bare.push_back(b), window.push_back(w), text.push_back(t);
        }
        const std::string where = platform == "xcb" ? "Xvfb" : "offscreen";
        const auto ms = [](double v) {
            return fmt("%.1f ms", v);
        };
        compare("first paint, " + where, median(window), median(bare), 1.2, ms);
        // The same with a floor that shows a line of text: the fonts' set-up,
        // which no window with text avoids, then counts on both sides.
        compare("first paint vs a bare window with a line of text, " + where, median(window), median(text), 1.2, ms);
        if (failures)
            row("  runs without a first paint", std::to_string(failures));

        // What main.cpp does at start, each part's own time,
        // and the first paint with all of it; then what the pad costs.
        std::map<std::string, std::vector<double>> parts;
        std::vector<double> asMain, floor;
        for (const char *extras : {"icon,lock,bus", "pad"}) {
            qputenv("BENCH_EXTRAS", extras);
            for (int run = -1; run < o.startupRuns; ++run) {
                std::map<std::string, double> took;
                const double b = msToFirstPaint(BENCH_BARE_PATH);
                const double w = msToFirstPaint(BENCH_WINDOW_PATH, &took);
                if (b < 0 || w < 0 || run < 0)
                    continue;
                for (const auto &[part, t] : took)
                    parts[part].push_back(t);
                if (std::string(extras) != "pad")
                    floor.push_back(b), asMain.push_back(w);
            }
        }
        qunsetenv("BENCH_EXTRAS");
        compare("first paint with the lock (icon theme and bus after it), " + where, median(asMain), median(floor), 1.2,
                ms);
        const std::map<std::string, std::string> names{
            {"icon", "the window icon from the icon theme (after the first paint)"},
            {"lock", "the instance lock"},
            {"bus", "the scripting interface on the session bus (after the first paint)"},
            {"pad", "the pad dialog (built before the window)"}};
        for (const auto &[part, took] : parts)
            row("  " + names.at(part) + ", " + where, ms(median(took)));
    }
}

void measureLink(const Options &o)
{
    // PC mode: the unit sends no reports of its own, so every byte read belongs
    // to an answer and the library and the floor read the same bytes.
    SimProcess sim;
    if (!sim.start({QStringLiteral("--pc-mode")}))
        return row("the simulator did not start: " + sim.lastError().toStdString(), "");
    const ExchangeResults r = measureExchanges(sim.ptyPath().toStdString(), o.opens, o.rounds, o.iterations);

    section("The library on the GUI thread vs the same bytes over the pty with POSIX read/write (opens: median of "
            + std::to_string(o.opens) + "; polls and gotos: " + std::to_string(o.rounds) + " x "
            + std::to_string(o.iterations) + " each)");
    compare("open until usable (+ first position) vs open + identify + position", median(r.open.library),
            median(r.open.raw), 1.5, duration);
    compare("poll (recv + get_position_ext), median", median(r.poll.library), median(r.poll.raw), 1.5, duration);
    compare("goto (store_mem + goto_mem), median", median(r.go.library), median(r.go.raw), 1.5, duration);
    if (r.failures)
        row("  failed calls or exchanges", std::to_string(r.failures));
}

void measureIdle(const Options &o, const QString &work)
{
    const QString platform = haveDisplay() ? QStringLiteral("xcb") : QStringLiteral("offscreen");
    section("Idle: " + std::to_string(o.idleSeconds) + " s of polling at the default 1000 ms (kesmarcontrol, "
            + platform.toStdString() + ") vs a bare Qt program doing nothing (median of " + std::to_string(o.idleRuns)
            + ")");
    std::vector<double> cpu, bareCpu, rss, bareRss, textRss;
    for (int run = 0; run < o.idleRuns; ++run) {
        SimProcess sim;
        if (!sim.start())
            return row("the simulator did not start: " + sim.lastError().toStdString(), "");
        const QString config = work + QStringLiteral("/idle-%1").arg(run);
        writeProgramStore(config, sim.ptyPath());
        setChildEnvironment(platform, config);
        QProcess program, bare, text;
        for (QProcess *p : {&program, &bare, &text})
            p->setStandardOutputFile(QProcess::nullDevice());
        QProcessEnvironment withText = QProcessEnvironment::systemEnvironment();
        withText.insert(QStringLiteral("BENCH_BARE_TEXT"), QStringLiteral("1"));
        text.setProcessEnvironment(withText);
        program.start(QStringLiteral(KESMARCONTROL_PATH), QStringList());
        bare.start(QStringLiteral(BENCH_BARE_PATH), {QStringLiteral("--stay")});
        text.start(QStringLiteral(BENCH_BARE_PATH), {QStringLiteral("--stay")});
        if (!program.waitForStarted() || !bare.waitForStarted() || !text.waitForStarted())
            return row("kesmarcontrol or bench_bare did not start", "");
        // Let both settle: the port opens after 100 ms, the first poll follows
        // one interval later.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const Clock::time_point t0 = Clock::now();
        const double c0 = cpuNs(program.processId()), b0 = cpuNs(bare.processId());
        std::this_thread::sleep_for(std::chrono::seconds(o.idleSeconds));
        const double wall = std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
        cpu.push_back((cpuNs(program.processId()) - c0) / wall * 100.0);
        bareCpu.push_back((cpuNs(bare.processId()) - b0) / wall * 100.0);
        rss.push_back(statusKiB(program.processId(), "VmRSS"));
        bareRss.push_back(statusKiB(bare.processId(), "VmRSS"));
        textRss.push_back(statusKiB(text.processId(), "VmRSS"));
        for (QProcess *p : {&program, &bare, &text}) {
            p->terminate();
            p->waitForFinished();
        }
    }
    const double c = median(cpu);
    row("CPU, % of one core", fmt("%.3f %%", c), fmt("%.3f %%", median(bareCpu)), "",
        std::string("< 0.5 % ") + (c < 0.5 ? "met" : "missed"));
    const auto mib = [](double kib) {
        return fmt("%.1f MiB", kib / 1024);
    };
    compare("resident memory (VmRSS)", median(rss), median(bareRss), 1.2, mib);
    compare("resident memory vs a bare window with a line of text", median(rss), median(textRss), 1.2, mib);
}

void measureScale(const Options &o, const QString &work)
{
    section("Named positions through KesmarControl (offscreen, real library, no port), median of "
            + std::to_string(o.scaleReps) + " runs (at most 3 at 100,000); each click: median of "
            + std::to_string(o.scaleOps) + " per run (5 at 100,000)");
    std::vector<std::pair<int, Figures>> results;
    for (int n : o.sizes) {
        const bool huge = n >= 100000;
        results.emplace_back(n,
                             bench::measureScale(n, huge ? std::min(o.scaleReps, 3) : o.scaleReps,
                                                 huge ? std::min(o.scaleOps, 5) : o.scaleOps,
                                                 work + QStringLiteral("/scale-%1").arg(n)));
        if (results.back().second["checked"] != std::vector<double>{1})
            row("  the run with " + std::to_string(n) + " positions did not check out", "");
    }
    // The GUI thread's time per edit: at most a frame (16 ms) at 10,000
    // entries and 50 ms at 100,000.
    const auto frameGoal = [](int n, double us) {
        const double bound = n >= 100000 ? 50000 : n >= 10000 ? 16000 : 0;
        return bound > 0 ? fmt("<= %.0f ms ", bound / 1000) + (us <= bound ? "met" : "missed") : std::string();
    };
    // Each measure at every size, with the growth from the size before.
    const auto measure
        = [&](const std::string &what, const char *figure, const char *floor, double bound = 0, bool frame = false) {
              double previous = 0;
              int previousN = 0;
              for (auto &[n, f] : results) {
                  const double fig = median(f[figure]), flo = floor ? median(f[floor]) : 0;
                  std::string goal = bound > 0 ? goalText(fig, flo, bound) : frame ? frameGoal(n, fig) : std::string();
                  if (previous > 0)
                      goal += (goal.empty() ? "" : "; ") + fmt("x%.2f", fig / previous) + " for x"
                          + std::to_string(n / previousN) + " entries";
                  row(what + ", " + std::to_string(n), duration(fig), floor ? duration(flo) : "",
                      floor ? ratioText(fig, flo) : "", goal);
                  previous = fig;
                  previousN = n;
              }
          };
    measure("load (construct - construct without store) vs raw QSettings read", "load", "raw_read", 1.2);
    measure("Store click (a new name), GUI thread vs raw QSettings write", "store", "raw_write", 0, true);
    measure("Store click (no name: the first free default name), GUI thread", "store_unnamed", nullptr, 0, true);
    measure("Undo, GUI thread", "undo", nullptr, 0, true);
    measure("Redo, GUI thread", "redo", nullptr, 0, true);
    measure("Remove click (the first position), GUI thread", "remove", nullptr, 0, true);
    measure("Store click until its save has ended (off the GUI thread)", "store_saved", "raw_write");
    measure("save (close, waiting for the save) vs raw QSettings write + sync", "save", "raw_write");
}

// Readout refreshes per second while the unit moves: the program's window (in
// this process, the real library, default settings) against the simulator
// with its defaults. Counts the changes of the X, Y, Z readouts from each Goto
// until the readouts show the target: across the range to 0 and back to 20500.
double refreshesPerSecond(const QString &work)
{
    SimProcess sim;
    if (!sim.start())
        return -1;
    QDir().mkpath(work);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, work);
    writeProgramStore(work, sim.linkPath());
    TestWindow w;
    w.show();
    const std::array<QLCDNumber *, 3> lcds{widget<QLCDNumber>(w, QStringLiteral("lcdNumberX")),
                                           widget<QLCDNumber>(w, QStringLiteral("lcdNumberY")),
                                           widget<QLCDNumber>(w, QStringLiteral("lcdNumberZ"))};
    const auto readout = [&] {
        return std::array<int, 3>{lcds[0]->intValue(), lcds[1]->intValue(), lcds[2]->intValue()};
    };
    if (!runUntil([&] { return readout() == std::array<int, 3>{10250, 10250, 10250}; }, 10000))
        return -1;

    // The readouts change only in the program's polls, on this thread; a 1 ms
    // sampler between them sees every change.
    int changes = 0;
    std::array<int, 3> last = readout();
    Clock::time_point lastChange;
    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (readout() != last) {
            ++changes;
            last = readout();
            lastChange = Clock::now();
        }
    });
    sampler.start(1);
    double seconds = 0;
    for (int target : {0, 20500}) {
        for (const char *name : {"targetX", "targetY", "targetZ"})
            widget<QSpinBox>(w, QLatin1String(name))->setValue(target);
        const Clock::time_point start = Clock::now();
        widget<QPushButton>(w, QStringLiteral("pushButtonGoto"))->click();
        if (!runUntil([&] { return last == std::array<int, 3>{target, target, target}; }, 30000))
            return -1;
        seconds += std::chrono::duration<double>(lastChange - start).count();
    }
    return changes / seconds;
}

void measureRefresh(const Options &o, const QString &work)
{
    section("Readout refreshes per second during a move: the program with its default settings against the "
            "simulator with its defaults (median of "
            + std::to_string(o.refreshRuns) + " runs, each across the range and back)");
    std::vector<double> rates;
    for (int run = 0; run < o.refreshRuns; ++run) {
        const double rate = refreshesPerSecond(work + QStringLiteral("/refresh-%1").arg(run));
        if (rate < 0)
            return row("the move did not end at its target", "");
        rates.push_back(rate);
    }
    const double r = median(rates);
    row("readout refreshes per second while the unit moves", fmt("%.1f /s", r), "", "",
        std::string("about 20/s ") + (r >= 18 ? "met" : "missed"));
}

// The GUI thread's time for one row of the journal of moves, as the program
// records it: the journal, its table and the file writer on (the writer's own
// thread does the disk), with the Journal window closed and open; beside it a
// bare send, the library's store + goto against the simulator.
void measureJournal(const Options &o, const QString &work)
{
    SimProcess sim;
    if (!sim.start({QStringLiteral("--pc-mode")}))
        return row("the simulator did not start: " + sim.lastError().toStdString(), "");
    const ExchangeResults sends = measureExchanges(sim.ptyPath().toStdString(), 0, o.rounds, o.iterations);

    section("One row of the journal on the GUI thread, " + std::to_string(o.rounds) + " x "
            + std::to_string(o.iterations) + " rows past the 10,000 kept, vs a bare send (store_mem + goto_mem)");
    Journal journal;
    JournalModel model(journal);
    JournalWriter writer(journal, work + QStringLiteral("/journal"));
    JournalRow sent;
    sent.before = JournalRow::Xyz{10250, 10250, 10250};
    sent.target = {10300, 10250, 10200};
    for (int i = 0; i < Journal::defaultCapacity; ++i) // full, so each row also drops the oldest
        journal.record(sent);
    const auto measure = [&](const std::string &what) {
        std::vector<double> samples;
        for (int round = 0; round < o.rounds; ++round) {
            for (int i = 0; i < o.iterations; ++i) {
                const Clock::time_point t0 = Clock::now();
                journal.record(sent);
                samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            }
            QCoreApplication::processEvents(); // the window paints between bursts, as between moves
        }
        const double us = median(samples);
        row(what, duration(us), duration(median(sends.go.library)), ratioText(us, median(sends.go.library)),
            std::string("<= 20 us ") + (us <= 20 ? "met" : "missed"));
    };
    measure("one row, median (Journal window closed)");
    JournalWindow window(journal);
    window.show();
    QCoreApplication::processEvents();
    measure("one row, median (Journal window open)");
    if (sends.failures)
        row("  failed sends", std::to_string(sends.failures));
    if (!writer.isOn())
        row("  the journal's file was turned off: " + writer.failure().toStdString(), "");
}

std::string machineText()
{
    std::string cpu = "unknown CPU";
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);) {
        if (line.rfind("model name", 0) == 0) {
            cpu = line.substr(line.find(':') + 2);
            break;
        }
    }
    return std::to_string(QThread::idealThreadCount()) + " cores (" + cpu + "), "
        + QSysInfo::prettyProductName().toStdString() + ", Linux " + QSysInfo::kernelVersion().toStdString() + ", Qt "
        + qVersion();
}

} // namespace

int main(int argc, char *argv[])
{
    // Only the table on the terminal: the platform's warnings about the
    // driver's own windows would break it up.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg && type != QtInfoMsg && type != QtWarningMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    // The driver's own windows (named positions, refreshes) are offscreen; the
    // programs it starts get their platform each.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false"); // for the programs it starts, too
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Prints the benchmark figures. Run it through scripts/bench.sh, which builds it and provides a display."));
    parser.addHelpOption();
    const QCommandLineOption quick(QStringLiteral("quick"),
                                   QStringLiteral("A short smoke run with fewer repetitions."));
    const QCommandLineOption only(
        QStringLiteral("only"),
        QStringLiteral("Only this part: startup, link, idle, scale, refresh or journal (may repeat)."),
        QStringLiteral("part"));
    const QCommandLineOption sizes(QStringLiteral("sizes"),
                                   QStringLiteral("The store sizes of the named-positions part, e.g. 10000,100000."),
                                   QStringLiteral("list"));
    const QCommandLineOption runs(
        QStringLiteral("runs"), QStringLiteral("Runs of the named-positions part at each size."), QStringLiteral("n"));
    parser.addOptions({quick, only, sizes, runs});
    parser.process(app);

    Options o = parser.isSet(quick) ? Options{3, 5, 2, 50, 1, 3, 1, 5, {10, 10000}, 1} : Options{};
    if (parser.isSet(sizes)) {
        o.sizes.clear();
        for (const QString &n : parser.value(sizes).split(QLatin1Char(',')))
            o.sizes.push_back(n.toInt());
    }
    if (parser.isSet(runs))
        o.scaleReps = std::max(1, parser.value(runs).toInt());
    const QStringList parts = parser.values(only);
    const auto wanted = [&](const char *part) {
        return parts.isEmpty() || parts.contains(QLatin1String(part));
    };

    QTemporaryDir work;
    const Clock::time_point t0 = Clock::now();
    std::printf("kesmarbench: %s\n", machineText().c_str());
    std::printf("Ratios are figure / floor; the floors run in the same session, alternating with the figures.\n");
    if (wanted("startup"))
        measureStartup(o, work.path());
    if (wanted("link"))
        measureLink(o);
    if (wanted("idle"))
        measureIdle(o, work.path());
    if (wanted("scale"))
        measureScale(o, work.path());
    if (wanted("refresh"))
        measureRefresh(o, work.path());
    if (wanted("journal"))
        measureJournal(o, work.path());
    std::printf("\n(%.0f s in all)\n", std::chrono::duration<double>(Clock::now() - t0).count());
    return 0;
}
