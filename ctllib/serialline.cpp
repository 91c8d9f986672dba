#include "serialline.h"

#include <QSerialPort>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace {

// Ports held open by connections of this process, by canonical path: a second
// connection to the same port would steal the first one's answers.
std::mutex openPortsMutex;
std::set<std::string> openPorts;

std::string canonical(const QString &path)
{
    char resolved[PATH_MAX];
    const QByteArray local = path.toLocal8Bit();
    if (realpath(local.constData(), resolved))
        return resolved;
    return local.toStdString();
}

// Upper bound on the reads of one non-waiting take-in, so a flood of bytes on
// the line cannot keep a call busy.
constexpr int MaxReadsWithoutWaiting = 64;

} // namespace

SerialLine::SerialLine() = default;

SerialLine::~SerialLine()
{
    close();
}

bool SerialLine::open(const QString &path, std::string &error)
{
    close();
    const std::string shown = path.toStdString();
    const QByteArray local = path.toLocal8Bit();
    struct stat st
    { };
    if (stat(local.constData(), &st) != 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR)
            error = "port " + shown + " does not exist";
        else
            error = "cannot open port " + shown + ": " + std::strerror(e);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = shown + " is a directory, not a serial port";
        return false;
    }
    if (!S_ISCHR(st.st_mode)) {
        error = shown + " is not a serial port (not a character device)";
        return false;
    }

    const std::string canonicalPath = canonical(path);
    {
        std::lock_guard<std::mutex> lock(openPortsMutex);
        if (openPorts.count(canonicalPath)) {
            error = "port " + shown + " is already in use by another connection of this program";
            return false;
        }
        openPorts.insert(canonicalPath);
    }
    canonicalPath_ = canonicalPath;

    port_ = std::make_unique<QSerialPort>();
    port_->setPortName(path);
    if (!port_->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError code = port_->error();
        const std::string reason = port_->errorString().toStdString();
        if (code == QSerialPort::PermissionError)
            error = "port " + shown + " is in use by another program or access is denied (" + reason + ")";
        else if (code == QSerialPort::DeviceNotFoundError)
            error = "port " + shown + " does not exist";
        else if (port_->errorString() == QString::fromLocal8Bit(std::strerror(ENOTTY)))
            error = shown + " is not a serial port (" + reason + ")"; // a character device without line settings
        else
            error = "cannot open port " + shown + ": " + reason;
        close();
        return false;
    }
    const int fd = static_cast<int>(port_->handle());
    if (fd < 0 || !isatty(fd)) {
        error = shown + " is not a serial port";
        close();
        return false;
    }
    // An advisory lock on the device itself: unlike a lock file it holds
    // whatever name (e.g. a symbolic link) other programs open the port by.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = "port " + shown + " is in use by another program";
        close();
        return false;
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
    return true;
}

void SerialLine::close()
{
    if (port_) {
        if (port_->isOpen())
            port_->close();
        port_.reset();
    }
    if (!canonicalPath_.empty()) {
        std::lock_guard<std::mutex> lock(openPortsMutex);
        openPorts.erase(canonicalPath_);
        canonicalPath_.clear();
    }
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

SerialLine::Read SerialLine::lostOrNothing(std::string &error)
{
    const QSerialPort::SerialPortError code = port_->error();
    const QString reason = port_->errorString();
    port_->clearError();
    if (code == QSerialPort::NoError || code == QSerialPort::TimeoutError)
        return Read::Nothing;
    if (hungUp() || code == QSerialPort::ResourceError) {
        error = "the port was hung up or removed";
        return Read::Lost;
    }
    // A failed read on a line that is still there: report nothing and let the
    // caller's deadline decide.
    return Read::Nothing;
}

bool SerialLine::write(const std::vector<uint8_t> &bytes, const QDeadlineTimer &deadline, std::string &error,
                       bool &lost)
{
    lost = false;
    if (!port_ || !port_->isOpen() || hungUp()) {
        error = "the port was hung up or removed";
        lost = true;
        return false;
    }
    if (port_->write(reinterpret_cast<const char *>(bytes.data()), static_cast<qint64>(bytes.size()))
        != static_cast<qint64>(bytes.size())) {
        error = "cannot send: " + port_->errorString().toStdString();
        lost = hungUp();
        port_->clearError();
        return false;
    }
    while (port_->bytesToWrite() > 0) {
        const qint64 remaining = deadline.remainingTime();
        if (remaining == 0) {
            error = "cannot send: the line does not take the data in time";
            return false;
        }
        if (!port_->waitForBytesWritten(static_cast<int>(remaining))) {
            const QSerialPort::SerialPortError code = port_->error();
            const std::string reason = port_->errorString().toStdString();
            port_->clearError();
            if (hungUp() || code == QSerialPort::ResourceError) {
                error = "the port was hung up or removed";
                lost = true;
                return false;
            }
            if (code != QSerialPort::TimeoutError && code != QSerialPort::NoError) {
                error = "cannot send: " + reason;
                return false;
            }
        }
    }
    return true;
}

SerialLine::Read SerialLine::readAvailable(std::vector<uint8_t> &out, std::string &error)
{
    if (!port_ || !port_->isOpen()) {
        error = "the port is closed";
        return Read::Lost;
    }
    const size_t before = out.size();
    const auto take = [&] {
        const QByteArray data = port_->readAll();
        out.insert(out.end(), data.begin(), data.end());
    };
    // Data a running event loop already read into the port's buffer comes first.
    take();
    for (int i = 0; i < MaxReadsWithoutWaiting; ++i) {
        if (!port_->waitForReadyRead(0)) {
            if (lostOrNothing(error) == Read::Lost && out.size() == before)
                return Read::Lost;
            break;
        }
        take();
    }
    return out.size() > before ? Read::Data : Read::Nothing;
}

SerialLine::Read SerialLine::waitAndRead(std::vector<uint8_t> &out, const QDeadlineTimer &deadline, std::string &error)
{
    for (;;) {
        const Read now = readAvailable(out, error);
        if (now != Read::Nothing)
            return now;
        const qint64 remaining = deadline.remainingTime();
        if (remaining == 0)
            return Read::Nothing;
        if (port_->waitForReadyRead(static_cast<int>(remaining))) {
            const QByteArray data = port_->readAll();
            out.insert(out.end(), data.begin(), data.end());
            if (!data.isEmpty())
                return Read::Data;
        } else if (lostOrNothing(error) == Read::Lost) {
            return Read::Lost;
        }
    }
}
