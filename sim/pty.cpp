#include "pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

Pty::~Pty()
{
    close();
}

bool Pty::open(std::string &error)
{
    close();
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    char name[PATH_MAX] = {};
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        master_ = slave_ = -1;
        return false;
    }
    slavePath_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(slave_, F_SETFL, fcntl(slave_, F_GETFL) | O_NONBLOCK);
    return true;
}

void Pty::close()
{
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
}

size_t Pty::write(const uint8_t *bytes, size_t size)
{
    size_t done = 0;
    while (done < size && master_ >= 0) {
        const ssize_t n = ::write(master_, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            // Give a reader a moment to make room, then give up on the rest.
            pollfd p{master_, POLLOUT, 0};
            if (poll(&p, 1, 20) <= 0)
                break;
        } else {
            break;
        }
    }
    return size - done;
}
