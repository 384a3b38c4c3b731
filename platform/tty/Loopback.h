// The built-in loop-back port: a pseudo-terminal pair whose far end echoes every byte.
//
// The echo runs on a thread of its own, so that it keeps draining while a write on the GUI thread
// blocks. A pty master polls as hung up for as long as no slave is open, so the thread keeps a
// slave descriptor of its own open (without flock or TIOCEXCL, so the port stays free for us) and
// sleeps in poll: idle, it costs no CPU. To the rest of the program its slave is an ordinary port.
#pragma once

#include <string>
#include <thread>

namespace platform {

class Loopback {
public:
    Loopback() = default;
    ~Loopback();
    Loopback(const Loopback&) = delete;
    Loopback& operator=(const Loopback&) = delete;

    // Creates the pty pair and starts echoing; false when no pty could be made.
    bool start();
    void stop();
    const std::string& devicePath() const { return path_; }

private:
    void run();

    int master_ = -1;
    int keepSlave_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::string path_;
    std::thread thread_;
};

} // namespace platform
