// Another process that holds a device until released: flock on it (optionally as another user), as
// picocom, tio or a second comtest do; TIOCEXCL alone, as some terminals do; an open without any
// lock (a logger sharing the line); a session's controlling terminal (a getty); or a take() of the
// test's own, run in the child.
#pragma once

#include <functional>
#include <pwd.h>
#include <string>

class HolderProcess {
public:
    enum class Way { Flock, Exclusive, Share, ControllingTerminal };
    explicit HolderProcess(
        const std::string& device, const passwd* becomeUser = nullptr, Way way = Way::Flock);
    explicit HolderProcess(const std::function<bool()>& take); // holding() is what it returned
    ~HolderProcess() { release(); }
    HolderProcess(const HolderProcess&) = delete;
    HolderProcess& operator=(const HolderProcess&) = delete;

    bool holding() const { return holding_; }
    pid_t pid() const { return pid_; }
    int release(); // lets the child end by itself and reaps it: its wait status
    void kill(); // ends it at once, leaving what it held as a dead process leaves it

private:
    void start(const std::function<bool()>& take, const std::function<void()>& atEnd);
    pid_t pid_ = -1;
    int release_ = -1;
    bool holding_ = false;
};
