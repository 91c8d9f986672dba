// The serial line under a connection: a terminal device opened with plain
// POSIX calls, 115200 8N1 raw, held exclusively. Calls wait with poll() and
// never past the deadline they are given. Between calls the LineReader reads
// what arrives into a small bounded buffer, so that stale reports give way to
// newer ones whether or not the caller runs an event loop.
#ifndef KESMARCTL_SERIALLINE_H
#define KESMARCTL_SERIALLINE_H

#include "ctlerror.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include <termios.h>
#include <vector>

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// A deadline `ms` milliseconds from now.
Deadline deadlineIn(int ms);

class SerialLine
{
public:
    // Most input held for the caller while nobody takes it in: the oldest
    // bytes beyond this go first. Stale reports are all such input can hold.
    static constexpr int MaxUnread = 4096;

    SerialLine();
    ~SerialLine();
    SerialLine(const SerialLine &) = delete;
    SerialLine &operator=(const SerialLine &) = delete;

    // Opens `path` at 115200 8N1 and discards whatever input was pending.
    // Fails for a missing path, something that is not a serial port, or a
    // port that this or another program holds.
    Failure open(const std::string &path);
    void close();

    // Each call returns Failure::None on success; reason() then holds the
    // system's words for the last failure, where it gave any.

    // Sends all of `bytes` by `deadline`.
    Failure write(const std::vector<uint8_t> &bytes, Deadline deadline);
    // Appends what has arrived to `out` without waiting.
    Failure readAvailable(std::vector<uint8_t> &out);
    // Waits until something arrives or `deadline` passes, then appends it to `out`.
    Failure waitAndRead(std::vector<uint8_t> &out, Deadline deadline);

    const std::string &reason() const { return reason_; }
    // Input received and not yet taken, and input dropped to stay within MaxUnread.
    long long unread() const;
    uint64_t discarded() const;

private:
    friend class LineReader;
    class Busy;
    enum class Read
    {
        Drained, // nothing more to read now
        Full, // the buffer holds MaxUnread bytes
        Gone, // the line hung up
    };
    // Reads what the terminal holds into held_, at most up to MaxUnread bytes.
    // This and the two below run with the LineReader's mutex held.
    Read fill();
    // Moves what the reader gathered, then what the terminal holds, to `out`.
    Failure take(std::vector<uint8_t> &out);
    // The LineReader's part: input came (`events` of poll()) while no call ran.
    void readBetweenCalls(short events);
    bool hungUp() const;
    // Marks the line busy with a call, so the reader leaves the port alone.
    void setBusy(bool busy);

    int fd_ = -1;
    std::string reason_;
    termios saved_{}; // the terminal's settings before open(), put back by close()
    bool restore_ = false;
    bool registered_ = false; // with the LineReader

    // Guarded by the LineReader's mutex.
    std::vector<uint8_t> held_; // read between calls, not yet taken by a call
    uint64_t discarded_ = 0;
    bool busy_ = false;
    bool gone_ = false; // the reader saw the line hang up
};

#endif
