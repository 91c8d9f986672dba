// Runs kesmarsim as a child process for a test: waits for the terminal path it
// prints first, and sends it commands on its standard input, waiting for each
// command's answer line. Every wait is bounded and none is a fixed sleep.
#ifndef SIMPROCESS_H
#define SIMPROCESS_H

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

class SimProcess
{
public:
    SimProcess();
    ~SimProcess();

    // Starts the simulator with `arguments` plus a link in a private temporary
    // folder. Returns false (with a message in lastError()) when it does not
    // come up.
    bool start(const QStringList &arguments = {}, const QString &link = {});
    // Sends one command line and returns its answer ("ok ..." or "error ..."),
    // or an empty string when none came. Lines printed before the answer
    // (e.g. by "status") are in lastOutput().
    QString command(const QString &line);
    // Stops it with SIGTERM and waits for it to exit.
    bool stop();
    bool waitForExit();

    QString ptyPath() const { return ptyPath_; }
    QString linkPath() const { return linkPath_; }
    QStringList lastOutput() const { return lastOutput_; }
    QString lastError() const { return lastError_; }
    QProcess &process() { return process_; }

    // Generous bound on the simulator's reaction to anything, in ms.
    static constexpr int ReactionMs = 10000;

private:
    QString readLine();

    QProcess process_;
    QTemporaryDir dir_;
    QString ptyPath_;
    QString linkPath_;
    QStringList lastOutput_;
    QString lastError_;
};

#endif
