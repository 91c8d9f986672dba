#include "linereader.h"

#include "serialline.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

namespace {

// A line busy with a call is left out of the wait; the reader looks again
// this often while any is.
constexpr int BusyRecheckMs = 20;

} // namespace

LineReader &LineReader::instance()
{
    // Never destroyed: the thread may be waiting while the process exits. The
    // library is linked with -z nodelete, so its code outlives any dlclose().
    static LineReader *reader = new LineReader;
    return *reader;
}

LineReader::LineReader()
{
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    // The thread takes no signals: they stay with the caller's threads, whose
    // handlers and waits expect them. It starts with every signal blocked,
    // which it inherits from the mask in force here.
    sigset_t all;
    sigset_t callers;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &callers);
    try {
        std::thread(&LineReader::run, this).detach();
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &callers, nullptr);
        ::close(wake_);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &callers, nullptr);
}

void LineReader::wake()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
}

void LineReader::add(SerialLine *line)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(line);
    }
    wake();
}

void LineReader::remove(SerialLine *line)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.erase(std::remove(lines_.begin(), lines_.end(), line), lines_.end());
    }
    // Let the wait drop the terminal, so the system releases it promptly.
    wake();
}

void LineReader::run()
{
    // Named, so that it can be told apart in a debugger or in /proc.
    pthread_setname_np(pthread_self(), "kesmarctl-read");
    std::vector<pollfd> fds;
    std::vector<SerialLine *> watched;
    for (;;) {
        bool anyBusy = false;
        fds.clear();
        watched.clear();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (SerialLine *line : lines_) {
                if (line->busy_) {
                    anyBusy = true;
                } else if (!line->gone_) {
                    fds.push_back({line->fd_, POLLIN, 0});
                    watched.push_back(line);
                }
            }
        }
        fds.push_back({wake_, POLLIN, 0});
        if (poll(fds.data(), fds.size(), anyBusy ? BusyRecheckMs : -1) <= 0)
            continue;
        if (fds.back().revents) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wake_, &count, sizeof count);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = 0; i < watched.size(); ++i) {
            // A line may have been removed (and freed), or become busy, meanwhile.
            SerialLine *line = watched[i];
            if (fds[i].revents && std::find(lines_.begin(), lines_.end(), line) != lines_.end() && !line->busy_)
                line->readBetweenCalls(fds[i].revents);
        }
    }
}
