// Watches the X server for top-level windows being mapped, so that a program's start-up can be
// timed to the moment its main window appears, with no help from the program itself.
//
// The watcher selects SubstructureNotify on the root window: with no window manager (Xvfb), a
// client's top-level window is a child of the root, and its MapNotify is the moment it is shown.
// Events are stamped when they are read, before any further round trip to the server.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

struct xcb_connection_t;

class MapWatcher {
public:
    using Clock = std::chrono::steady_clock;

    struct Mapped {
        uint32_t window = 0; // 0 when nothing matched before the deadline
        Clock::time_point when;
    };

    // Connects to $DISPLAY; connected() tells whether that worked.
    MapWatcher();
    ~MapWatcher();
    MapWatcher(const MapWatcher&) = delete;
    MapWatcher& operator=(const MapWatcher&) = delete;

    bool connected() const { return connection_ != nullptr; }

    // Drops the events that arrived so far (maps of earlier runs).
    void discardPending();

    // Waits until a window whose title contains `title` is mapped, the deadline passes, or
    // keepWaiting() returns false (it is asked a few times a second).
    Mapped waitForMap(
        const std::string& title, Clock::time_point deadline, const std::function<bool()>& keepWaiting);

    // The inside size of a window, "WxH".
    std::string sizeOf(uint32_t window);

private:
    std::string titleOf(uint32_t window);
    uint32_t atom(const char* name);

    xcb_connection_t* connection_ = nullptr;
    uint32_t root_ = 0;
    uint32_t netWmName_ = 0;
    uint32_t utf8String_ = 0;
};
