#ifndef SIGNALWATCHER_H
#define SIGNALWATCHER_H

#include <QObject>

#include <csignal>
#include <initializer_list>
#include <utility>
#include <vector>

class QSocketNotifier;

// Turns POSIX signals into a Qt signal delivered by the event loop. The
// handler only writes the signal's number into a socket pair; the event loop
// reads it there and emits received(), where any work is safe; a program
// that has not ended graceSeconds after a signal is ended by SIGALRM. One
// watcher at a time; it restores the earlier handlers when destroyed.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(std::initializer_list<int> signalNumbers, QObject *parent = nullptr);
    ~SignalWatcher() override;

    static constexpr unsigned graceSeconds = 10;

signals:
    void received(int signalNumber);

private:
    static void handle(int signalNumber);
    void readPending();

    std::vector<std::pair<int, struct sigaction>> previous;
    QSocketNotifier *notifier = nullptr;
};

#endif // SIGNALWATCHER_H
