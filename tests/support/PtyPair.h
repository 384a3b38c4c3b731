// A pty pair: the slave is the serial port, the master the far end. The slave starts raw, and a slave
// descriptor of its own stays open without any lock (as socat does). No call waits past its deadline.
#pragma once

#include "platform/tty/LineBits.h"

#include <chrono>
#include <functional>
#include <string>
#include <unistd.h>
#include <utility>

class PtyPair {
public:
    using ms = std::chrono::milliseconds;
    PtyPair(); // fails the running test (and leaves ok() false) when no pty can be made
    ~PtyPair();
    PtyPair(PtyPair&&) = delete;

    bool ok() const { return master_ >= 0 || slave_ >= 0; }
    const std::string& slavePath() const { return slavePath_; } // e.g. "/dev/pts/7"
    int slaveFd() const { return slave_; }
    // The far end sends what the pty takes before the timeout, and receives until count bytes came.
    size_t write(const std::string& bytes, ms timeout = std::chrono::seconds(2));
    std::string read(size_t count, ms timeout = std::chrono::seconds(2));
    std::string readAvailable(); // without waiting
    void closeMaster() { close(std::exchange(master_, -1)); } // unplugs the cable: the slave is hung up
    // What a process left on the slave: "TIOCEXCL ", "flock ", its lock file's path; "" for nothing.
    std::string locksLeft() const;
    // Polls condition until it holds or the timeout passed; returns whether it held.
    static bool waitUntil(const std::function<bool()>& condition, ms timeout = std::chrono::seconds(2));

private:
    int master_ = -1, slave_ = -1;
    std::string slavePath_;
};
