#include "HolderProcess.h"

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

HolderProcess::HolderProcess(const std::string& device, Way way)
{
    int fd = -1; // the child's, used while start() runs there; only system calls in the child
    start(
        [&, path = device.c_str()] {
            ::setsid(); // a session of its own, whose terminal the device may become
            return (fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK)) >= 0
                && (way == Way::Share          ? 0
                           : way == Way::Flock ? ::flock(fd, LOCK_EX | LOCK_NB)
                                               : ::ioctl(fd, way == Way::Exclusive ? TIOCEXCL : TIOCSCTTY, 0))
                == 0;
        },
        // The exclusive flag would outlive us while the test's own descriptor lives.
        [&] { (void)(way == Way::Exclusive && ::ioctl(fd, TIOCNXCL)); });
}

void HolderProcess::start(const std::function<bool()>& take, const std::function<void()>& atEnd)
{
    int ready[2], release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0)
        return;
    std::fflush(nullptr);
    if ((pid_ = ::fork()) == 0) {
        ::close(release[1]); // so that the parent's close ends the wait below
        const char held = take() ? 1 : 0;
        for (char ignored; ::write(ready[1], &held, 1) == 1 && ::read(release[0], &ignored, 1) > 0;) { }
        if (atEnd)
            atEnd();
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    pollfd entry { ready[0], POLLIN, 0 };
    char held = 0;
    holding_ = ::poll(&entry, 1, 10000) == 1 && ::read(ready[0], &held, 1) == 1 && held == 1;
    ::close(ready[0]);
}

HolderProcess::~HolderProcess() // lets the child end by itself, and reaps it
{
    ::close(release_);
    if (pid_ > 0)
        ::waitpid(pid_, nullptr, 0);
}
