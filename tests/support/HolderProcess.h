// Another process that opens a device and holds flock on it, optionally as another user, until
// released or destroyed: a stand-in for picocom, tio or a second comtest holding the port.
#pragma once

#include <pwd.h>
#include <string>
#include <sys/types.h>

class HolderProcess {
public:
    explicit HolderProcess(const std::string& device, const passwd* becomeUser = nullptr);
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
