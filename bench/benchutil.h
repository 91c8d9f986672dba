// Small helpers of the benchmark driver: clocks, statistics, child processes
// and what /proc tells about them. Plain POSIX, so the driver controls exactly
// when a child starts.
#ifndef BENCH_BENCHUTIL_H
#define BENCH_BENCHUTIL_H

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

long long nowNs(); // CLOCK_MONOTONIC

// Median and the p-th percentile (0..100, nearest rank) of the samples.
double median(std::vector<double> v);
double percentile(std::vector<double> v, double p);

// A child process started with posix_spawn. Its standard output is a pipe the
// driver reads; its standard error goes to `stderrPath` (or /dev/null).
struct Child
{
    pid_t pid = -1;
    int out = -1; // read end of the child's standard output
    int in = -1; // write end of its standard input, when asked for
    long long startNs = 0; // CLOCK_MONOTONIC just before the spawn
};

// `env` entries replace (or add to) the driver's own environment.
Child spawn(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env = {},
            const std::string &stderrPath = {}, bool withStdin = false);
// Reads one line (without its newline) within `timeoutMs`; false on time-out or EOF.
bool readLine(Child &c, std::string &line, int timeoutMs);
// Reads the child's output until it closes it or `timeoutMs` passes.
std::string readAll(Child &c, int timeoutMs);
// Waits for the child to end; kills it after `timeoutMs`. Returns the exit status or -1.
int finish(Child &c, int timeoutMs);
// Sends SIGTERM and reaps it.
void stop(Child &c);

// CPU time the process has spent on a CPU so far, all its threads added up, in ns.
long long cpuNs(pid_t pid);
// A "Vm..." line of /proc/<pid>/status, in KiB (e.g. "VmRSS", "VmHWM").
long long statusKiB(pid_t pid, const char *field);

std::string fileText(const std::string &path);
bool writeFile(const std::string &path, const std::string &text);
std::string makeTempDir(const std::string &prefix);
void removeTree(const std::string &path);
bool mkpath(const std::string &path);

} // namespace bench

#endif // BENCH_BENCHUTIL_H
