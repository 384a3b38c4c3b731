#include "PtyPair.h"

#include "platform/tty/Termios2.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Waits for events on fd until the deadline; false when it passed or the fd reports an error.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry { fd, events, 0 };
        const int ready = poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0 && (entry.revents & events);
    }
}

} // namespace

PtyPair::PtyPair()
{
    char name[PATH_MAX] = {};
    termios raw {};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B9600);
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        ADD_FAILURE() << "no pseudo-terminal could be made: errno " << errno;
        master_ = slave_ = -1;
        return;
    }
    slavePath_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (slave_ >= 0)
        close(slave_);
}

size_t PtyPair::write(const std::string& bytes, std::chrono::milliseconds timeout)
{
    return write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), timeout);
}

size_t PtyPair::write(const uint8_t* bytes, size_t count, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    size_t written = 0;
    while (master_ >= 0 && written < count) {
        const ssize_t took = ::write(master_, bytes + written, count - written);
        if (took > 0)
            written += static_cast<size_t>(took);
        else if (took < 0 && errno == EINTR)
            continue;
        else if ((took < 0 && errno != EAGAIN) || !waitFor(master_, POLLOUT, deadline))
            break;
    }
    return written;
}

std::string PtyPair::read(size_t count, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    std::string received;
    while (master_ >= 0 && received.size() < count) {
        received += readAvailable();
        if (received.size() >= count || !waitFor(master_, POLLIN, deadline))
            break;
    }
    received += readAvailable();
    return received;
}

std::string PtyPair::readAvailable()
{
    std::string received;
    char chunk[4096];
    for (;;) {
        if (master_ < 0)
            break;
        const ssize_t got = ::read(master_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        received.append(chunk, static_cast<size_t>(got));
    }
    return received;
}

void PtyPair::closeMaster()
{
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

bool PtyPair::slaveLine(platform::LineBits& out) const
{
    // On a master, the settings calls act on the slave's settings.
    return (master_ >= 0 && platform::readLineBits(master_, out))
        || (slave_ >= 0 && platform::readLineBits(slave_, out));
}

bool PtyPair::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
