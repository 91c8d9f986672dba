#include "signalwatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Read and write end of the socket pair; the handler can reach only globals.
int signalPair[2] = {-1, -1};

} // namespace

SignalWatcher::SignalWatcher(std::initializer_list<int> signalNumbers, QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0) {
        qWarning("cannot watch signals: %s", strerror(errno));
        return;
    }
    // A full pair must not block the handler; the signals already waiting
    // there will be read anyway.
    ::fcntl(signalPair[1], F_SETFL, ::fcntl(signalPair[1], F_GETFL) | O_NONBLOCK);
    notifier = new QSocketNotifier(signalPair[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SignalWatcher::readPending);

    struct sigaction action = {};
    action.sa_handler = &SignalWatcher::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : signalNumbers) {
        struct sigaction old = {};
        if (::sigaction(signalNumber, &action, &old) == 0)
            previous.emplace_back(signalNumber, old);
    }
}

SignalWatcher::~SignalWatcher()
{
    for (const auto &[signalNumber, old] : previous)
        ::sigaction(signalNumber, &old, nullptr);
    delete notifier;
    for (int &fd : signalPair) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void SignalWatcher::handle(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signalNumber);
    const ssize_t written = ::write(signalPair[1], &byte, 1);
    static_cast<void>(written);
    // Should the event loop not get to it (a start or a close stuck in a
    // system call), the alarm's default action ends the program anyway.
    ::alarm(graceSeconds);
    errno = savedErrno;
}

void SignalWatcher::readPending()
{
    char bytes[16];
    const ssize_t n = ::read(signalPair[0], bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i)
        emit received(bytes[i]);
}
