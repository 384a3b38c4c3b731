#include "platform/tty/Loopback.h"

#include <cerrno>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

void closeIfOpen(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Writes what was read back to the master; the slave's reader drains it, so this rarely waits.
// Returns false when the pair is gone or a stop was asked for while waiting.
bool echo(int master, int wake, const char* bytes, ssize_t count)
{
    while (count > 0) {
        const ssize_t written = ::write(master, bytes, static_cast<size_t>(count));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                return false;
            pollfd fds[] = { { master, POLLOUT, {} }, { wake, POLLIN, {} } };
            if ((::poll(fds, std::size(fds), -1) < 0 && errno != EINTR) || fds[1].revents)
                return false;
            continue;
        }
        bytes += written;
        count -= written;
    }
    return true;
}

} // namespace

Loopback::~Loopback()
{
    stop();
}

bool Loopback::start()
{
    int slave = -1;
    char name[128] = {};
    if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0)
        return false;
    // The echo side must be raw, or the line discipline would answer with its own echo and CR/LF.
    termios raw {};
    if (::tcgetattr(master_, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(master_, TCSANOW, &raw);
    }
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    keepSlave_ = slave;
    ::fcntl(keepSlave_, F_SETFD, FD_CLOEXEC);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        stop();
        return false;
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    path_ = name;
    thread_ = std::thread([this] { run(); });
    return true;
}

void Loopback::stop()
{
    if (thread_.joinable()) {
        const char stopByte = 0;
        [[maybe_unused]] ssize_t ignored = ::write(wakeWrite_, &stopByte, 1);
        thread_.join();
    }
    closeIfOpen(wakeRead_);
    closeIfOpen(wakeWrite_);
    closeIfOpen(keepSlave_);
    closeIfOpen(master_);
}

void Loopback::run()
{
    char buffer[4096];
    for (;;) {
        pollfd fds[] = { { master_, POLLIN, {} }, { wakeRead_, POLLIN, {} } };
        const int ready = ::poll(fds, std::size(fds), -1);
        if (ready < 0 && errno == EINTR)
            continue;
        // A hang-up of the master cannot come while our own slave is open: never spin on one.
        if (ready < 0 || fds[1].revents || !(fds[0].revents & POLLIN))
            return;
        const ssize_t got = ::read(master_, buffer, sizeof buffer);
        if (got > 0 && !echo(master_, wakeRead_, buffer, got))
            return;
    }
}

} // namespace platform
