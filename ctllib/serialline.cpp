#include "serialline.h"

#include <QSerialPort>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

// Upper bound on the reads of one non-waiting take-in, so a flood of bytes on
// the line cannot keep a call busy.
constexpr int MaxReadsWithoutWaiting = 64;

int waitMs(const QDeadlineTimer &deadline)
{
    return static_cast<int>(std::min<qint64>(deadline.remainingTime(), INT_MAX));
}

// Marks the line busy for the length of a call, so input read meanwhile is
// left alone for the call itself.
class Busy
{
public:
    explicit Busy(bool &flag)
        : flag_(flag)
    {
        flag_ = true;
    }
    ~Busy() { flag_ = false; }
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;

private:
    bool &flag_;
};

} // namespace

SerialLine::SerialLine() = default;

SerialLine::~SerialLine()
{
    close();
}

Failure SerialLine::open(const QString &path)
{
    close();
    reason_.clear();
    const QByteArray local = path.toLocal8Bit();
    struct stat st
    { };
    if (stat(local.constData(), &st) != 0) {
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

    port_ = std::make_unique<QSerialPort>();
    port_->setPortName(path);
    if (!port_->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError code = port_->error();
        reason_ = port_->errorString().toStdString();
        close();
        if (code == QSerialPort::PermissionError)
            // The port's lock file is held, or the device refuses us.
            return access(local.constData(), R_OK | W_OK) == 0 ? Failure::PortInUse : Failure::AccessDenied;
        if (code == QSerialPort::DeviceNotFoundError)
            return Failure::NoSuchPort;
        if (reason_ == std::strerror(ENOTTY))
            return Failure::NotAPort; // a character device without line settings
        return Failure::CannotOpen;
    }
    const int fd = static_cast<int>(port_->handle());
    if (fd < 0 || !isatty(fd)) {
        close();
        return Failure::NotAPort;
    }
    // An advisory lock on the device itself: unlike a lock file it holds
    // whatever name (e.g. a symbolic link) the port is opened by, and it keeps
    // out a second connection of this process as well as other programs.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close();
        return Failure::PortInUse;
    }
    // Pseudo-terminals may refuse some line settings; they carry bytes all the
    // same, so a refused setting is not an error.
    port_->setBaudRate(QSerialPort::Baud115200);
    port_->setDataBits(QSerialPort::Data8);
    port_->setParity(QSerialPort::NoParity);
    port_->setStopBits(QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    // Reports the unit sent while nobody listened are out of date.
    port_->clear(QSerialPort::AllDirections);
    port_->clearError();
    // A running event loop reads the port between calls; keep what it
    // gathers bounded.
    port_->setReadBufferSize(MaxUnread);
    QObject::connect(port_.get(), &QSerialPort::readyRead, port_.get(), [this] {
        if (!busy_)
            dropOldest();
    });
    return Failure::None;
}

void SerialLine::close()
{
    if (port_) {
        if (port_->isOpen())
            port_->close();
        port_.reset();
    }
}

qint64 SerialLine::unread() const
{
    return port_ ? port_->bytesAvailable() : 0;
}

void SerialLine::dropOldest()
{
    // Make room for newer input once the buffer is full: the port stops
    // reading when it holds MaxUnread bytes.
    const qint64 held = port_->bytesAvailable();
    if (held < MaxUnread)
        return;
    const qint64 skipped = port_->skip(held - MaxUnread / 2);
    if (skipped > 0)
        discarded_ += static_cast<uint64_t>(skipped);
}

bool SerialLine::hungUp() const
{
    if (!port_ || !port_->isOpen())
        return true;
    pollfd p{static_cast<int>(port_->handle()), POLLIN, 0};
    if (poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

Failure SerialLine::lostOrNothing()
{
    const QSerialPort::SerialPortError code = port_->error();
    port_->clearError();
    if (code == QSerialPort::NoError || code == QSerialPort::TimeoutError)
        return Failure::None;
    if (hungUp() || code == QSerialPort::ResourceError)
        return Failure::PortGone;
    // A failed read on a line that is still there: report nothing and let the
    // caller's deadline decide.
    return Failure::None;
}

Failure SerialLine::write(const std::vector<uint8_t> &bytes, const QDeadlineTimer &deadline)
{
    const Busy busy(busy_);
    if (!port_ || !port_->isOpen() || hungUp())
        return Failure::PortGone;
    if (port_->write(reinterpret_cast<const char *>(bytes.data()), static_cast<qint64>(bytes.size()))
        != static_cast<qint64>(bytes.size())) {
        reason_ = port_->errorString().toStdString();
        port_->clearError();
        return hungUp() ? Failure::PortGone : Failure::CannotSend;
    }
    // Hand the bytes to the line directly and wait for room with poll():
    // QSerialPort's own wait also reads, and stalls while its bounded read
    // buffer is full under a flood of input.
    for (;;) {
        port_->flush();
        const QSerialPort::SerialPortError code = port_->error();
        if (code != QSerialPort::NoError && code != QSerialPort::TimeoutError) {
            reason_ = port_->errorString().toStdString();
            port_->clearError();
            return hungUp() || code == QSerialPort::ResourceError ? Failure::PortGone : Failure::CannotSend;
        }
        if (port_->bytesToWrite() == 0)
            return Failure::None;
        if (deadline.hasExpired())
            return Failure::SendTimeout;
        pollfd p{static_cast<int>(port_->handle()), POLLOUT, 0};
        if (poll(&p, 1, waitMs(deadline)) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            return Failure::PortGone;
    }
}

Failure SerialLine::readAvailable(std::vector<uint8_t> &out)
{
    const Busy busy(busy_);
    if (!port_ || !port_->isOpen())
        return Failure::PortGone;
    const size_t before = out.size();
    const auto take = [&] {
        const QByteArray data = port_->readAll();
        out.insert(out.end(), data.begin(), data.end());
    };
    // Data a running event loop already read into the port's buffer comes first.
    take();
    for (int i = 0; i < MaxReadsWithoutWaiting; ++i) {
        if (!port_->waitForReadyRead(0)) {
            if (lostOrNothing() == Failure::PortGone && out.size() == before)
                return Failure::PortGone;
            break;
        }
        take();
    }
    return Failure::None;
}

Failure SerialLine::waitAndRead(std::vector<uint8_t> &out, const QDeadlineTimer &deadline)
{
    const size_t before = out.size();
    for (;;) {
        const Failure now = readAvailable(out);
        if (now != Failure::None || out.size() > before || deadline.hasExpired())
            return now;
        const Busy busy(busy_);
        if (port_->waitForReadyRead(waitMs(deadline))) {
            const QByteArray data = port_->readAll();
            out.insert(out.end(), data.begin(), data.end());
            if (!data.isEmpty())
                return Failure::None;
        } else if (lostOrNothing() == Failure::PortGone) {
            return Failure::PortGone;
        }
    }
}
