#include "exchange.h"

#include "decoder.h"
#include "frame.h"
#include "libkesmarctl.h"
#include "protocol.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>

using namespace kesmarproto;

namespace bench {
namespace {

// Device 1 of the program: id 48 + 1, as the program computes it.
constexpr uint8_t Device = 49;
// Where the simulator's devices start; storing and going there moves nothing.
constexpr int Home = 10250;
constexpr int AnswerTimeoutMs = 1000;

// The floor: the same frames written and read with plain POSIX calls.
class RawLine
{
public:
    ~RawLine()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    bool open(const std::string &path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios t{};
        if (fd_ < 0 || tcgetattr(fd_, &t) != 0)
            return false;
        cfmakeraw(&t);
        cfsetispeed(&t, B115200);
        cfsetospeed(&t, B115200);
        return tcsetattr(fd_, TCSANOW, &t) == 0 && tcflush(fd_, TCIOFLUSH) == 0;
    }

    // Writes `request` with the next sequence number and reads as many bytes
    // as an answer with `payload` bytes has; answered() checks them afterwards,
    // outside any timing.
    bool exchange(Frame request, size_t payload)
    {
        sequence_ = static_cast<uint8_t>(sequence_ == 0xFF ? 1 : sequence_ + 1);
        request.sequence = sequence_;
        command_ = request.command;
        const std::vector<uint8_t> bytes = request.encode();
        return transfer(bytes.data(), bytes.size(), POLLOUT)
            && transfer(nullptr, HeaderSize + payload + CrcSize, POLLIN); // the header has the start byte
    }

    // True when the bytes read are exactly the positive answer to the last request.
    bool answered() const
    {
        Decoder d;
        d.feed(answer_.data(), answer_.size());
        Frame f;
        return d.next(f) && f.command == (command_ | ReplyFlag) && f.sequence == sequence_ && d.buffered() == 0;
    }

private:
    // Writes `size` bytes from `out`, or reads `size` bytes into answer_.
    bool transfer(const uint8_t *out, size_t size, short event)
    {
        if (!out)
            answer_.resize(size);
        for (size_t done = 0; done < size;) {
            pollfd p{fd_, event, 0};
            if (poll(&p, 1, AnswerTimeoutMs) <= 0)
                return false;
            const ssize_t n
                = out ? ::write(fd_, out + done, size - done) : ::read(fd_, answer_.data() + done, size - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                return false;
        }
        return true;
    }

    int fd_ = -1;
    uint8_t sequence_ = 0;
    uint8_t command_ = 0;
    std::vector<uint8_t> answer_;
};

Frame positionRequest()
{
    Frame f(Device, cmd::GetPosition, 0);
    f.appendU16(0);
    return f;
}

Frame storeRequest()
{
    Frame f(Device, cmd::StoreMemory, 0);
    f.appendU8(0);
    f.appendI32(Home);
    f.appendI32(Home);
    f.appendI32(Home);
    return f;
}

Frame gotoRequest()
{
    Frame f(Device, cmd::GotoMemory, 0);
    f.appendU8(0);
    return f;
}

// Runs `step` warm-up + `n` times; keeps the µs of the successful timed runs.
void timeRuns(int n, std::vector<double> &samples, int &failures, const std::function<bool()> &step)
{
    for (int i = -n / 10; i < n; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = step();
        const std::chrono::duration<double, std::micro> us = std::chrono::steady_clock::now() - t0;
        if (!ok)
            ++failures;
        else if (i >= 0)
            samples.push_back(us.count());
    }
}

} // namespace

ExchangeResults measureExchanges(const std::string &port, int opens, int rounds, int iterations)
{
    ExchangeResults r;
    const auto libraryPosition = [](kesmarctl_connection *h) {
        int x = -1, y = -1, z = -1;
        return kesmarctl_get_position_ext(h, Device, 0, &x, &y, &z) >= 0;
    };

    for (int i = 0; i < opens; ++i) {
        timeRuns(1, r.open.library, r.failures, [&] {
            kesmarctl_connection *h = kesmarctl_open(port.c_str(), 100);
            const bool ok = h && libraryPosition(h);
            kesmarctl_close(h);
            return ok;
        });
        timeRuns(1, r.open.raw, r.failures, [&] {
            RawLine line;
            return line.open(port) && line.exchange(Frame(UnitAddress, cmd::Identify, 0), len::IdentifyReply)
                && line.exchange(positionRequest(), len::Position);
        });
    }

    for (int round = 0; round < rounds; ++round) {
        // The library, called as the program's updatePositions and gotoTarget call it.
        kesmarctl_connection *h = kesmarctl_open(port.c_str(), 100);
        if (!h) {
            ++r.failures;
            return r;
        }
        timeRuns(iterations, r.poll.library, r.failures, [&] {
            kesmarctl_recv(h);
            return libraryPosition(h);
        });
        timeRuns(iterations, r.go.library, r.failures, [&] {
            return kesmarctl_store_mem_position_ext(h, Device, Home, Home, Home, 0) >= 0
                && kesmarctl_goto_mem_position_ext(h, Device, 0) >= 0;
        });
        kesmarctl_close(h);

        // The floor: the same bytes over the same terminal, nothing else; the
        // answers are checked once per block, outside the timing.
        RawLine line;
        if (!line.open(port)) {
            ++r.failures;
            return r;
        }
        timeRuns(iterations, r.poll.raw, r.failures, [&] { return line.exchange(positionRequest(), len::Position); });
        r.failures += !line.answered();
        timeRuns(iterations, r.go.raw, r.failures,
                 [&] { return line.exchange(storeRequest(), 0) && line.exchange(gotoRequest(), 0); });
        r.failures += !line.answered();
    }
    return r;
}

} // namespace bench
