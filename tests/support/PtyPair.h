// A pseudo-terminal pair for tests: the slave stands for the serial port the program opens, the
// master for the device at the far end of the cable.
//
// The slave starts raw (no echo, no line editing), as a line that a previous user left so, and
// the pair keeps its own slave descriptor open without any lock, as socat keeps its end of a pty:
// that does not hold the port, and the pty lives on while the program closes and reopens it.
// Every call waits against a deadline; none blocks for ever.
#pragma once

#include "platform/tty/LineBits.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class PtyPair {
public:
    // Fails the running test (and leaves ok() false) when no pty can be made.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 || slave_ >= 0; }

    // The device path to open as the port, e.g. "/dev/pts/7".
    const std::string& slavePath() const { return slavePath_; }
    // The far end's descriptor (non-blocking); -1 after closeMaster().
    int masterFd() const { return master_; }
    // The pair's own unlocked slave descriptor.
    int slaveFd() const { return slave_; }

    // Far end sends: returns how many bytes the pty took before the timeout.
    size_t write(const std::string& bytes, std::chrono::milliseconds timeout = std::chrono::seconds(2));
    size_t write(
        const uint8_t* bytes, size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(2));

    // Far end receives: waits until count bytes arrived or the timeout passed; returns what arrived.
    std::string read(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(2));
    // Whatever the far end has received now, without waiting.
    std::string readAvailable();

    // Unplugs the cable: closes the master, so the slave is hung up.
    void closeMaster();

    // The slave's settings as the driver holds them (any speed, via termios2); false if unreadable.
    bool slaveLine(platform::LineBits& out) const;

    // Polls condition until it holds or the timeout passed; returns whether it held.
    static bool waitUntil(
        const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(2));

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};
