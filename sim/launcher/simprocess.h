// Runs kesmarsim as a child process: waits for the terminal path it prints
// first, and sends it commands on its standard input, waiting for each
// command's answer line. Every wait is bounded and none is a fixed sleep.
//
// The simulator keeps a symbolic link to its terminal, by default in a private
// temporary folder; a restart keeps the same link, so it can be stopped and
// started again under one port name.
#ifndef SIMPROCESS_H
#define SIMPROCESS_H

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

class SimProcess
{
public:
    // How waits pass. Blocking: in QProcess's own waits, nothing else runs
    // meanwhile. EventLoop: the event loop runs, so a program's timers and
    // polls go on while a test waits, as they would for an operator.
    enum class Waits
    {
        Blocking,
        EventLoop
    };

    explicit SimProcess(Waits waits = Waits::Blocking);
    ~SimProcess();

    // Starts the simulator with --exit-on-eof, its link (`link`, else the one
    // of the last start, else one in the private folder) and `arguments`.
    // Returns false (with a message in lastError()) when it does not come up.
    bool start(const QStringList &arguments = {}, const QString &link = {});
    // Sends one command line and returns its answer ("ok ..." or "error ..."),
    // or an empty string when none came. Lines printed before the answer
    // (e.g. by "status") are in lastOutput().
    QString command(const QString &line);
    // SIGKILL (no clean-up: the link is left behind) or SIGTERM (clean stop:
    // the link is removed); both wait for the exit.
    bool kill();
    bool stop();
    bool waitForExit();
    bool running() const { return process_.state() != QProcess::NotRunning; }

    QString ptyPath() const { return ptyPath_; }
    QString linkPath() const { return linkPath_; }
    QStringList lastOutput() const { return lastOutput_; }
    QString lastError() const { return lastError_; }
    QProcess &process() { return process_; }

    // Generous bound on the simulator's reaction to anything, in ms.
    static constexpr int ReactionMs = 10000;

private:
    QString readLine();
    // Waits a short while for output (or for the exit), as `waits_` says.
    void pause(bool forOutput, qint64 remainingMs);

    const Waits waits_;
    QProcess process_;
    QTemporaryDir dir_;
    QString ptyPath_;
    QString linkPath_;
    QStringList lastOutput_;
    QString lastError_;
};

#endif // SIMPROCESS_H
