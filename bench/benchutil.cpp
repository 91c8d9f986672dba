#include "benchutil.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char **environ;

namespace bench {

long long nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size())));
    rank = std::clamp<size_t>(rank, 1, v.size());
    return v[rank - 1];
}

Child spawn(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
            const std::string &stderrPath, bool withStdin)
{
    Child c;
    int out[2];
    int in[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0 || (withStdin && pipe2(in, O_CLOEXEC) != 0)) {
        std::perror("kesmarbench: pipe");
        std::exit(1);
    }

    std::map<std::string, std::string> vars;
    for (char **e = environ; *e; ++e) {
        const char *eq = std::strchr(*e, '=');
        if (eq)
            vars[std::string(static_cast<const char *>(*e), eq)] = eq + 1;
    }
    for (const auto &[key, value] : env)
        vars[key] = value;
    std::vector<std::string> envText;
    for (const auto &[key, value] : vars)
        envText.push_back(key + "=" + value);
    std::vector<char *> envp;
    for (std::string &s : envText)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char *> argp;
    for (std::string &s : args)
        argp.push_back(s.data());
    argp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (withStdin)
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.empty() ? "/dev/null" : stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);

    c.startNs = nowNs();
    const int rc = posix_spawn(&c.pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    c.out = out[0];
    if (withStdin) {
        close(in[0]);
        c.in = in[1];
    }
    if (rc != 0) {
        std::fprintf(stderr, "kesmarbench: cannot start %s: %s\n", argp[0], std::strerror(rc));
        std::exit(1);
    }
    return c;
}

bool readLine(Child &c, std::string &line, int timeoutMs)
{
    line.clear();
    const long long deadline = nowNs() + static_cast<long long>(timeoutMs) * 1000000;
    for (;;) {
        const long long left = (deadline - nowNs()) / 1000000;
        if (left <= 0)
            return false;
        pollfd p{c.out, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        char ch;
        if (read(c.out, &ch, 1) != 1)
            return false;
        if (ch == '\n')
            return true;
        line += ch;
    }
}

std::string readAll(Child &c, int timeoutMs)
{
    std::string text;
    const long long deadline = nowNs() + static_cast<long long>(timeoutMs) * 1000000;
    for (;;) {
        const long long left = (deadline - nowNs()) / 1000000;
        if (left <= 0)
            break;
        pollfd p{c.out, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        char buffer[4096];
        const ssize_t n = read(c.out, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

static void closeFds(Child &c)
{
    if (c.out >= 0)
        close(c.out);
    if (c.in >= 0)
        close(c.in);
    c.out = c.in = -1;
}

int finish(Child &c, int timeoutMs)
{
    const long long deadline = nowNs() + static_cast<long long>(timeoutMs) * 1000000;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(c.pid, &status, WNOHANG);
        if (r == c.pid)
            break;
        if (nowNs() > deadline) {
            kill(c.pid, SIGKILL);
            waitpid(c.pid, &status, 0);
            closeFds(c);
            return -1;
        }
        // Reaping a child has no event to wait on without a signal handler;
        // look again shortly.
        usleep(2000);
    }
    closeFds(c);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void stop(Child &c)
{
    if (c.pid > 0) {
        kill(c.pid, SIGTERM);
        finish(c, 10000);
        c.pid = -1;
    }
}

long long cpuNs(pid_t pid)
{
    // Each thread's schedstat starts with its time on a CPU in ns: far finer
    // than the clock ticks of /proc/<pid>/stat.
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir = opendir(tasks.c_str());
    if (!dir)
        return -1;
    long long total = 0;
    while (dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream f(tasks + "/" + e->d_name + "/schedstat");
        long long ns = 0;
        if (f >> ns)
            total += ns;
    }
    closedir(dir);
    return total;
}

long long statusKiB(pid_t pid, const char *field)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(f, line)) {
        if (line.rfind(key, 0) == 0)
            return std::atoll(line.c_str() + key.size());
    }
    return -1;
}

std::string fileText(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool writeFile(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    return static_cast<bool>(f);
}

std::string makeTempDir(const std::string &prefix)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("kesmarbench: mkdtemp");
        std::exit(1);
    }
    return pattern;
}

void removeTree(const std::string &path)
{
    nftw(
        path.c_str(), [](const char *p, const struct stat *, int, FTW *) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

bool mkpath(const std::string &path)
{
    std::string partial;
    std::stringstream s(path);
    std::string part;
    if (!path.empty() && path[0] == '/')
        partial = "/";
    while (std::getline(s, part, '/')) {
        if (part.empty())
            continue;
        partial += part + "/";
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace bench
