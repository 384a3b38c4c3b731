// Another process holding a device until released: by flock, TIOCEXCL, a plain open (a logger sharing
// the line), as its controlling terminal (a getty), or by a take() run in the child.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

class HolderProcess {
public:
    enum class Way { Flock, Exclusive, Share, ControllingTerminal };
    explicit HolderProcess(const std::string& device, Way way = Way::Flock);
    // holding() is what take returned.
    explicit HolderProcess(const std::function<bool()>& take) { start(take, {}); }
    ~HolderProcess();
    HolderProcess(HolderProcess&&) = delete;

    bool holding() const { return holding_; }
    pid_t pid() const { return pid_; }

private:
    void start(const std::function<bool()>& take, const std::function<void()>& atEnd);
    pid_t pid_ = -1, release_ = -1;
    bool holding_ = false;
};
