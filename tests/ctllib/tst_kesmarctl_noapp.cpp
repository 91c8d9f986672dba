// The control library in a process without a QCoreApplication: it must work
// (or fail cleanly) without one, as its port is driven by waiting calls only.
#include "libkesmarctl.h"

#include <QCoreApplication>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

extern char **environ;

namespace {

constexpr int Timeout = 300;

// The simulator without QProcess, which would want an event loop itself.
class PlainSim
{
public:
    bool start(std::string &path)
    {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string link = "/tmp/kesmarsim-noapp-" + std::to_string(getpid());
        const char *argv[] = {KESMARSIM_PATH, "--exit-on-eof", "--speed", "5000", "--link", link.c_str(), nullptr};
        const int rc = posix_spawn(&pid_, KESMARSIM_PATH, &actions, nullptr, const_cast<char **>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        if (rc != 0)
            return false;
        // The first line is the terminal's path; wait for it with a bound.
        path.clear();
        for (;;) {
            pollfd p{stdout_, POLLIN, 0};
            if (poll(&p, 1, 10000) <= 0)
                return false;
            char c;
            if (read(stdout_, &c, 1) != 1)
                return false;
            if (c == '\n')
                return !path.empty();
            path += c;
        }
    }
    ~PlainSim()
    {
        if (stdin_ >= 0)
            ::close(stdin_); // --exit-on-eof: it stops
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0)
            ::close(stdout_);
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
};

} // namespace

class TestKesmarctlWithoutApplication : public QObject
{
    Q_OBJECT

private slots:
    void worksWithoutApplication();
    void failsCleanlyWithoutApplication();
};

void TestKesmarctlWithoutApplication::worksWithoutApplication()
{
    QVERIFY(!QCoreApplication::instance());
    PlainSim sim;
    std::string path;
    QVERIFY(sim.start(path));
    kesmarctl_connection *h = kesmarctl_open(path.c_str(), Timeout);
    QVERIFY2(h, kesmarctl_last_errorstr(nullptr));
    QCOMPARE(int(h->id), int('0'));
    QCOMPARE(kesmarctl_select_dev(h, '1'), 0);
    QCOMPARE(kesmarctl_store_mem_position_ext(h, '1', 20, 30, 40, 0), 0);
    int x = 0, y = 0, z = 0;
    QCOMPARE(kesmarctl_get_mem_position_ext(h, '1', &x, &y, &z, 0), 0);
    QCOMPARE(y, 30);
    QCOMPARE(kesmarctl_goto_mem_position_ext(h, '1', 0), 0);
    // While it moves the unit reports by itself; recv takes that in without
    // waiting, so spin on it with a bound.
    QElapsedTimer timer;
    timer.start();
    int reports = 0;
    while (reports == 0 && timer.elapsed() < 10000) {
        reports = kesmarctl_recv(h);
        QVERIFY(reports >= 0);
    }
    QVERIFY(reports > 0);
    // Poll until the move has ended.
    timer.restart();
    do {
        QCOMPARE(kesmarctl_get_position_ext(h, '1', 0, &x, &y, &z), 0);
    } while (!(x == 20 && y == 30 && z == 40) && timer.elapsed() < 10000);
    QCOMPARE(x, 20);
    QCOMPARE(z, 40);
    QCOMPARE(kesmarctl_close(h), 0);
}

void TestKesmarctlWithoutApplication::failsCleanlyWithoutApplication()
{
    QVERIFY(!kesmarctl_open("/nonexistent/tty", Timeout));
    QCOMPARE(QByteArray(kesmarctl_last_errorstr(nullptr)), QByteArray("no such port"));
    QVERIFY(kesmarctl_select_dev(nullptr, '1') < 0);
    QCOMPARE(QByteArray(kesmarctl_last_errorstr(nullptr)), QByteArray("not connected"));
}

QTEST_APPLESS_MAIN(TestKesmarctlWithoutApplication)
#include "tst_kesmarctl_noapp.moc"
