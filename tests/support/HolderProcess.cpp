#include "HolderProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

HolderProcess::HolderProcess(const std::string& device, const passwd* becomeUser)
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
        char held = 0;
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            held = 1;
        if (held && becomeUser
            && (::setgroups(0, nullptr) != 0 || ::setgid(becomeUser->pw_gid) != 0
                || ::setuid(becomeUser->pw_uid) != 0))
            held = 0;
        if (::write(ready[1], &held, 1) != 1)
            ::_exit(1);
        char ignored;
        while (::read(release[0], &ignored, 1) > 0) { }
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
