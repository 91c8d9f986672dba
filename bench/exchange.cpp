#include "exchange.h"

#include "benchutil.h"
#include "decoder.h"
#include "frame.h"
#include "libkesmarctl.h"
#include "protocol.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

using namespace kesmarproto;

namespace bench {
namespace {

// Device 1 of the program: id 48 + 1, as the program computes it.
constexpr uint8_t Device = 49;
// Where the simulator's devices start; storing and going there moves nothing,
// so no position reports are sent (the simulator also runs in PC mode).
constexpr int Home = 10250;
constexpr int AnswerTimeoutMs = 1000;

double elapsedUs(long long since)
{
    return static_cast<double>(nowNs() - since) / 1000.0;
}

// The floor: the same frames written and read with plain POSIX calls.
class RawLine
{
public:
    ~RawLine() { close(); }

    bool open(const std::string &path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return false;
        termios t{};
        if (tcgetattr(fd_, &t) != 0)
            return false;
        cfmakeraw(&t);
        cfsetispeed(&t, B115200);
        cfsetospeed(&t, B115200);
        if (tcsetattr(fd_, TCSANOW, &t) != 0)
            return false;
        return tcflush(fd_, TCIOFLUSH) == 0;
    }

    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    // Writes `request` with the next sequence number and reads `answerSize`
    // bytes back; the answer stays in answer() for checking afterwards.
    bool exchange(Frame request, size_t answerSize)
    {
        sequence_ = static_cast<uint8_t>(sequence_ == 0xFF ? 1 : sequence_ + 1);
        request.sequence = sequence_;
        const std::vector<uint8_t> bytes = request.encode();
        size_t written = 0;
        while (written < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
            if (n > 0) {
                written += static_cast<size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                if (poll(&p, 1, AnswerTimeoutMs) <= 0)
                    return false;
            } else if (errno != EINTR) {
                return false;
            }
        }
        answer_.resize(answerSize);
        size_t got = 0;
        while (got < answerSize) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, AnswerTimeoutMs) <= 0)
                return false;
            const ssize_t n = ::read(fd_, answer_.data() + got, answerSize - got);
            if (n > 0)
                got += static_cast<size_t>(n);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                return false;
        }
        return true;
    }

    // True when the bytes read are exactly the positive answer to `command`.
    bool answerIs(uint8_t command) const
    {
        Decoder d;
        d.feed(answer_.data(), answer_.size());
        Frame f;
        return d.next(f) && f.command == (command | ReplyFlag) && f.sequence == sequence_ && d.buffered() == 0;
    }

private:
    int fd_ = -1;
    uint8_t sequence_ = 0;
    std::vector<uint8_t> answer_;
};

Frame getPositionRequest()
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

size_t answerSize(size_t payload)
{
    return HeaderSize + payload + CrcSize; // the header includes the start byte
}

} // namespace

ExchangeResults measureExchanges(const std::string &port, int rounds, int iterations)
{
    ExchangeResults r;
    const size_t positionAnswer = answerSize(len::Position);
    const size_t ack = answerSize(0);
    r.pollBytes = getPositionRequest().encode().size() + positionAnswer;
    r.gotoBytes = storeRequest().encode().size() + ack + gotoRequest().encode().size() + ack;
    const int warmup = iterations / 10;

    for (int round = 0; round < rounds; ++round) {
        // The library, called as the program's updatePositions and gotoTarget call it.
        kesmarctl_connection *h = kesmarctl_open(port.c_str(), 100);
        if (!h) {
            std::fprintf(stderr, "kesmarbench: open failed: %s\n", kesmarctl_last_errorstr(nullptr));
            ++r.failures;
            return r;
        }
        for (int i = 0; i < warmup + iterations; ++i) {
            int x = -1, y = -1, z = -1;
            const long long t0 = nowNs();
            kesmarctl_recv(h);
            const int rc = kesmarctl_get_position_ext(h, Device, 0, &x, &y, &z);
            const double us = elapsedUs(t0);
            if (rc < 0)
                ++r.failures;
            else if (i >= warmup)
                r.poll.library.push_back(us);
        }
        for (int i = 0; i < warmup + iterations; ++i) {
            const long long t0 = nowNs();
            const bool ok = kesmarctl_store_mem_position_ext(h, Device, Home, Home, Home, 0) >= 0
                && kesmarctl_goto_mem_position_ext(h, Device, 0) >= 0;
            const double us = elapsedUs(t0);
            if (!ok)
                ++r.failures;
            else if (i >= warmup)
                r.go.library.push_back(us);
        }
        kesmarctl_close(h);

        // The floor: the same bytes over the same terminal, nothing else.
        RawLine line;
        if (!line.open(port)) {
            std::perror("kesmarbench: raw open");
            ++r.failures;
            return r;
        }
        for (int i = 0; i < warmup + iterations; ++i) {
            const long long t0 = nowNs();
            const bool ok = line.exchange(getPositionRequest(), positionAnswer);
            const double us = elapsedUs(t0);
            if (!ok || !line.answerIs(cmd::GetPosition))
                ++r.failures;
            else if (i >= warmup)
                r.poll.raw.push_back(us);
        }
        for (int i = 0; i < warmup + iterations; ++i) {
            const long long t0 = nowNs();
            bool ok = line.exchange(storeRequest(), ack);
            const long long t1 = nowNs();
            ok = ok && line.answerIs(cmd::StoreMemory);
            const long long t2 = nowNs();
            ok = ok && line.exchange(gotoRequest(), ack);
            const double us = static_cast<double>((t1 - t0) + (nowNs() - t2)) / 1000.0;
            if (!ok || !line.answerIs(cmd::GotoMemory))
                ++r.failures;
            else if (i >= warmup)
                r.go.raw.push_back(us);
        }
    }
    return r;
}

Samples measureOpen(const std::string &port, int runs, int &failures)
{
    Samples s;
    for (int i = 0; i < runs; ++i) {
        {
            const long long t0 = nowNs();
            kesmarctl_connection *h = kesmarctl_open(port.c_str(), 100);
            int x = -1, y = -1, z = -1;
            const bool ok = h && kesmarctl_get_position_ext(h, Device, 0, &x, &y, &z) >= 0;
            const double us = elapsedUs(t0);
            kesmarctl_close(h);
            if (ok)
                s.library.push_back(us);
            else
                ++failures;
        }
        {
            RawLine line;
            const long long t0 = nowNs();
            bool ok = line.open(port)
                && line.exchange(Frame(UnitAddress, cmd::Identify, 0), answerSize(len::IdentifyReply));
            const long long t1 = nowNs();
            ok = ok && line.answerIs(cmd::Identify);
            const long long t2 = nowNs();
            ok = ok && line.exchange(getPositionRequest(), answerSize(len::Position));
            const double us = static_cast<double>((t1 - t0) + (nowNs() - t2)) / 1000.0;
            if (ok && line.answerIs(cmd::GetPosition))
                s.raw.push_back(us);
            else
                ++failures;
        }
    }
    return s;
}

} // namespace bench
