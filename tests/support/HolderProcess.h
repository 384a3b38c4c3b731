// Another process that opens a device and holds flock on it, optionally as another user, until
// released or destroyed: a stand-in for picocom, tio or a second comtest holding the port. Other
// ways of having the device stand for other programs: TIOCEXCL alone (as some terminals do), an
// open without any lock (a logger sharing the line), or a session's controlling terminal (a getty).
#pragma once

#include <pwd.h>
#include <string>
#include <sys/types.h>

class HolderProcess {
public:
    enum class Way { Flock, Exclusive, Share, ControllingTerminal };

    explicit HolderProcess(
        const std::string& device, const passwd* becomeUser = nullptr, Way way = Way::Flock);
    ~HolderProcess() { release(); }
    HolderProcess(const HolderProcess&) = delete;
    HolderProcess& operator=(const HolderProcess&) = delete;

    bool holding() const { return holding_; }
    pid_t pid() const { return pid_; }
    void release();

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool holding_ = false;
};
