#include "serialline.h"

#include "linereader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <system_error>

namespace {

// Upper bound on the reads of one non-waiting take-in, so a flood of bytes on
// the line cannot keep a call busy.
constexpr int MaxReadsWithoutWaiting = 64;

constexpr short Broken = POLLHUP | POLLERR | POLLNVAL;

// poll()'s wait until `deadline`, rounded up so that it does not wake early.
int waitMs(Deadline deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

bool expired(Deadline deadline)
{
    return Clock::now() >= deadline;
}

// Errors of read() and write() that mean the terminal is gone, not busy.
bool lostLine(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

} // namespace

Deadline deadlineIn(int ms)
{
    return Clock::now() + std::chrono::milliseconds(ms);
}

// Marks the line busy for the length of a call, so the reader leaves the port
// to the call.
class SerialLine::Busy
{
public:
    explicit Busy(SerialLine &line)
        : line_(line)
    {
        line_.setBusy(true);
    }
    ~Busy() { line_.setBusy(false); }
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;

private:
    SerialLine &line_;
};

SerialLine::SerialLine() = default;

SerialLine::~SerialLine()
{
    close();
}

Failure SerialLine::open(const std::string &path)
{
    close();
    reason_.clear();
    struct stat st
    { };
    if (stat(path.c_str(), &st) != 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR)
            return Failure::NoSuchPort;
        reason_ = std::strerror(e);
        return Failure::CannotOpen;
    }
    if (S_ISDIR(st.st_mode))
        return Failure::IsDirectory;
    if (!S_ISCHR(st.st_mode))
        return Failure::NotAPort;

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT || e == ENXIO || e == ENODEV)
            return Failure::NoSuchPort;
        if (e == EACCES || e == EPERM || e == EROFS)
            return Failure::AccessDenied;
        if (e == EBUSY) // held exclusively by another program
            return Failure::PortInUse;
        reason_ = std::strerror(e);
        return Failure::CannotOpen;
    }
    fd_ = fd;
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        close();
        return Failure::NotAPort; // a character device without line settings
    }
    // An advisory lock on the device itself holds whatever name (e.g. a
    // symbolic link) the port is opened by, and keeps out a second connection
    // of this process as well as other programs; exclusive mode keeps out
    // programs that open the terminal without asking for the lock.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close();
        return Failure::PortInUse;
    }
    ioctl(fd, TIOCEXCL);
    saved_ = settings;
    restore_ = true;
    // Pseudo-terminals may refuse some line settings; they carry bytes all the
    // same, so a refused setting is not an error.
    cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS | PARENB);
    settings.c_cflag |= CLOCAL | CREAD | CS8;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // With VMIN 1 a non-blocking read of an empty line fails with EAGAIN, so
    // that a read of nothing means the line hung up.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    tcsetattr(fd, TCSANOW, &settings);
    // Reports the unit sent while nobody listened are out of date.
    tcflush(fd, TCIOFLUSH);

    try {
        LineReader::instance().add(this);
        registered_ = true;
    } catch (const std::system_error &e) {
        reason_ = e.what();
        close();
        return Failure::CannotOpen;
    }
    return Failure::None;
}

void SerialLine::close()
{
    if (registered_) {
        LineReader::instance().remove(this);
        registered_ = false;
    }
    if (fd_ >= 0) {
        if (restore_) {
            // Leave the terminal as it was found, for the next program.
            tcsetattr(fd_, TCSANOW, &saved_);
            ioctl(fd_, TIOCNXCL);
        }
        // Released now, even while the reader's wait still holds the terminal.
        flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }
    restore_ = false;
    // The reader no longer touches this line.
    held_.clear();
    gone_ = false;
}

// A line that is not registered is the caller's alone: no lock is needed, and
// none is taken, so a failed open never starts the reader.
void SerialLine::setBusy(bool busy)
{
    if (!registered_)
        return;
    std::lock_guard<std::mutex> lock(LineReader::instance().mutex());
    busy_ = busy;
}

long long SerialLine::unread() const
{
    if (!registered_)
        return static_cast<long long>(held_.size());
    std::lock_guard<std::mutex> lock(LineReader::instance().mutex());
    return static_cast<long long>(held_.size());
}

uint64_t SerialLine::discarded() const
{
    if (!registered_)
        return discarded_;
    std::lock_guard<std::mutex> lock(LineReader::instance().mutex());
    return discarded_;
}

SerialLine::Read SerialLine::fill()
{
    for (;;) {
        const size_t room = MaxUnread - std::min<size_t>(held_.size(), MaxUnread);
        if (room == 0)
            return Read::Full;
        uint8_t buffer[MaxUnread];
        const ssize_t n = ::read(fd_, buffer, room);
        if (n > 0) {
            held_.insert(held_.end(), buffer, buffer + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Read::Drained;
        // End of file on a terminal, or an error: the line hung up.
        return Read::Gone;
    }
}

void SerialLine::readBetweenCalls(short events)
{
    // Reads at most this many buffers in a row, so a flood cannot hold up a call.
    constexpr int MaxFills = 16;
    for (int i = 0; i < MaxFills; ++i) {
        const Read r = fill();
        if (r != Read::Full) {
            // After a hang-up the calls find out for themselves.
            gone_ = r == Read::Gone || (events & Broken);
            return;
        }
        // Make room for newer input: the oldest half goes.
        const size_t dropped = held_.size() - MaxUnread / 2;
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(dropped));
        discarded_ += dropped;
    }
}

bool SerialLine::hungUp() const
{
    if (fd_ < 0)
        return true;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & Broken) != 0;
}

Failure SerialLine::write(const std::vector<uint8_t> &bytes, Deadline deadline)
{
    const Busy busy(*this);
    if (fd_ < 0 || hungUp())
        return Failure::PortGone;
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        const int e = n < 0 ? errno : EIO;
        if (e == EINTR)
            continue;
        if (e == EAGAIN || e == EWOULDBLOCK) {
            // Wait for room in the line's output buffer.
            if (expired(deadline))
                return Failure::SendTimeout;
            pollfd p{fd_, POLLOUT, 0};
            if (poll(&p, 1, waitMs(deadline)) > 0 && (p.revents & Broken))
                return Failure::PortGone;
            continue;
        }
        reason_ = std::strerror(e);
        return lostLine(e) || hungUp() ? Failure::PortGone : Failure::CannotSend;
    }
    return Failure::None;
}

Failure SerialLine::take(std::vector<uint8_t> &out)
{
    if (!registered_)
        return Failure::PortGone;
    std::lock_guard<std::mutex> lock(LineReader::instance().mutex());
    const size_t before = out.size();
    for (int i = 0; i < MaxReadsWithoutWaiting; ++i) {
        // What the reader gathered between calls comes first.
        const Read r = fill();
        out.insert(out.end(), held_.begin(), held_.end());
        held_.clear();
        if (r == Read::Gone && out.size() == before)
            return Failure::PortGone;
        if (r != Read::Full)
            break;
    }
    return Failure::None;
}

Failure SerialLine::readAvailable(std::vector<uint8_t> &out)
{
    const Busy busy(*this);
    return take(out);
}

Failure SerialLine::waitAndRead(std::vector<uint8_t> &out, Deadline deadline)
{
    const Busy busy(*this);
    const size_t before = out.size();
    for (;;) {
        const Failure now = take(out);
        if (now != Failure::None || out.size() > before || expired(deadline))
            return now;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, waitMs(deadline)) > 0 && (p.revents & Broken) && !(p.revents & POLLIN))
            return Failure::PortGone;
    }
}
