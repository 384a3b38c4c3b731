#include "PtyPair.h"

#include "platform/discovery/LockFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <thread>

using Clock = std::chrono::steady_clock;

PtyPair::PtyPair()
{
    char name[128] = {};
    termios raw {};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B9600);
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        ADD_FAILURE() << "no pseudo-terminal could be made: errno " << errno; // openpty set neither
        return;
    }
    slavePath_ = name;
    fcntl(master_, F_SETFL, O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair()
{
    closeMaster();
    close(slave_); // nothing to close is a harmless EBADF
}

size_t PtyPair::write(const std::string& bytes, ms timeout)
{
    size_t written = 0;
    waitUntil(
        [&] {
            const ssize_t took
                = master_ < 0 ? 0 : ::write(master_, bytes.data() + written, bytes.size() - written);
            written += took > 0 ? size_t(took) : 0;
            return master_ < 0 || written == bytes.size() || (took < 0 && errno != EAGAIN && errno != EINTR);
        },
        timeout);
    return written;
}

std::string PtyPair::read(size_t count, ms timeout)
{
    std::string received;
    waitUntil([&] { return (received += readAvailable()).size() >= count || master_ < 0; }, timeout);
    return received;
}

std::string PtyPair::readAvailable()
{
    std::string received;
    char chunk[4096];
    for (ssize_t got;
         master_ >= 0 && ((got = ::read(master_, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR));)
        received.append(chunk, size_t(std::max<ssize_t>(got, 0)));
    return received;
}

bool PtyPair::waitUntil(const std::function<bool()>& condition, ms timeout)
{
    for (const auto deadline = Clock::now() + timeout; !condition();) {
        if (Clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string PtyPair::locksLeft() const
{
    int exclusive = 0;
    const bool flocked = flock(slave_, LOCK_EX | LOCK_NB) != 0 || flock(slave_, LOCK_UN) != 0;
    const std::string lockFile = "/run/lock/" + platform::lockFileName(slavePath_);
    return std::string(ioctl(slave_, TIOCGEXCL, &exclusive) != 0 || exclusive ? "TIOCEXCL " : "")
        + (flocked ? "flock " : "") + (access(lockFile.c_str(), F_OK) == 0 ? lockFile : "");
}
