// The pseudo-terminal the simulator serves: the client opens the slave side.
#ifndef KESMARSIM_PTY_H
#define KESMARSIM_PTY_H

#include <cstddef>
#include <cstdint>
#include <string>

class Pty
{
public:
    Pty() = default;
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    // Creates a new terminal pair in raw mode. On failure returns false and
    // sets `error`.
    bool open(std::string &error);
    void close();

    int masterFd() const { return master_; }
    const std::string &slavePath() const { return slavePath_; }

    // Writes all of `bytes` unless the terminal's buffer is full (nobody reads
    // the slave side); what does not fit is dropped. Returns bytes dropped.
    size_t write(const uint8_t *bytes, size_t size);

private:
    int master_ = -1;
    // The simulator keeps the slave side open itself, so the master never
    // sees a hang-up while no client has the terminal open, e.g. while the
    // client reconnects.
    int slave_ = -1;
    std::string slavePath_;
};

#endif
