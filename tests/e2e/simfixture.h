// Shared fixture of the end-to-end tests: the program with the real control
// library, talking to kesmarsim (a SimProcess) over a pseudo-terminal.
//
// Every wait runs the event loop (never a blocking wait on the simulator: see
// E2E::Waits), so the program's timers and polls go on while a test waits, as
// they would for an operator, and the stall meter measures only what the
// program blocks.
#ifndef SIMFIXTURE_H
#define SIMFIXTURE_H

#include "runstep.h"
#include "simprocess.h"
#include "testwindow.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSignalSpy>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class QDialog;
class QLCDNumber;

namespace E2E {

// Generous bound for anything to happen: the simulator coming up or
// answering a command, the program reacting, a fast move ending.
constexpr int WaitMs = SimProcess::ReactionMs;
// How the simulator's waits pass in these tests.
constexpr SimProcess::Waits Waits = SimProcess::Waits::EventLoop;

// Settings store of the program: group [settings] with the given port,
// time-out, polling interval and PC mode, device 1, no named positions.
void writeStore(const QString &port, int timeout, int update, bool pcmode);

// The main window with the real library, as an operator sees it.
class Program
{
public:
    // Builds and shows the window, then waits until it reports "<port> opened".
    void start(const QString &port);
    ~Program();

    KesmarControl &window() { return *w_; }
    DeviceLink &link() { return w_->panel().link(); }
    // The readouts X, Y, Z.
    QList<int> readout() const;
    QLCDNumber *lcd(const char *name) const;
    void setTarget(int x, int y, int z);
    QList<int> target() const;
    void clickGoto();
    void clickRestore();
    void clickIndicator();
    DeviceLink::State state() const { return w_->panel().link().state(); }

    // The message the status bar shows now.
    QString message() const;
    // Status bar messages since the last forget(), in order. A message shown
    // again while it still shows is not shown anew, so it is not listed.
    QStringList messages() const;
    void forget();
    // Whether a message starting with `prefix` came since forget(); its text.
    bool seen(const QString &prefix, QString *text = nullptr) const;

    // Runs the Settings dialog from its action, lets `edit` change it and
    // presses OK.
    void acceptSettings(const std::function<void(QDialog *)> &edit);

private:
    // An operator's act comes through the event loop, which has run since the
    // last library call that failed; an act straight after one waits for it.
    void untilLinkFree();

    std::unique_ptr<KesmarControl> w_;
    std::unique_ptr<QSignalSpy> messages_;
};

// Longest stall of the event loop: a 10 ms timer whose ticks should come
// about 10 ms apart; the largest gap between two of them is how long the
// event loop was held up at most, by a library call or anything else.
class StallMeter : public QObject
{
public:
    StallMeter();
    qint64 longestMs() const { return longest_; }

private:
    QTimer tick_;
    QElapsedTimer since_;
    qint64 longest_ = 0;
};

// Counts the polls of a link, good or failed, and bounds the ticks its
// polling timer can have given meanwhile.
class PollCounter : public QObject
{
public:
    explicit PollCounter(const DeviceLink &link);
    int count() const { return count_; }
    // One tick per poll interval since the counter was made, and one more: a
    // timer can only be late.
    int maxTicks() const { return int(since_.elapsed() / link_.pollInterval()) + 1; }

private:
    const DeviceLink &link_;
    QElapsedTimer since_;
    int count_ = 0;
};

// Samples a readout every 10 ms and keeps the distinct values it showed.
class ReadoutSampler : public QObject
{
public:
    explicit ReadoutSampler(QLCDNumber *lcd);
    QList<int> values() const { return values_; }
    // Distinct values strictly between `from` and `to`.
    int between(int from, int to) const;

private:
    QTimer tick_;
    QList<int> values_;
};

// Records the main window's connection state changes, each as the state's
// name and whether the readouts were live then, e.g. "Stale greyed".
class StateRecorder : public QObject
{
public:
    explicit StateRecorder(KesmarControl &window);
    QStringList changes() const { return changes_; }

private:
    QStringList changes_;
};

} // namespace E2E

#endif // SIMFIXTURE_H
