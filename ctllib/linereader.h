// The one thread of the library: it reads the open serial lines between
// calls, so that stale reports give way to newer ones whether or not the
// caller runs an event loop. Started with the first line and kept for the
// life of the process, so opening and closing a connection waits for no
// other thread.
#ifndef KESMARCTL_LINEREADER_H
#define KESMARCTL_LINEREADER_H

#include <mutex>
#include <vector>

class SerialLine;

class LineReader
{
public:
    // The process's reader; starts its thread on first use (may throw
    // std::system_error when the system refuses a thread).
    static LineReader &instance();

    // Guards the input buffer and the busy flag of every line.
    std::mutex &mutex() { return mutex_; }

    // Reads `line` between its calls from now on.
    void add(SerialLine *line);
    // Stops reading `line`; once it returns, the reader no longer touches it.
    void remove(SerialLine *line);

private:
    LineReader();
    void run();
    void wake();

    std::mutex mutex_;
    std::vector<SerialLine *> lines_;
    int wake_ = -1; // eventfd that makes the thread look at lines_ afresh
};

#endif
