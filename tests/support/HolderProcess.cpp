#include "HolderProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool take(int fd, HolderProcess::Way way)
{
    using Way = HolderProcess::Way;
    switch (way) {
    case Way::Flock:
        return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    case Way::Exclusive:
        return ::ioctl(fd, TIOCEXCL) == 0;
    case Way::Share:
        return true;
    case Way::ControllingTerminal:
        return ::ioctl(fd, TIOCSCTTY, 0) == 0;
    }
    return false;
}

} // namespace

HolderProcess::HolderProcess(const std::string& device, const passwd* becomeUser, Way way)
{
    int ready[2];
    int release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0)
        return;
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only system calls from here: the parent has threads.
        ::close(ready[0]);
        ::close(release[1]); // so that the parent's close ends the wait below
        if (way == Way::ControllingTerminal)
            ::setsid();
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        char held = fd >= 0 && take(fd, way) ? 1 : 0;
        if (held && becomeUser
            && (::setgroups(0, nullptr) != 0 || ::setgid(becomeUser->pw_gid) != 0
                || ::setuid(becomeUser->pw_uid) != 0))
            held = 0;
        if (::write(ready[1], &held, 1) != 1)
            ::_exit(1);
        char ignored;
        while (::read(release[0], &ignored, 1) > 0) { }
        if (way == Way::Exclusive) // the flag would outlive us while the test's own descriptor lives
            ::ioctl(fd, TIOCNXCL);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    pollfd entry { ready[0], POLLIN, 0 };
    char held = 0;
    if (::poll(&entry, 1, 10000) == 1 && ::read(ready[0], &held, 1) == 1)
        holding_ = held == 1;
    ::close(ready[0]);
}

void HolderProcess::release()
{
    if (release_ >= 0)
        ::close(release_);
    release_ = -1;
    if (pid_ > 0)
        ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    holding_ = false;
}
